"""The file-system operations one traced run made in one directory, read from
an strace log (-f -y -xx), as data that can be replayed: names bound to
inodes, bytes written at offsets, and the barriers (fsync of a file or of the
directory, sync) that make them durable."""

import os
import re

from strace_log import STRACE, Unsupported, calls, unhex, value  # noqa: F401 (STRACE for the runner)

DIR_OPS = ("create", "link", "rename", "unlink")
DATA_OPS = ("write", "truncate")
BARRIERS = ("fsync", "fsyncdir", "sync")


class Recorder:
    """Turns calls into operations on the directory. Inodes are numbered in
    the order they appear; the ones present before the run come first."""

    def __init__(self, directory, initial):
        self.dir = directory
        self.names = {}     # name -> inode, as the run goes
        self.initial = {}   # inode -> content before the run
        self.fds = {}       # (pid, fd) -> [target, position]; target: inode or "dir"
        self.tmp_by_kernel = {}
        self.ops = []
        self.next_inode = 0
        for name, (key, content) in sorted(initial.items()):
            found = [n for n, (k, _) in initial.items() if k == key and n in self.names]
            self.names[name] = self.names[found[0]] if found else self._new_inode(content)

    def _new_inode(self, content=b""):
        self.next_inode += 1
        self.initial[self.next_inode] = content
        return self.next_inode

    def _path(self, base, path):
        path = path.decode("latin1") if isinstance(path, bytes) else path
        if not path.startswith("/"):
            path = os.path.join(base[2] if isinstance(base, tuple) else os.getcwd(), path)
        return os.path.normpath(path)

    def _name_in_dir(self, path):
        return os.path.basename(path) if os.path.dirname(path) == self.dir else None

    def _target(self, pid, fd):
        slot = self.fds.get((pid, fd[1]))
        if slot:
            return slot
        if fd[2] == self.dir:
            return ["dir", 0]
        name = self._name_in_dir(fd[2])
        if name is not None and name.startswith("#") and name in self.tmp_by_kernel:
            return [self.tmp_by_kernel[name], 0]
        if name in self.names:
            return [self.names[name], 0]
        return None

    def feed(self, pid, name, args, result):
        if result.startswith("-1") or result.startswith("?"):
            return  # failed calls change nothing
        handler = getattr(self, "_" + name, None)
        if handler:
            handler(pid, args, result)

    def _emit(self, *op):
        self.ops.append(op)

    # Opening and descriptors.
    def _open_common(self, pid, base, path, flags, result):
        fd = value(result.split(" ")[0])
        if not isinstance(fd, tuple):
            return
        if "O_TMPFILE" in flags:
            if self._path(base, path) != self.dir:
                return
            inode = self._new_inode()
            self.tmp_by_kernel[os.path.basename(fd[2])] = inode
            self.fds[(pid, fd[1])] = [inode, 0]
            self._emit("tmpfile", inode)
            return
        real = fd[2]
        if real == self.dir:
            self.fds[(pid, fd[1])] = ["dir", 0]
            return
        entry = self._name_in_dir(real)
        if entry is None:
            self.fds.pop((pid, fd[1]), None)
            return
        if entry not in self.names:
            if "O_CREAT" not in flags:
                raise Unsupported("open of %s that the replay never saw made" % real)
            self.names[entry] = self._new_inode()
            self._emit("create", entry, self.names[entry])
        elif "O_TRUNC" in flags:
            self._emit("truncate", self.names[entry], 0)
        self.fds[(pid, fd[1])] = [self.names[entry], 0]

    def _open(self, pid, args, result):
        self._open_common(pid, None, args[0], args[1], result)

    def _openat(self, pid, args, result):
        self._open_common(pid, args[0], args[1], args[2], result)

    def _creat(self, pid, args, result):
        self._open_common(pid, None, args[0], "O_CREAT|O_TRUNC", result)

    def _openat2(self, pid, args, result):
        raise Unsupported("openat2")

    def _close(self, pid, args, result):
        self.fds.pop((pid, args[0][1]), None)

    def _dup_to(self, pid, old, new_fd):
        slot = self.fds.get((pid, old[1]))
        if slot:
            self.fds[(pid, new_fd)] = slot  # one open file: one position

    def _dup(self, pid, args, result):
        self._dup_to(pid, args[0], result.split("<")[0])

    _dup2 = _dup3 = _dup

    def _fcntl(self, pid, args, result):
        if args[1].startswith("F_DUPFD"):
            self._dup(pid, args, result)

    # Data.
    def _data_target(self, pid, fd):
        slot = self._target(pid, fd)
        if slot is None or slot[0] == "dir":
            return None
        return slot

    def _write_at(self, pid, fd, data, result, offset=None):
        slot = self._data_target(pid, fd)
        count = int(result.split(" ")[0])
        if slot is None:
            return
        at = slot[1] if offset is None else offset
        self._emit("write", slot[0], at, bytes(data[:count]))
        if offset is None:
            slot[1] = at + count

    def _write(self, pid, args, result):
        self._write_at(pid, args[0], args[1], result)

    def _pwrite64(self, pid, args, result):
        self._write_at(pid, args[0], args[1], result, int(args[3]))

    def _iov(self, arg):
        return b"".join(unhex(m) for m in re.findall(r'iov_base="((?:\\x[0-9a-f]{2})*)"', arg))

    def _writev(self, pid, args, result):
        self._write_at(pid, args[0], self._iov(args[1]), result)

    def _pwritev(self, pid, args, result):
        self._write_at(pid, args[0], self._iov(args[1]), result, int(args[3]))

    _pwritev2 = _pwritev

    def _read(self, pid, args, result):
        slot = self._data_target(pid, args[0])
        if slot is not None:
            slot[1] += int(result.split(" ")[0])

    _readv = _read

    def _lseek(self, pid, args, result):
        slot = self._data_target(pid, args[0])
        if slot is not None:
            slot[1] = int(result.split(" ")[0])

    def _ftruncate(self, pid, args, result):
        slot = self._data_target(pid, args[0])
        if slot is not None:
            self._emit("truncate", slot[0], int(args[1]))

    def _refuse_in_dir(self, pid, args, result):
        for arg in args:
            if isinstance(arg, tuple) and self._data_target(pid, arg) is not None:
                raise Unsupported("a call the replay does not model on a file of the directory")

    _fallocate = _copy_file_range = _sendfile = _refuse_in_dir

    def _truncate(self, pid, args, result):
        entry = self._name_in_dir(self._path(None, args[0]))
        if entry in self.names:
            self._emit("truncate", self.names[entry], int(args[1]))

    # Barriers.
    def _fsync(self, pid, args, result):
        slot = self._target(pid, args[0])
        if slot is not None:
            self._emit(*(("fsyncdir",) if slot[0] == "dir" else ("fsync", slot[0])))

    _fdatasync = _fsync

    def _sync(self, pid, args, result):
        self._emit("sync")

    _syncfs = _sync

    # Names.
    def _link_common(self, pid, obase, old, nbase, new, flags):
        entry = self._name_in_dir(self._path(nbase, new))
        if entry is None:
            return
        old_text = old.decode("latin1")
        proc = re.match(r"^/proc/(self|\d+)/fd/(\d+)$", old_text)
        if proc:
            owner = pid if proc.group(1) == "self" else int(proc.group(1))
            slot = self._data_target(owner, ("fd", proc.group(2), "", False))
        elif old_text == "" and "AT_EMPTY_PATH" in flags:
            slot = self._data_target(pid, obase)
        else:
            source = self._name_in_dir(self._path(obase, old))
            slot = [self.names[source], 0] if source in self.names else None
        if slot is None:
            raise Unsupported("a link into the directory from a file the replay does not know")
        self.names[entry] = slot[0]
        self._emit("link", slot[0], entry)

    def _link(self, pid, args, result):
        self._link_common(pid, None, args[0], None, args[1], "")

    def _linkat(self, pid, args, result):
        self._link_common(pid, args[0], args[1], args[2], args[3], args[4])

    def _rename_common(self, src_path, dst_path, flags):
        src, dst = self._name_in_dir(src_path), self._name_in_dir(dst_path)
        if src is None and dst is None:
            return
        if src is None or dst is None or "RENAME_EXCHANGE" in flags or src not in self.names:
            raise Unsupported("a rename the replay does not model: %s -> %s" % (src_path, dst_path))
        inode = self.names.pop(src)
        self.names[dst] = inode
        self._emit("rename", src, dst, inode)

    def _rename(self, pid, args, result):
        self._rename_common(self._path(None, args[0]), self._path(None, args[1]), "")

    def _renameat(self, pid, args, result):
        self._rename_common(self._path(args[0], args[1]), self._path(args[2], args[3]), "")

    def _renameat2(self, pid, args, result):
        self._rename_common(self._path(args[0], args[1]), self._path(args[2], args[3]), args[4])

    def _unlink_common(self, path):
        entry = self._name_in_dir(path)
        if entry is not None and entry in self.names:
            self._emit("unlink", entry, self.names.pop(entry))

    def _unlink(self, pid, args, result):
        self._unlink_common(self._path(None, args[0]))

    def _unlinkat(self, pid, args, result):
        self._unlink_common(self._path(args[0], args[1]))

    def _mkdir(self, pid, args, result):
        if self._name_in_dir(self._path(None, args[0])) is not None:
            raise Unsupported("a directory made in the directory")

    def _mkdirat(self, pid, args, result):
        self._mkdir(pid, [self._path(args[0], args[1])], result)

    def _symlink(self, pid, args, result):
        if self._name_in_dir(self._path(None, args[-1])) is not None:
            raise Unsupported("a symbolic link made in the directory")

    def _symlinkat(self, pid, args, result):
        self._symlink(pid, [self._path(args[1], args[2])], result)


def record(log_text, directory, initial):
    """initial: name -> (inode key, content) before the run. Returns
    (ops, inode -> initial content, name -> inode before the run)."""
    recorder = Recorder(directory, initial)
    before = dict(recorder.names)
    for call in calls(log_text):
        recorder.feed(*call)
    return recorder.ops, recorder.initial, before
