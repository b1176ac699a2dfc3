#!/usr/bin/python
# -*- coding: utf-8 -*-
# SPDX-License-Identifier: Apache-2.0
# The "#!" line is what Ansible replaces with the interpreter it discovers
# on the managed host.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: zorv_printer_info
short_description: Read the Zorv printer daemon configuration and the printer devices
description:
  - Returns the settings and every printer entry of the Zorv configuration
    file (C(/etc/zorv.conf)) with the state of its CUPS queue, as
    C(zorvadmin --tsv) prints them, and the printer devices as
    C(zorvadmin --devices --tsv) prints them when the command has that
    option.
  - Changes nothing. A configuration that does not exist is reported as
    such and not created (a plain C(zorvadmin) listing would create it).
    The command takes a shared lock on C(FILE.lock), creating that empty
    file when it is missing.
  - Needs C(zorvadmin) 1.1 or later on the managed host, and root there
    (use C(become)).
version_added: 1.2.0
extends_documentation_fragment:
  - zorv.admin.zorvadmin
attributes:
  check_mode:
    support: full
    description: The module only reads, so check mode runs it as usual.
notes:
  - The queue states come from the CUPS scheduler the command reaches; set
    C(CUPS_SERVER) through the task's C(environment) to use another one.
seealso:
  - module: zorv.admin.zorv_printer
author:
  - The zorvadmin developers (@zorvadmin)
'''

EXAMPLES = r'''
- name: Read the configuration
  zorv.admin.zorv_printer_info:
  become: true
  register: zorv

- name: Queues CUPS does not know
  ansible.builtin.debug:
    msg: "{{ zorv.entries | selectattr('state', 'eq', 'unknown-queue') | map(attribute='name') | list }}"

- name: Device path of ZPR4410
  ansible.builtin.debug:
    msg: "{{ (zorv.entries | selectattr('name', 'eq', 'ZPR4410') | first).device }}"
'''

RETURN = r'''
exists:
  description: Whether the configuration file exists. When it does not, I(settings) is empty and I(entries) is empty.
  returned: always
  type: bool
  sample: true
settings:
  description: The settings of the file, by keyword; an empty string where the file sets none.
  returned: always
  type: dict
  sample: {CUPS_ConfigPath: /etc/cups/, LogDirectoryPath: "", UI_Port: "59787"}
entries:
  description: Every printer entry, in file order.
  returned: always
  type: list
  elements: dict
  contains:
    name:
      description: The CUPS queue name.
      type: str
      sample: ZPR4410
    device:
      description: The printer device path.
      type: str
      sample: /dev/usb/lp1
    backend:
      description: The backend of the queue's device URI in CUPS's C(printers.conf); empty when not found.
      type: str
      sample: zorv
    fifo:
      description: The rest of that device URI; empty when not found.
      type: str
      sample: /var/run/zorv/ZPR4410.fifo
    state:
      description:
        - C(ok), C(unknown-queue) (CUPS has no such queue) or C(unchecked)
          (the scheduler could not be asked).
      type: str
      sample: ok
devices_listed:
  description: Whether the command can list printer devices (C(--devices)); when it cannot, I(devices) is empty.
  returned: always
  type: bool
  sample: false
devices:
  description: The printer devices the command finds, one per C(device) record of C(zorvadmin --devices --tsv).
  returned: always
  type: list
  elements: dict
  contains:
    path:
      description: The device node.
      type: str
      sample: /dev/usb/lp0
    stable_name:
      description: A name that survives renumbering (a udev link); empty when there is none.
      type: str
      sample: /dev/usb/by-id/usb-Zorv_ZPR4410_0001-lp
    identity:
      description: What the device says it is (maker, model, serial number).
      type: str
      sample: Zorv ZPR4410 0001
    fields:
      description: Every field of the record after C(device), as printed.
      type: list
      elements: str
      sample: [/dev/usb/lp0, /dev/usb/by-id/usb-Zorv_ZPR4410_0001-lp, Zorv ZPR4410 0001]
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zorv.admin.plugins.module_utils.zorvadmin import Zorvadmin, tsv_records

ENTRY_FIELDS = ('name', 'device', 'backend', 'fifo', 'state')


def configuration(zorvadmin):
    """The settings and entries from --tsv."""
    settings, entries = {}, []
    for record in tsv_records(zorvadmin.checked(['--tsv'])):
        if record[0] == 'setting' and len(record) == 3:
            settings[record[1]] = record[2]
        elif record[0] == 'entry' and len(record) == 1 + len(ENTRY_FIELDS):
            entries.append(dict(zip(ENTRY_FIELDS, record[1:])))
    return settings, entries


def devices(zorvadmin):
    """The device records from --devices --tsv, or None when the command has
    no --devices (1.1 lists the configuration instead of refusing it)."""
    cmd, rc, out, err = zorvadmin.run(['--help'])
    if rc != 0 or '--devices' not in out:
        return None
    found = []
    for record in tsv_records(zorvadmin.checked(['--devices', '--tsv'])):
        if record[0] == 'device' and len(record) > 1:
            fields = record[1:]
            padded = fields + [''] * 2
            found.append(dict(path=fields[0], stable_name=padded[1], identity=padded[2], fields=fields))
    return found


def main():
    module = AnsibleModule(
        argument_spec=dict(
            path=dict(type='path', default='/etc/zorv.conf'),
            zorvadmin=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    command = module.params['zorvadmin']
    if not command:
        command = module.get_bin_path('zorvadmin', required=True)  # fails the task when missing
    zorvadmin = Zorvadmin(module, command, module.params['path'])

    exists = os.path.lexists(zorvadmin.path)
    settings, entries = configuration(zorvadmin) if exists else ({}, [])
    listed = devices(zorvadmin)
    module.exit_json(changed=False, exists=exists, settings=settings, entries=entries,
                     devices_listed=listed is not None, devices=listed or [])


if __name__ == '__main__':
    main()
