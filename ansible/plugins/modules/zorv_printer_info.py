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
    file (C(/etc/zorv.conf)) with the state of its CUPS queue, from the
    C(zorvadmin --json) document, and the printer devices present, from the
    C(zorvadmin --devices --json) document.
  - Strings are as the command writes them in its documents - a tab,
    newline or backslash as C(\t), C(\n), C(\\), other control characters
    and bytes that are not UTF-8 as C(\xNN) - so a queue name holding the
    byte 0x1c reads C(Q\x1cX).
  - Changes nothing. A configuration that does not exist is reported as
    such and not created (a plain C(zorvadmin) listing would create it).
    The command takes a shared lock on C(FILE.lock), creating that empty
    file when it is missing.
  - Needs C(zorvadmin) 1.3 or later on the managed host (it reads the
    command's C(--json) documents), and root there (use C(become)).
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

- name: Stable name of the printer whose serial is A-1
  ansible.builtin.debug:
    msg: "{{ (zorv.devices | selectattr('serial', 'eq', 'A-1') | first).stable_name }}"

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
devices:
  description: The printer devices present, as C(zorvadmin --devices --json) lists them.
  returned: always
  type: list
  elements: dict
  contains:
    node:
      description: The device node.
      type: str
      sample: /dev/usb/lp0
    kind:
      description: C(usb) or C(parallel).
      type: str
      sample: usb
    port:
      description: The USB port (or the parallel port) the printer is on.
      type: str
      sample: 1-2
    make:
      description: The maker, from the printer's IEEE 1284 Device ID.
      type: str
      sample: Zorv
    model:
      description: The model, from the Device ID.
      type: str
      sample: ZPR4410
    serial:
      description: The serial number, from the Device ID; empty when it has none.
      type: str
      sample: A-1
    stable_name:
      description: A name that survives renumbering (a udev link), which C(zorvadmin) advises; empty when there is none.
      type: str
      sample: /dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp
    stable_name_reason:
      description: Why that name - C(own-serial), C(shared-serial) or C(no-serial).
      type: str
      sample: own-serial
    links:
      description: Every link that leads to the node.
      type: list
      elements: str
      sample: [/dev/usb/by-id/usb-Zorv_ZPR4410_A-1-lp, /dev/usb/by-path/pci-0000:00:14.0-usb-0:2:1.0-lp]
    entries:
      description: The entries whose device path leads to this printer, each with C(queue), C(device_path),
        C(node), C(cups_make_and_model) and C(verdict) (as in C(absent_entries)).
      type: list
      elements: dict
      sample: [{queue: ZPR4410, device_path: /dev/usb/lp0, node: /dev/usb/lp0,
                cups_make_and_model: "Zorv ZPR4410, 1.0", verdict: matches}]
absent_entries:
  description: The entries whose device is not present, with the members of I(devices[].entries).
  returned: always
  type: list
  elements: dict
  sample: [{queue: Back, device_path: /dev/usb/lp5, node: "", cups_make_and_model: "", verdict: absent}]
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zorv.admin.plugins.module_utils.zorvadmin import Zorvadmin, json_document


def configuration(zorvadmin):
    # The playbook-facing names of the entry members, as in 1.2 of this module.
    document = json_document(zorvadmin, [])
    entries = [dict(name=e['queue'], device=e['device_path'], backend=e['backend'], fifo=e['fifo'], state=e['state'])
               for e in document['entries']]
    return document['settings'], entries


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
    # Without a file --devices still lists the printers, with no entries.
    devices = json_document(zorvadmin, ['--devices'])
    module.exit_json(changed=False, exists=exists, settings=settings, entries=entries,
                     devices=devices['devices'], absent_entries=devices['absent_entries'])


if __name__ == '__main__':
    main()
