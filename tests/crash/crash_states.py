#!/usr/bin/env python3
"""Crash states of a change, through the real binary.

Each change (-x, -p add and modify, --set, --restore) runs once under strace
on a scratch configuration; its file operations are replayed into every
state a crash could leave under the ordered, delayed-allocation and weak
persistence models (persistence.py). In each state the next runs of the tool
(a listing, then a further -p) must find the old or the new configuration
byte for byte, a backup that is a complete earlier configuration, and leave
no new file behind. The sequence without sync() (unnamed_sequence.py) is
explored the same way, and three copies of it, each without one of its
barriers, must each give the bad state that barrier prevents.

  crash_states.py ZORVADMIN [--tolerate leftover,early-backup]

--tolerate reports those findings without failing on them: "leftover", a
file of a crashed run that the next change leaves; "early-backup", the backup
replaced while the configuration is still the old one."""

import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # nothing written into the source tree

from persistence import SUBSET_CAP, describe, states  # noqa: E402
from scratch import NEXT_CHANGE_ARGS as NEXT_CHANGE, Scratch, read_files  # noqa: E402
from trace_model import BARRIERS, record  # noqa: E402

MODELS = ("ordered", "delalloc", "weak")
CHANGES = [("-x", ["-x", "Q1"]), ("-p add", ["-p", "Q2", "-o", "/dev/usb/lp2"]),
           ("-p modify", ["-p", "Q1", "-o", "/dev/usb/lp5"]), ("--set", ["--set", "UI_Port", "59790"]),
           ("--restore", ["--restore"])]
KEPT = {"zorv.conf", "zorv.conf.bak", "zorv.conf.lock"}


def one_line(text):
    return " | ".join(line for line in text.splitlines() if line)


def what(content, known):
    if content is None:
        return "missing"
    if not content:
        return "empty"
    for label, text in known.items():
        if content == text:
            return label
    if not content.strip(b"\0"):
        return "%d zero bytes" % len(content)
    return "%d bytes of neither" % len(content)


class Case:
    """One recorded change and the verdicts on the states it can leave."""

    def __init__(self, scratch, args, unnamed=False):
        self.scratch = scratch
        command = None
        if unnamed:
            directory, _ = scratch.fresh_base()
            scratch.run(directory, args)
            new_file = os.path.join(scratch.root, "new")
            shutil.copyfile(os.path.join(directory, "zorv.conf"), new_file)
            shutil.rmtree(directory)
        directory, self.initial_files = scratch.fresh_base()
        if unnamed:
            command = [sys.executable, os.path.join(HERE, "unnamed_sequence.py"), directory, new_file]
        log, result = scratch.traced(directory, args, command)
        if result.returncode != 0:
            raise SystemExit("the change %s failed: %s" % (args, result.stderr))
        self.ops, self.inodes, self.before = record(log, directory, self.initial_files)
        files = read_files(directory)
        self.old_bak = self.initial_files["zorv.conf.bak"][1]
        self.old = self.initial_files["zorv.conf"][1]
        self.new = files["zorv.conf"][1]
        self.known = {"old": self.old, "new": self.new, "the backup before": self.old_bak}
        self.after_next = {c: scratch.next_change_of(c) for c in (self.old, self.new)}
        self.verdicts = {}
        shutil.rmtree(directory)

    def check(self, state):
        if state not in self.verdicts:
            self.verdicts[state] = self._check(state)
        return self.verdicts[state]

    def _check(self, state):
        directory = self.scratch.materialise(state)
        try:
            return self._check_in(directory)
        finally:
            shutil.rmtree(directory)

    def _check_in(self, directory):
        found = []
        listing = self.scratch.run(directory, [])
        if listing.returncode != 0:
            found.append(("error", "the listing exited %d: %s" % (listing.returncode, one_line(listing.stderr))))
        files = {name: content for name, (_, content) in read_files(directory).items()}
        config, backup = files.get("zorv.conf"), files.get("zorv.conf.bak")
        if config not in (self.old, self.new):
            found.append(("error", "the configuration is %s" % what(config, self.known)))
        if backup not in (self.old_bak, self.old):
            found.append(("error", "the backup is %s" % what(backup, self.known)))
        elif config == self.old and backup == self.old != self.old_bak:
            found.append(("early-backup", "the backup is already the old configuration"))
        if config == self.new and self.old not in (backup, files.get("zorv.conf.bak~")):
            found.append(("error", "the old configuration is lost: the backup is %s" % what(backup, self.known)))
        change = self.scratch.run(directory, NEXT_CHANGE)
        if change.returncode != 0:
            found.append(("error", "the next change exited %d: %s" % (change.returncode, one_line(change.stderr))))
            return found
        after = {name: content for name, (_, content) in read_files(directory).items()}
        if config in self.after_next and after.get("zorv.conf") != self.after_next[config]:
            found.append(("error", "after the next change the configuration is not that change of %s"
                          % what(config, self.known)))
        if after.get("zorv.conf.bak") != config:
            found.append(("error", "after the next change the backup is %s, not the configuration it replaced"
                          % what(after.get("zorv.conf.bak"), self.known)))
        for name in sorted(set(after) - KEPT):
            kind = "leftover" if name.startswith(("zorv.conf~", "zorv.conf.bak~")) else "error"
            found.append((kind, "after the next change %s is left" % name))
        return found


