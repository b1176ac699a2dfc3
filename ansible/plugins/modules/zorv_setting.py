#!/usr/bin/python
# -*- coding: utf-8 -*-
# SPDX-License-Identifier: Apache-2.0
# The "#!" line: Ansible then runs the module with the interpreter it
# discovers on the managed host.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: zorv_setting
short_description: Set a setting of the Zorv printer daemon configuration
description:
  - Sets C(UI_Port), C(LogDirectoryPath) or C(CUPS_ConfigPath) in the Zorv
    configuration file (C(/etc/zorv.conf)) with C(zorvadmin --set), so the
    command's lock, backup (C(FILE.bak)), owner and mode rules and syslog
    line apply. The module never writes the file itself.
  - Needs C(zorvadmin) 1.3 or later on the managed host (it reads the
    command's C(--json) documents), and root there (use C(become)).
version_added: 1.3.0
options:
  name:
    description:
      - The setting.
    type: str
    required: true
    choices: [UI_Port, LogDirectoryPath, CUPS_ConfigPath]
  value:
    description:
      - Its value, checked by C(zorvadmin) as C(--set) checks it (a port
        number, a directory path).
    type: str
    required: true
extends_documentation_fragment:
  - zorv.admin.zorvadmin
attributes:
  check_mode:
    support: full
    description: Asks C(zorvadmin --set --dry-run --json), so it fails where
      the real run would fail. When I(path) does not exist, the dry run works
      on the command's default file in a temporary directory, which is what
      the real run creates.
  diff_mode:
    support: full
    description: Shows the unified diff of the C(--dry-run --json) document.
notes:
  - The task is changed when the dry run finds the file would change; a
    value the file already has changes nothing and runs no C(--set).
seealso:
  - module: zorv.admin.zorv_printer
  - module: zorv.admin.zorv_printer_info
author:
  - The zorvadmin developers (@zorvadmin)
'''

EXAMPLES = r'''
- name: The daemon's web interface listens on port 59787
  zorv.admin.zorv_setting:
    name: UI_Port
    value: "59787"
  become: true

- name: Logs go to /var/log/zorv
  zorv.admin.zorv_setting:
    name: LogDirectoryPath
    value: /var/log/zorv/
  become: true
'''

RETURN = r'''
backup_file:
  description: The copy C(zorvadmin) kept of the file before the change (C(FILE.bak)).
  returned: when the task changed a file that existed
  type: str
  sample: /etc/zorv.conf.bak
reason:
  description:
    - Why the task failed, from the failing C(zorvadmin) run - C(refused)
      (a value the command refuses), C(file-error), C(not-root), or
      C(failed) for any other status.
  returned: failed
  type: str
  sample: refused
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
  sample: [/usr/sbin/zorvadmin, --dry-run, --quiet, --set, UI_Port, "0", --json]
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.zorv.admin.plugins.module_utils.zorvadmin import Zorvadmin, backup_of, dry_run_diff


def main():
    module = AnsibleModule(
        argument_spec=dict(
            name=dict(type='str', required=True, choices=['UI_Port', 'LogDirectoryPath', 'CUPS_ConfigPath']),
            value=dict(type='str', required=True),
            path=dict(type='path', default='/etc/zorv.conf'),
            zorvadmin=dict(type='path'),
        ),
        supports_check_mode=True,
    )
    value = module.params['value']
    # An operand that starts with "-" would be read as the next option.
    if value.startswith('-'):
        module.fail_json(msg='value must not begin with "-": %s' % value)
    command = module.params['zorvadmin']
    if not command:
        command = module.get_bin_path('zorvadmin', required=True)  # fails the task when missing
    zorvadmin = Zorvadmin(module, command, module.params['path'])

    args = ['--set', module.params['name'], value]
    existed = os.path.lexists(zorvadmin.path)
    # The dry run refuses what the real run would refuse; an empty diff is
    # a value the file already has.
    diff = dry_run_diff(zorvadmin, args)
    result = dict(changed=bool(diff.strip()))
    if module._diff and result['changed']:
        result['diff'] = dict(prepared=diff)
    if result['changed'] and not module.check_mode:
        zorvadmin.checked(['--quiet'] + args)
        if existed:  # a file the run creates has no earlier copy
            result['backup_file'] = backup_of(zorvadmin)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
