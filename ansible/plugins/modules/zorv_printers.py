#!/usr/bin/python
# -*- coding: utf-8 -*-
# SPDX-License-Identifier: Apache-2.0
# The "#!" line: Ansible then runs the module with the interpreter it
# discovers on the managed host.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: zorv_printers
short_description: Declare the printer entries and settings of a whole Zorv host
description:
  - Brings the Zorv configuration file (C(/etc/zorv.conf)) to the entries
    and settings the task lists, with one C(zorvadmin --batch) run - one
    lock, one backup (C(FILE.bak)), one rewrite - made of C(add), C(remove)
    and C(set) lines for what differs.
  - Needs C(zorvadmin) 1.3 or later on the managed host, and root there
    (use C(become)).
  - The queues are checked against the CUPS scheduler the command reaches;
    set C(CUPS_SERVER) through the task's C(environment) to use another one.
version_added: 1.3.0
options:
  entries:
    description:
      - The entries the file has after the task; each names its printer by
        exactly one of I(device), I(serial) and I(stable).
    type: list
    elements: dict
    default: []
    suboptions:
      name:
        description: The CUPS queue name, compared without regard to case, as CUPS does.
        type: str
        required: true
      device:
        description: The printer device path.
        type: str
      serial:
        description:
          - The serial number of the printer. It is looked up on the managed
            host with C(zorvadmin --devices --json), and the entry gets the
            stable name of the one present printer that reports it; the task
            fails when no present printer, or more than one, reports it.
        type: str
      stable:
        description:
          - C(true) keeps the entry's current printer, under that printer's
            stable name; the entry must exist and its printer be present.
        type: bool
  exclusive:
    description:
      - Removes every entry of the file that I(entries) does not list.
    type: bool
    default: false
  settings:
    description:
      - The settings the file has after the task; those not given are left as they are.
    type: dict
    suboptions:
      UI_Port:
        description: The port of the daemon's web interface.
        type: str
      LogDirectoryPath:
        description: The daemon's log directory.
        type: str
      CUPS_ConfigPath:
        description: The CUPS configuration directory.
        type: str
extends_documentation_fragment:
  - zorv.admin.zorvadmin
attributes:
  check_mode:
    support: full
    description: Asks C(zorvadmin --json --dry-run --batch), so it fails where the
      real run would fail. When I(path) does not exist, the dry run works on
      the command's default file in a temporary directory.
  diff_mode:
    support: full
    description: Shows the unified diff of C(zorvadmin --json --dry-run --batch), the whole change as one diff.
notes:
  - When I(path) does not exist, it is first made from the command's
    default (by its listing), then changed by the batch.
  - The task is changed only when the batch's dry run finds the file would
    change; otherwise no batch is run.
seealso:
  - module: zorv.admin.zorv_printer
  - module: zorv.admin.zorv_setting
  - module: zorv.admin.zorv_printer_info
author:
  - The zorvadmin developers (@zorvadmin)
'''

EXAMPLES = r'''
- name: Exactly these entries, each printer named by its serial
  zorv.admin.zorv_printers:
    entries:
      - {name: ZPR4410, serial: A-1}
      - {name: Office, serial: C-3}
      - {name: Back, stable: true}
    exclusive: true
    settings:
      UI_Port: "59787"
  become: true
  notify: restart the printer daemon
'''

RETURN = r'''
batch:
  description: The lines of the batch that makes the change; empty when nothing differs.
  returned: always
  type: list
  elements: str
  sample: [add ZPR4410 /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp, remove Old, set UI_Port 59787]
backup_file:
  description: The copy C(zorvadmin) kept of the file before the change (C(FILE.bak)).
  returned: when the task changed the file
  type: str
  sample: /etc/zorv.conf.bak
reason:
  description:
    - Why the task failed - as for M(zorv.admin.zorv_printer), and
      C(not-present) for I(stable) on an entry that does not exist or whose
      printer is not present.
  returned: failed
  type: str
  sample: serial-ambiguous
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zorv.admin.plugins.module_utils.zorvadmin import (
    Zorvadmin, backup_of, dry_run_diff, json_document, stable_name_of_serial, unescape)

