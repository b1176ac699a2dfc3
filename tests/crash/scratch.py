"""A private CUPS scheduler and scratch configuration directories for the
crash-state exploration: the tool runs with ZORV_CONF in a temporary
directory and CUPS_SERVER at the scheduler's own socket."""

import os
import shutil
import subprocess
import tempfile
import time

from trace_model import STRACE

BACKENDS = ("usb", "zorv")
LINKED_BIN_DIRS = ("daemon", "filter", "notifier", "cgi-bin", "driver", "monitor")
QUEUES = ("Q1", "Q2", "Q3", "Q4")


def read_files(directory):
    """name -> ((device, inode), content) of the regular files in directory."""
    files = {}
    for name in os.listdir(directory):
        path = os.path.join(directory, name)
        info = os.lstat(path)
        with open(path, "rb") as f:
            files[name] = ((info.st_dev, info.st_ino), f.read())
    return files


class Scratch:
    def __init__(self, binary, root):
        self.binary = binary
        self.root = root
        self.cups = os.path.join(root, "cups")
        self.socket = os.path.join(self.cups, "cups.sock")
        self.cupsd = None
        self.base = None

    def __enter__(self):
        self._start_scheduler()
        for queue in QUEUES:
            self._client(["lpadmin", "-p", queue, "-v", "zorv:/var/run/zorv/%s.fifo" % queue, "-E"])
        self._make_base()
        return self

    def __exit__(self, *exc):
        if self.cupsd:
            self.cupsd.terminate()
            self.cupsd.wait()

    def _client(self, command):
        result = subprocess.run(command, env=self._env(None), capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            raise SystemExit("%s failed: %s" % (" ".join(command), result.stderr))

    def _start_scheduler(self):
        for sub in ("bin/backend", "cache", "state", "spool", "tmp", "log"):
            os.makedirs(os.path.join(self.cups, sub))
        os.chmod(self.cups, 0o755)
        for backend in BACKENDS:
            path = os.path.join(self.cups, "bin/backend", backend)
            with open(path, "w") as f:
                f.write("#!/bin/sh\nexit 0\n")
            os.chmod(path, 0o755)
        for sub in LINKED_BIN_DIRS:
            if os.path.exists("/usr/lib/cups/" + sub):
                os.symlink("/usr/lib/cups/" + sub, os.path.join(self.cups, "bin", sub))
        with open(os.path.join(self.cups, "cupsd.conf"), "w") as f:
            f.write("Listen %s\nDirtyCleanInterval 0\nBrowsing No\nWebInterface No\nLogLevel warn\n"
                    "<Location />\nOrder allow,deny\nAllow all\n</Location>\n" % self.socket)
        c = self.cups
        with open(os.path.join(c, "cups-files.conf"), "w") as f:
            f.write("ServerRoot {c}\nServerBin {c}/bin\nCacheDir {c}/cache\nStateDir {c}/state\n"
                    "RequestRoot {c}/spool\nTempDir {c}/tmp\nErrorLog {c}/log/error_log\n"
                    "AccessLog {c}/log/access_log\nPageLog {c}/log/page_log\nSystemGroup root\n"
                    "FileDevice Yes\n".format(c=c))
        self.cupsd = subprocess.Popen(["cupsd", "-f", "-c", os.path.join(c, "cupsd.conf"), "-s",
                                       os.path.join(c, "cups-files.conf")], stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(self.socket) and subprocess.run(
                    ["lpstat", "-r"], env=self._env(None), capture_output=True).returncode == 0:
                return
            time.sleep(0.1)
        raise SystemExit("cupsd did not start; see %s/log/error_log" % c)

    def _env(self, directory):
        # LeakSanitizer cannot work under ptrace, and the changes are traced.
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "CUPS_SERVER": self.socket, "LC_ALL": "C",
               "ASAN_OPTIONS": "detect_leaks=0"}
        if directory:
            env["ZORV_CONF"] = os.path.join(directory, "zorv.conf")
        return env

    def run(self, directory, args, wrapper=()):
        return subprocess.run(list(wrapper) + [self.binary] + args, env=self._env(directory), cwd=directory,
                              capture_output=True, text=True, errors="replace", timeout=120)

    def traced(self, directory, args, command=None):
        """Runs the tool with args (or command) under strace; (the log, the run's result)."""
        log = os.path.join(self.root, "trace.log")
        if command:
            result = subprocess.run(STRACE + ["-o", log] + command, capture_output=True, text=True, timeout=120)
        else:
            result = self.run(directory, args, STRACE + ["-o", log])
        with open(log, encoding="latin1") as f:
            text = f.read()
        os.unlink(log)
        return text, result

    def _new_dir(self):
        return tempfile.mkdtemp(prefix="state.", dir=self.root)

    def _make_base(self):
        """A configuration with two entries (Q1, Q4) and the file before the second as the backup."""
        self.base = self._new_dir()
        with open(os.path.join(self.base, "zorv.conf"), "w") as f:
            f.write("#\n# Scratch configuration\n#\n\n<Path>\n# CUPS configuration files Path\n"
                    "CUPS_ConfigPath   %s/\n\n# LOG Directory Path\n#LogDirectoryPath /var/log/ZORV/\n\n"
                    "</Path>\n\n# Printer entries\n\n<Ports>\n# Status Monitor API socket port\n"
                    "UI_Port  59787\n</Ports>\n" % self.cups)
        for args in (["-p", "Q1", "-o", "/dev/usb/lp1"], ["-p", "Q4", "-o", "/dev/usb/lp4"]):
            result = self.run(self.base, args)
            if result.returncode != 0:
                break
        if result.returncode != 0 or set(os.listdir(self.base)) != {"zorv.conf", "zorv.conf.bak", "zorv.conf.lock"}:
            raise SystemExit("cannot make the scratch configuration: %s %s" % (result.stderr, os.listdir(self.base)))

    def fresh_base(self):
        """A copy of the base directory and its files as read_files gives them."""
        directory = self._new_dir()
        for name, (_, content) in read_files(self.base).items():
            with open(os.path.join(directory, name), "wb") as f:
                f.write(content)
            os.chmod(os.path.join(directory, name), 0o644)
        return directory, read_files(directory)

    def materialise(self, state):
        """A directory holding state: (name, link group, content) tuples."""
        directory = self._new_dir()
        first = {}
        for name, group, content in state:
            path = os.path.join(directory, name)
            if group in first:
                os.link(first[group], path)
                continue
            with open(path, "wb") as f:
                f.write(content)
            os.chmod(path, 0o644)
            first[group] = path
        return directory

    def next_change_of(self, config):
        """The configuration that the next change makes of config."""
        directory = self._new_dir()
        with open(os.path.join(directory, "zorv.conf"), "wb") as f:
            f.write(config)
        result = self.run(directory, NEXT_CHANGE_ARGS)
        with open(os.path.join(directory, "zorv.conf"), "rb") as f:
            content = f.read()
        shutil.rmtree(directory)
        if result.returncode != 0:
            raise SystemExit("the next change fails on a clean copy: %s" % result.stderr)
        return content


NEXT_CHANGE_ARGS = ["-p", "Q3", "-o", "/dev/usb/lp9"]
