# -*- coding: utf-8 -*-
# SPDX-License-Identifier: Apache-2.0
"""Runs zorvadmin for the zorv.admin modules and reads its answers."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

WARNING_PREFIX = 'zorvadmin: warning: '
UNREACHABLE_PREFIX = 'zorvadmin: cannot reach the CUPS scheduler'
UNKNOWN_QUEUE_TEXT = "can't find in CUPS Spooler Entry"

# Exit statuses of zorvadmin; 4 is what releases after 1.1 return when the
# scheduler cannot be asked (1.1 says so on stderr and returns 2).
REASONS = {1: 'not-root', 2: 'refused', 3: 'file-error', 4: 'scheduler-unreachable'}


class Zorvadmin(object):
    """Runs the command on the configuration the task names."""

    def __init__(self, module, command, path):
        self.module = module
        self.command = command
        self.path = path
        self.warned = set()

    def run(self, args, path=None):
        """Runs the command; its warnings become the task's warnings."""
        cmd = [self.command] + args
        rc, out, err = self.module.run_command(cmd, environ_update={'ZORV_CONF': path or self.path})
        for line in err.splitlines():
            # A dry run and the real run warn alike; once is enough.
            if line.startswith(WARNING_PREFIX) and line not in self.warned:
                self.warned.add(line)
                self.module.warn('zorvadmin: ' + line[len(WARNING_PREFIX):])
        return cmd, rc, out, err

    def fail(self, cmd, rc, out, err, msg=None):
        reason = failure_reason(rc, out, err)
        self.module.fail_json(msg=msg or failure_message(rc, out, err, reason), reason=reason,
                              rc=rc, cmd=cmd, stdout=out, stderr=err)

    def checked(self, args, path=None):
        cmd, rc, out, err = self.run(args, path)
        if rc != 0:
            self.fail(cmd, rc, out, err)
        return out


def failure_reason(rc, out, err):
    """What went wrong, as one word a playbook can test."""
    if rc == 2 and any(line.startswith(UNREACHABLE_PREFIX) for line in err.splitlines()):
        return 'scheduler-unreachable'
    if rc == 2 and UNKNOWN_QUEUE_TEXT in out:
        return 'unknown-queue'
    return REASONS.get(rc, 'failed')


def failure_message(rc, out, err, reason):
    """The cause first: stderr says why; stdout (the unknown-queue line)
    says what followed from it, which for an unreachable scheduler is
    misleading and left out."""
    causes = [line.strip() for line in err.splitlines() if line.strip() and not line.startswith(WARNING_PREFIX)]
    followed = [line.strip() for line in out.splitlines() if line.strip()]
    if reason == 'scheduler-unreachable':
        return '\n'.join(causes) or 'zorvadmin could not ask the CUPS scheduler (status %d)' % rc
    return '\n'.join(causes + followed) or 'zorvadmin exited with status %d' % rc


HEX_DIGITS = '0123456789abcdef'


def unescape(field):
    """A field of zorvadmin's --tsv output: \\t, \\n, \\\\ and \\xNN as written."""
    out, i = [], 0
    while i < len(field):
        c = field[i]
        hex_digits = field[i + 2:i + 4]
        if c == '\\' and field[i + 1:i + 2] == 'x' and len(hex_digits) == 2 and set(hex_digits) <= set(HEX_DIGITS):
            c = chr(int(hex_digits, 16))
            i += 3
        elif c == '\\' and i + 1 < len(field):
            i += 1
            c = {'t': '\t', 'n': '\n'}.get(field[i], field[i])
        out.append(c)
        i += 1
    return ''.join(out)


def tsv_records(text):
    """The records of a --tsv output, each a list of unescaped fields."""
    return [[unescape(field) for field in line.split('\t')] for line in text.splitlines() if line]