SETTINGS = ('UI_Port', 'LogDirectoryPath', 'CUPS_ConfigPath')


def current_state(zorvadmin):
    """The file's entries (lower-case name: (name, device)) and settings."""
    if not os.path.lexists(zorvadmin.path):
        return {}, {}
    document = json_document(zorvadmin, [])
    entries = dict((unescape(e['queue']).lower(), (unescape(e['queue']), unescape(e['device_path'])))
                   for e in document['entries'])
    return entries, dict((k, unescape(v)) for k, v in document['settings'].items())


def stable_name_of_entry(zorvadmin, name):
    """The stable name of the printer NAME's entry leads to now."""
    for device in json_document(zorvadmin, ['--devices'])['devices']:
        if any(unescape(e['queue']).lower() == name.lower() for e in device['entries']) and device['stable_name']:
            return unescape(device['stable_name'])
    zorvadmin.module.fail_json(msg='%s has no entry whose printer is present with a stable name' % name,
                               reason='not-present')


def wanted_device(zorvadmin, entry):
    if entry['serial'] is not None:
        return stable_name_of_serial(zorvadmin, entry['serial'])
    if entry['stable']:
        return stable_name_of_entry(zorvadmin, entry['name'])
    return entry['device']


def batch_lines(module, zorvadmin):
    current, settings = current_state(zorvadmin)
    lines, listed = [], set()
    for entry in module.params['entries']:
        key = entry['name'].lower()
        if key in listed:
            module.fail_json(msg='%s is listed more than once in entries' % entry['name'])
        listed.add(key)
        device = wanted_device(zorvadmin, entry)
        if current.get(key, (None, None))[1] != device:
            lines.append('add %s %s' % (entry['name'], device))
    if module.params['exclusive']:
        lines += ['remove %s' % name for key, (name, device) in current.items() if key not in listed]
    for key, value in (module.params['settings'] or {}).items():
        if value is not None and settings.get(key) != value:
            lines.append('set %s %s' % (key, value))
    return lines


def check_params(module):
    for entry in module.params['entries']:
        given = [option for option in ('device', 'serial', 'stable') if entry[option]]
        if len(given) != 1:
            module.fail_json(msg='entry %s: give exactly one of device, serial and stable: true' % entry['name'])
    values = [entry['name'] for entry in module.params['entries']] + \
        [entry['device'] or '' for entry in module.params['entries']] + \
        [value or '' for value in (module.params['settings'] or {}).values()]
    # A line break would end the batch line and start another.
    for value in values:
        if '\n' in value or '\r' in value:
            module.fail_json(msg='a line break in %r' % value)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            entries=dict(type='list', elements='dict', default=[], options=dict(
                name=dict(type='str', required=True),
                device=dict(type='str'),
                serial=dict(type='str'),
                stable=dict(type='bool'),
            )),
            exclusive=dict(type='bool', default=False),
            settings=dict(type='dict', options=dict((key, dict(type='str')) for key in SETTINGS)),
            path=dict(type='path', default='/etc/zorv.conf'),
            zorvadmin=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    check_params(module)
    command = module.params['zorvadmin']
    if not command:
        command = module.get_bin_path('zorvadmin', required=True)  # fails the task when missing
    zorvadmin = Zorvadmin(module, command, module.params['path'])

    lines = batch_lines(module, zorvadmin)
    result = dict(changed=False, batch=lines)
    if not lines:
        module.exit_json(**result)
    batch = ''.join(line + '\n' for line in lines)
    # The dry run refuses what the real run would refuse, and an empty diff
    # is a batch that changes nothing (a setting written another way).
    diff = dry_run_diff(zorvadmin, ['--batch', '-'], data=batch)
    result['changed'] = bool(diff.strip())
    if module._diff and result['changed']:
        result['diff'] = dict(prepared=diff)
    if module.check_mode or not result['changed']:
        module.exit_json(**result)
    if not os.path.lexists(zorvadmin.path):
        zorvadmin.checked([])  # the listing makes the file from the default
    json_document(zorvadmin, ['--batch', '-'], data=batch)  # a document, or the task fails
    result['backup_file'] = backup_of(zorvadmin)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
