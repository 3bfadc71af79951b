# -*- coding: utf-8 -*-
# Copyright: 2026 The Vexilware developers; all rights reserved (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    # The options, requirements and notes that every module of the collection shares.
    DOCUMENTATION = r'''
options:
  target:
    description:
      - The print server, as one line of a C(vexil-download) targets file, C(tcp A.B.C.D) for
        TCP/IP or C(ipx NETWORK:NODE) for IPX (the 8 hexadecimal digits of the network number
        and the 12 of the MAC address). A C(#) comment may follow.
      - C(vexil-download) checks the address as the Vexilware window checks it and refuses a
        wrong one; anything that is no such line fails the task with the reason.
    type: str
    required: true
  model:
    description:
      - The model, by its name in the Vexilware window's model list or by its number, 1 to 6
        (C(vexil-download --list-models) lists them).
    type: str
    required: true
  executable:
    description:
      - The C(vexil-download) program of the host where the task runs (usually the runner of
        the print server's site, by C(delegate_to)), as a name looked up on its C(PATH) or as
        a path.
    type: path
    default: vexil-download
requirements:
  - C(vexil-download) of Vexilware 1.0.0 or later on the host where the task runs
    (the C(vexilware) Debian package installs it).
notes:
  - The task runs C(vexil-download --json) once and never retries; its result codes, messages
    and outcomes reach the task as the program reports them. It runs with C(LANGUAGE=en), so
    message texts are English whatever the locale of the host; their numbers never change.
  - The program missing, options it refuses (exit status 64, such as a wrong address or a log
    that cannot be written), a program ended by a signal or a run it could not put on record
    (exit status 74) fail the task with the reason from its standard error.
  - TCP/IP print servers answer only on their own network, and IPX is not routed between sites,
    so run each site's tasks on a machine at that site (C(delegate_to)).
'''
