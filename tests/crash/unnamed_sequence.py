#!/usr/bin/env python3
"""Replaces DIR/zorv.conf with the content of NEW_FILE the way a change
without sync() does: the new file unnamed (O_TMPFILE) and synced once, the
backup's second name, a directory sync, the new file linked and renamed
over the configuration, a directory sync, the backup renamed into place.
The exploration records it like the tool, to tell the sequence itself from
the code that makes it.

  unnamed_sequence.py DIR NEW_FILE"""

import ctypes
import os
import sys

AT_FDCWD = -100
AT_SYMLINK_FOLLOW = 0x400


def main(directory, new_file):
    conf = os.path.join(directory, "zorv.conf")
    with open(new_file, "rb") as f:
        content = f.read()
    fd = os.open(directory, os.O_TMPFILE | os.O_RDWR, 0o644)
    os.write(fd, content)
    os.fsync(fd)
    os.link(conf, conf + ".bak~")
    dir_fd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    os.fsync(dir_fd)
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.linkat(AT_FDCWD, ("/proc/self/fd/%d" % fd).encode(), AT_FDCWD, (conf + "~").encode(),
                   AT_SYMLINK_FOLLOW) != 0:
        raise OSError(ctypes.get_errno(), "linkat")
    os.rename(conf + "~", conf)
    os.fsync(dir_fd)
    os.rename(conf + ".bak~", conf + ".bak")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
