#!/usr/bin/python
# -*- coding: utf-8 -*-
# SPDX-License-Identifier: Apache-2.0
# The "#!" line: Ansible then runs the module with the interpreter it
# discovers on the managed host, and the package ships no script.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: zorv_printer
short_description: Manage a printer entry of the Zorv printer daemon configuration
description:
  - Adds, changes or removes the entry that maps a CUPS queue to a printer
    device path in the Zorv configuration file (C(/etc/zorv.conf)).
  - Every change is made by running C(zorvadmin), so its lock, its backup
    (C(FILE.bak)), its owner and mode rules and its syslog line all apply.
    The module never writes the file itself.
  - Needs C(zorvadmin) 1.1 or later on the managed host, and root there
    (use C(become)).
  - The queue is checked against the CUPS scheduler the command reaches; set
    C(CUPS_SERVER) through the task's C(environment) to use another one.
version_added: 1.1.0
options:
  name:
    description:
      - The CUPS queue name of the entry. Compared without regard to case,
        as CUPS does.
    type: str
    required: true
    aliases: [queue]
  device:
    description:
      - The printer device path of the entry, such as C(/dev/usb/lp0).
      - Required when I(state=present).
    type: str
  state:
    description:
      - C(present) adds the entry or changes its device path; the queue must
        be known to CUPS.
      - C(absent) removes the entry; the queue need not exist in CUPS.
    type: str
    choices: [present, absent]
    default: present
extends_documentation_fragment:
  - zorv.admin.zorvadmin
attributes:
  check_mode:
    support: full
    description: Asks C(zorvadmin --dry-run), so it fails where the real run
      would fail (for example on a queue CUPS does not know). When I(path)
      does not exist, the dry run works on the command's default file in a
      temporary directory, which is what the real run creates.
  diff_mode:
    support: full
    description: Shows the unified diff C(zorvadmin --dry-run) prints.
notes:
  - The command's warnings (a device path that does not exist yet or cannot
    be checked, a device name that may be renumbered) are the task's
    warnings; a device path that exists and is not a character device is
    refused.
  - I(reason) tells a scheduler that cannot be asked
    (C(scheduler-unreachable)) from a queue it does not know
    (C(unknown-queue)).
seealso:
  - module: zorv.admin.zorv_printer_info
author:
  - The zorvadmin developers (@zorvadmin)
'''

EXAMPLES = r'''
- name: Queue ZPR4410 drives the printer on the second USB port
  zorv.admin.zorv_printer:
    name: ZPR4410
    device: /dev/usb/lp1
  become: true

- name: Office no longer has a Zorv printer
  zorv.admin.zorv_printer:
    name: Office
    state: absent
  become: true

- name: Against a test scheduler and a test configuration
  zorv.admin.zorv_printer:
    name: Q1
    device: /dev/usb/lp0
    path: /srv/test/zorv.conf
    zorvadmin: /usr/local/sbin/zorvadmin
  environment:
    CUPS_SERVER: /run/cups-test/cups.sock
'''

RETURN = r'''
device:
  description: The device path of the entry after the task (predicted in check mode); null when there is no entry.
  returned: always
  type: str
  sample: /dev/usb/lp1
previous_device:
  description: The device path of the entry before the task; null when there was no entry.
  returned: always
  type: str
  sample: /dev/usb/lp0
reason:
  description:
    - Why the task failed, from the failing C(zorvadmin) run.
    - C(scheduler-unreachable) (the queue could not be checked),
      C(unknown-queue), C(refused) (any other refused operand),
      C(file-error), C(not-root), or C(failed) for any other status.
  returned: failed
  type: str
  sample: scheduler-unreachable
rc:
  description: Exit status of the failing C(zorvadmin) run.
  returned: failed
  type: int
  sample: 2
cmd:
  description: The failing C(zorvadmin) command line.
  returned: failed
  type: list
  elements: str
  sample: [/usr/sbin/zorvadmin, --quiet, -p, Q9, -o, /dev/usb/lp0]
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zorv.admin.plugins.module_utils.zorvadmin import Zorvadmin


def device_of(zorvadmin, name):
    """The device path of NAME's entry, or None when there is none."""
    cmd, rc, out, err = zorvadmin.run(['--get', name])
    if rc == 2 and not out:  # stderr says "NAME has no entry in FILE"
        return None
    if rc != 0 and not os.path.lexists(zorvadmin.path):
        # A missing file has no entries; -p creates it as the command
        # always has.
        return None
    if rc != 0:
        zorvadmin.fail(cmd, rc, out, err)
    # A command older than 1.1 ignores --get and prints its listing with
    # status 0; acting on that would be acting on garbage.
    if not out.endswith('\n') or '\n' in out[:-1]:
        zorvadmin.fail(cmd, rc, out, err,
                       msg='%s does not answer --get as zorvadmin 1.1 does; version 1.1 or later is needed'
                       % zorvadmin.command)
    return out[:-1]


def dry_run(module, zorvadmin, args):
    """The diff the real run would make. A missing file is first created by
    the real run from the command's default, so the dry run works on that
    default, made by the classic listing in a scratch directory (--tsv
    only reads since 1.2 and creates nothing)."""
    if os.path.lexists(zorvadmin.path):
        return zorvadmin.checked(['--dry-run', '--quiet'] + args)
    scratch = os.path.join(module.tmpdir, 'zorv.conf')
    zorvadmin.checked([], path=scratch)
    diff = zorvadmin.checked(['--dry-run', '--quiet'] + args, path=scratch)
    return ('# %s does not exist; zorvadmin creates it from its default, then:\n' % zorvadmin.path
            + diff.replace(scratch, zorvadmin.path))


def change_args(name, device, state):
    if state == 'present':
        return ['-p', name, '-o', device]
    return ['-x', name]


def main():
    module = AnsibleModule(
        argument_spec=dict(
            name=dict(type='str', required=True, aliases=['queue']),
            device=dict(type='str'),
            state=dict(type='str', default='present', choices=['present', 'absent']),
            path=dict(type='path', default='/etc/zorv.conf'),
            zorvadmin=dict(type='path'),
        ),
        required_if=[('state', 'present', ['device'])],
        supports_check_mode=True,
    )
    name = module.params['name']
    device = module.params['device']
    state = module.params['state']

    # The command reads an operand that starts with "-" as the next option
    # (`-p -x Q2` removes Q2), so such a value would run a different change.
    for option, value in (('name', name), ('device', device)):
        if value is not None and value.startswith('-'):
            module.fail_json(msg='%s must not begin with "-": %s' % (option, value))

    command = module.params['zorvadmin']
    if not command:
        command = module.get_bin_path('zorvadmin', required=True)  # fails the task when missing
    zorvadmin = Zorvadmin(module, command, module.params['path'])

    previous = device_of(zorvadmin, name)
    wanted = device if state == 'present' else None
    result = dict(changed=False, device=previous, previous_device=previous)
    if previous == wanted:
        module.exit_json(**result)

    args = change_args(name, device, state)
    if module.check_mode or module._diff:
        # The dry run refuses what the real run would refuse, and its diff is
        # the change the real run makes.
        diff = dry_run(module, zorvadmin, args)
        if module._diff:
            result['diff'] = dict(prepared=diff)
        if module.check_mode:
            result['changed'] = bool(diff.strip())
            result['device'] = wanted if result['changed'] else previous
            module.exit_json(**result)

    zorvadmin.checked(['--quiet'] + args)
    result['changed'] = True
    result['device'] = wanted
    module.exit_json(**result)


if __name__ == '__main__':
    main()
