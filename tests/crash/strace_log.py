"""Reads an strace log (-f -y -xx) into calls: pid, name, arguments
(bytes for strings, ("fd", number, path, deleted) for descriptors, text
for the rest) and result."""

import re


class Unsupported(Exception):
    """A call in the directory that the replay cannot model: fail loudly rather than guess."""


# What strace must record for a replay.
TRACED = ("open,openat,creat,?openat2,close,dup,dup2,dup3,fcntl,read,readv,lseek,write,writev,pwrite64,"
          "pwritev,?pwritev2,ftruncate,truncate,fallocate,fsync,fdatasync,sync,syncfs,link,linkat,rename,"
          "renameat,?renameat2,unlink,unlinkat,mkdir,mkdirat,symlink,symlinkat,copy_file_range,sendfile")
STRACE = ["strace", "-f", "-y", "-qq", "-xx", "-s", "16777216", "-e", "trace=" + TRACED]


def unhex(text):
    return re.sub(rb"\\x([0-9a-f]{2})", lambda m: bytes([int(m.group(1), 16)]), text.encode("latin1"))


def _split_args(text):
    args, depth, start = [], 0, 0
    for i, c in enumerate(text):
        if c in "[{(":
            depth += 1
        elif c in "]})":
            depth -= 1
        elif c == "," and depth == 0:
            args.append(text[start:i].strip())
            start = i + 1
    if text[start:].strip():
        args.append(text[start:].strip())
    return args


_FD = re.compile(r"^(-?\d+|AT_FDCWD)<([^>]*)>(\(deleted\))?$")
_STR = re.compile(r'^"((?:\\x[0-9a-f]{2})*)"(\.\.\.)?$')
_CALL = re.compile(r"^(\d+) +(\w+)\((.*)\) += (.*)$")


def value(arg):
    m = _FD.match(arg)
    if m:
        return ("fd", m.group(1), unhex(m.group(2)).decode("latin1"), bool(m.group(3)))
    m = _STR.match(arg)
    if m:
        if m.group(2):
            raise Unsupported("a string strace cut short")
        return unhex(m.group(1))
    return arg


def calls(log_text):
    """(pid, name, args, result) for every finished call, resumed calls joined."""
    pending = {}
    for line in log_text.splitlines():
        pid, _, rest = line.partition(" ")
        rest = rest.lstrip()
        if rest.endswith("<unfinished ...>"):
            pending[pid] = rest[: -len("<unfinished ...>")].rstrip()
            continue
        m = re.match(r"^<\.\.\. \w+ resumed>(.*)$", rest)
        if m:
            rest = pending.pop(pid, "") + m.group(1)
        m = _CALL.match(pid + " " + rest)
        if m:
            yield int(m.group(1)), m.group(2), [value(a) for a in _split_args(m.group(3))], m.group(4)