def explore(case, ops, model, capped):
    """(number of distinct states, {label: problems} of the bad ones) of one model."""
    found = states(model, ops, case.inodes, case.before, capped)
    bad = {label: case.check(state) for state, label in found.items()}
    return len(found), {label: problems for label, problems in bad.items() if problems}


def drop_barriers(ops, keep):
    kept = [op for i, op in enumerate(ops) if keep(i, op)]
    return kept if len(kept) < len(ops) else None


def backup_link_to_rename(ops):
    """Without the barriers between the backup's link and the rename over the configuration."""
    rename = next((i for i, op in enumerate(ops) if op[0] == "rename" and op[2] == "zorv.conf"), 0)
    link = max((i for i, op in enumerate(ops[:rename]) if op[0] == "link" and op[2] == "zorv.conf.bak~"), default=0)
    return drop_barriers(ops, lambda i, op: not (link < i < rename and op[0] in BARRIERS))


def rename_to_backup_rename(ops):
    """Without the barriers between the rename over the configuration and the backup's rename."""
    rename = next((i for i, op in enumerate(ops) if op[0] == "rename" and op[2] == "zorv.conf"), len(ops))
    backup = next((i for i, op in enumerate(ops) if op[0] == "rename" and op[2] == "zorv.conf.bak"), 0)
    return drop_barriers(ops, lambda i, op: not (rename < i < backup and op[0] in BARRIERS))


def no_data_sync(ops):
    """Without any fsync of a file's data, nor sync."""
    return drop_barriers(ops, lambda i, op: op[0] not in ("fsync", "sync"))


# A broken sequence, the model that must find it, the finding it must give.
SELF_CHECKS = [("no directory sync between backup link and rename", backup_link_to_rename, "weak", "error"),
               ("no directory sync between the two renames", rename_to_backup_rename, "weak", "early-backup"),
               ("no data sync", no_data_sync, "delalloc", "error")]


def report_row(name, bad, tolerated, ops, failures):
    failing = {label: [p for p in problems if p[0] not in tolerated] for label, problems in bad.items()}
    failing = {label: problems for label, problems in failing.items() if problems}
    print("%s %s, %d bad%s" % ("FAIL" if failing else "PASS", name, len(failing),
                               ", %d with tolerated findings only" % (len(bad) - len(failing)) if bad else ""))
    for label, problems in sorted(bad.items()):
        for kind, text in problems:
            print("    %s %s: %s" % ("tolerated %s," % kind if kind in tolerated else "BAD", label, text))
    if failing:
        print("    operations: " + "; ".join("%d %s" % (i, describe(op)) for i, op in enumerate(ops)))
        failures.append(name)
    return not failing


def explore_case(name, case, tolerated, failures):
    print("%s: %d operations: %s" % (name, len(case.ops), "; ".join(describe(op) for op in case.ops)))
    passed = 0
    for model in MODELS:
        capped = []
        count, bad = explore(case, case.ops, model, capped)
        if capped:
            print("    subsets capped at %d in the windows before operations %s" % (SUBSET_CAP, capped))
        passed += report_row("%s / %s: %d states" % (name, model, count), bad, tolerated, case.ops, failures)
    return passed


def self_check(name, case, mutate, model, kind, failures):
    """A broken sequence must give at least one state with the finding it breaks."""
    ops = mutate(case.ops)
    count, bad = explore(case, ops, model, []) if ops else (0, {})
    caught = any(found == kind for problems in bad.values() for found, _ in problems)
    print("%s self-check, %s, %s model: %d of %d states bad%s" % (
        "PASS" if caught else "FAIL", name, model, len(bad), count, "" if caught else ", none " + kind))
    for label, problems in sorted(bad.items()):
        for found, text in problems:
            print("    %s %s: %s" % (found, label, text))
    if not caught:
        failures.append(name)
    return caught


def main(argv):
    binary = os.path.abspath(argv[1])
    tolerated = set(argv[argv.index("--tolerate") + 1].split(",")) if "--tolerate" in argv else set()
    passed, failures = 0, []
    print("weak model: at most %d subsets per window between barriers" % SUBSET_CAP)
    with tempfile.TemporaryDirectory(prefix="zorvcrash.") as root, Scratch(binary, root) as scratch:
        for name, args in CHANGES:
            passed += explore_case(name, Case(scratch, args), tolerated, failures)
        # The sequence without sync(), made by a stand-in, recorded and replayed the same way.
        unnamed = Case(scratch, dict(CHANGES)["-p add"], unnamed=True)
        passed += explore_case("-p add, unnamed sequence", unnamed, tolerated, failures)
        for name, mutate, model, kind in SELF_CHECKS:
            passed += self_check(name, unnamed, mutate, model, kind, failures)
    print("%d passed, %d failed" % (passed, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
