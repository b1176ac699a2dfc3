# -*- coding: utf-8 -*-
# SPDX-License-Identifier: Apache-2.0
"""Runs zorvadmin for the zorv.admin modules and reads its answers."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os

WARNING_PREFIX = 'zorvadmin: warning: '
UNREACHABLE_PREFIX = 'zorvadmin: cannot reach the CUPS scheduler'
UNKNOWN_QUEUE_TEXT = "can't find in CUPS Spooler Entry"
UNKNOWN_QUEUE_BATCH_TEXT = ': the CUPS scheduler knows no queue '  # a --batch line's

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

    def run(self, args, path=None, data=None):
        """Runs the command (DATA on its standard input); its warnings become
        the task's warnings."""
        cmd = [self.command] + args
        rc, out, err = self.module.run_command(cmd, data=data, environ_update={'ZORV_CONF': path or self.path})
        for line in lines(err):
            # A dry run and the real run warn alike; once is enough.
            if line.startswith(WARNING_PREFIX) and line not in self.warned:
                self.warned.add(line)
                self.module.warn('zorvadmin: ' + line[len(WARNING_PREFIX):])
        return cmd, rc, out, err

    def fail(self, cmd, rc, out, err, msg=None):
        reason = failure_reason(rc, out, err)
        self.module.fail_json(msg=msg or failure_message(rc, out, err, reason), reason=reason,
                              rc=rc, cmd=cmd, stdout=out, stderr=err)

    def checked(self, args, path=None, data=None):
        cmd, rc, out, err = self.run(args, path, data)
        if rc != 0:
            self.fail(cmd, rc, out, err)
        return out


def lines(text):
    """The lines of a message the command printed; only a newline ends one
    (str.splitlines would also split at \\x1c, U+2028 and the like)."""
    return [line for line in text.split('\n') if line]


def failure_reason(rc, out, err):
    """What went wrong, as one word a playbook can test."""
    if rc == 2 and any(line.startswith(UNREACHABLE_PREFIX) for line in lines(err)):
        return 'scheduler-unreachable'
    # On standard output, or on standard error when the run prints a --json
    # document on standard output.
    if rc == 2 and (UNKNOWN_QUEUE_TEXT in out or UNKNOWN_QUEUE_TEXT in err or UNKNOWN_QUEUE_BATCH_TEXT in err):
        return 'unknown-queue'
    return REASONS.get(rc, 'failed')


def failure_message(rc, out, err, reason):
    """The cause first: stderr says why; stdout (the unknown-queue line)
    says what followed from it, which for an unreachable scheduler is
    misleading and left out."""
    causes = [line.strip() for line in lines(err) if line.strip() and not line.startswith(WARNING_PREFIX)]
    followed = [line.strip() for line in lines(out) if line.strip()]
    if reason == 'scheduler-unreachable':
        return '\n'.join(causes) or 'zorvadmin could not ask the CUPS scheduler (status %d)' % rc
    return '\n'.join(causes + followed) or 'zorvadmin exited with status %d' % rc


HEX_DIGITS = '0123456789abcdef'


def unescape(field):
    """A string of zorvadmin's --json document as the bytes it stands for
    would read: \\t, \\n, \\\\ and \\xNN as the command writes them."""
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


def json_document(zorvadmin, args, path=None, data=None):
    """The --json document of a run; a command that does not print one
    (older than 1.3) fails the task rather than being guessed at."""
    # --json first: the command reads the options before the operation.
    cmd, rc, out, err = zorvadmin.run(['--json'] + args, path, data)
    if rc != 0:
        zorvadmin.fail(cmd, rc, out, err)
    try:
        document = json.loads(out)
    except ValueError:
        document = None
    if not isinstance(document, dict) or document.get('format') != 1:
        zorvadmin.fail(cmd, rc, out, err,
                       msg='%s does not answer --json as zorvadmin 1.3 does; version 1.3 or later is needed'
                       % zorvadmin.command)
    return document


def stable_name_of_serial(zorvadmin, serial):
    """The stable name of the one present printer reporting SERIAL, from
    --devices --json on the managed host; fails the task when none or more
    than one does, or when that printer has no stable name."""
    document = json_document(zorvadmin, ['--devices'])
    found = [d for d in document.get('devices', []) if unescape(d.get('serial', '')) == serial]
    if not found:
        zorvadmin.module.fail_json(msg='no present printer has the serial %s' % serial, reason='serial-not-found')
    if len(found) > 1:
        zorvadmin.module.fail_json(msg='%d present printers have the serial %s: %s; name the device instead'
                                   % (len(found), serial, ', '.join(d.get('node', '') for d in found)),
                                   reason='serial-ambiguous')
    if not found[0].get('stable_name'):
        zorvadmin.module.fail_json(msg='the printer with the serial %s (%s) has no stable name'
                                   % (serial, found[0].get('node', '')), reason='serial-not-found')
    return unescape(found[0]['stable_name'])


def dry_run_diff(zorvadmin, args, data=None):
    """The unified diff a change would make, from its --dry-run --json
    document. A missing file is first created by the real run from the
    command's default, so the dry run works on that default, made by the
    classic listing in a scratch directory."""
    path = None
    if not os.path.lexists(zorvadmin.path):
        path = os.path.join(zorvadmin.module.tmpdir, 'zorv.conf')
        zorvadmin.checked([], path=path)
    diff = json_document(zorvadmin, ['--dry-run', '--quiet'] + args, path=path, data=data).get('diff', '')
    if path is None:
        return diff
    return ('# %s does not exist; zorvadmin creates it from its default, then:\n' % zorvadmin.path
            + diff.replace(path, zorvadmin.path))


def backup_of(zorvadmin):
    """Where zorvadmin keeps the copy of the file before its last change."""
    return zorvadmin.path + '.bak'
