#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 The Vexilware developers; all rights reserved (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: printserver_info
short_description: Ask a network print server its model code and firmware version
version_added: 1.0.0
description:
  - Runs C(vexil-download --query --json) once on the host where the task runs. The print
    server is sent its model's version query and nothing else.
  - A print server that does not answer is no failure of the task; I(answered) is then false
    and I(first_message) says why (a playbook may add C(failed_when)).
  - Changes nothing, so I(changed) is always false; runs the same query in check mode.
author:
  - The Vexilware developers
extends_documentation_fragment:
  - vexilware.printserver.common
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  platform:
    platforms: posix
seealso:
  - module: vexilware.printserver.printserver_firmware
'''

EXAMPLES = r'''
- name: Ask a print server its firmware version, from the runner of its site
  vexilware.printserver.printserver_info:
    target: tcp 192.0.2.10
    model: 6
  delegate_to: runner-tokyo
  register: printer

- name: Ask one over IPX, and fail when it does not answer
  vexilware.printserver.printserver_info:
    target: ipx 00000001:00D1F0123456
    model: LANｶｰﾄﾞｵﾌﾟｼｮﾝ
    executable: /usr/bin/vexil-download
  register: printer
  failed_when: not printer.answered
'''

RETURN = r'''
answered:
  description: Whether the print server answered the version query with a valid reply.
  returned: always
  type: bool
  sample: true
model_code:
  description: The model code the print server reported, as four hexadecimal digits; null when it did not answer.
  returned: always
  type: str
  sample: aa01
version:
  description: The firmware version the print server reported, as vexil-download writes it; null when it did not answer.
  returned: always
  type: str
  sample: '1.10'
result:
  description: The query's result code from vexil-download; 0 when the print server answered.
  returned: always
  type: int
  sample: 0
first_message:
  description: The first error message of the query (the cause, where I(last_message) may only be its consequence), or null.
  returned: always
  type: dict
  sample: {"number": 112, "text": "バージョン情報取得に失敗しました。"}
  contains:
    number:
      description: The message's number.
      type: int
    text:
      description: The message's text, lines separated by line feeds.
      type: str
last_message:
  description: The message the query ended with, or null; as I(first_message).
  returned: always
  type: dict
  sample: null
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vexilware.printserver.plugins.module_utils.vexil import (
    VexilDownload, common_argument_spec, message)


def fields(report):
    return dict(
        changed=False,
        answered=report.get('result') == 0,
        model_code=report.get('modelCode'),
        version=report.get('versionBefore'),
        result=report.get('result'),
        first_message=message(report.get('firstMessage')),
        last_message=message(report.get('lastMessage')),
    )


def main():
    module = AnsibleModule(argument_spec=common_argument_spec(), supports_check_mode=True)
    report, values = VexilDownload(module).run(['--query'], fields)
    module.exit_json(**values)


if __name__ == '__main__':
    main()
