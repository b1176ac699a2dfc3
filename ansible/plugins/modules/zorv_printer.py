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
  - Needs C(zorvadmin) 1.3 or later on the managed host (it reads the
    command's C(--json) documents), and root there (use C(become)).
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
      - With I(state=present), one of I(device) and I(serial) is required.
    type: str
  serial:
    description:
      - The serial number of the printer, instead of I(device). It is looked
        up on the managed host with C(zorvadmin --devices --json), and the
        entry gets the stable name of the one present printer that reports
        it (a udev link that survives renumbering).
      - The task fails when no present printer, or more than one, reports
        that serial, or when that printer has no stable name.
    type: str
    version_added: 1.3.0
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
    description: Asks C(zorvadmin --dry-run --json), so it fails where the real run
      would fail (for example on a queue CUPS does not know). When I(path)
      does not exist, the dry run works on the command's default file in a
      temporary directory, which is what the real run creates.
  diff_mode:
    support: full
    description: Shows the unified diff of the C(zorvadmin --dry-run --json) document.
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

- name: Queue Office drives the printer whose serial is A-1, wherever it is plugged in
  zorv.admin.zorv_printer:
    name: Office
    serial: A-1
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
backup_file:
  description: The copy C(zorvadmin) kept of the file before the change (C(FILE.bak)).
  returned: when the task changed a file that existed
  type: str
  sample: /etc/zorv.conf.bak
  version_added: 1.3.0
reason:
  description:
    - Why the task failed, from the failing C(zorvadmin) run.
    - C(scheduler-unreachable) (the queue could not be checked),
      C(unknown-queue), C(refused) (any other refused operand),
      C(file-error), C(not-root), or C(failed) for any other status.
    - C(serial-not-found) (no present printer reports I(serial), or it
      has no stable name) and C(serial-ambiguous) (more than one does).
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
from ansible_collections.zorv.admin.plugins.module_utils.zorvadmin import (
    Zorvadmin, backup_of, dry_run_diff, json_document, stable_name_of_serial, unescape)


def device_of(zorvadmin, name):
    """The device path of NAME's entry, or None when there is none; queue
    names compare without regard to case, as in CUPS."""
    if not os.path.lexists(zorvadmin.path):
        return None  # a missing file has no entries; -p creates it
    for entry in json_document(zorvadmin, [])['entries']:
        if unescape(entry['queue']).lower() == name.lower():
            return unescape(entry['device_path'])
    return None


def change_args(name, device, state):
    if state == 'present':
        return ['-p', name, '-o', device]
    return ['-x', name]


def main():
    module = AnsibleModule(
        argument_spec=dict(
            name=dict(type='str', required=True, aliases=['queue']),
            device=dict(type='str'),
            serial=dict(type='str'),
            state=dict(type='str', default='present', choices=['present', 'absent']),
            path=dict(type='path', default='/etc/zorv.conf'),
            zorvadmin=dict(type='path'),
        ),
        required_if=[('state', 'present', ['device', 'serial'], True)],
        mutually_exclusive=[('device', 'serial')],
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

    if module.params['serial'] is not None and state == 'present':
        device = stable_name_of_serial(zorvadmin, module.params['serial'])
    existed = os.path.lexists(zorvadmin.path)
    previous = device_of(zorvadmin, name)
    wanted = device if state == 'present' else None
    result = dict(changed=False, device=previous, previous_device=previous)
    if previous == wanted:
        module.exit_json(**result)

    args = change_args(name, device, state)
    if module.check_mode or module._diff:
        # The dry run refuses what the real run would refuse, and its diff is
        # the change the real run makes.
        diff = dry_run_diff(zorvadmin, args)
        if module._diff:
            result['diff'] = dict(prepared=diff)
        if module.check_mode:
            result['changed'] = bool(diff.strip())
            result['device'] = wanted if result['changed'] else previous
            module.exit_json(**result)

    zorvadmin.checked(['--quiet'] + args)
    result['changed'] = True
    result['device'] = wanted
    if existed:  # a file the run creates has no earlier copy
        result['backup_file'] = backup_of(zorvadmin)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
