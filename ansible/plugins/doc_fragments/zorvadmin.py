# -*- coding: utf-8 -*-
# SPDX-License-Identifier: Apache-2.0
"""The options every module of this collection takes to find the command."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    # The configuration file and the command, as every module takes them.
    DOCUMENTATION = r'''
options:
  path:
    description:
      - The configuration file, passed to the command as C(ZORV_CONF).
    type: path
    default: /etc/zorv.conf
  zorvadmin:
    description:
      - Path of the C(zorvadmin) command. By default it is looked up on
        C(PATH) and in the sbin directories.
    type: path
'''
