#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 The Vexilware developers; all rights reserved (see LICENSE)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: printserver_firmware
short_description: Download new firmware into a network print server
version_added: 1.0.0
description:
  - Runs C(vexil-download --yes --json) once on the host where the task runs, with the download
    file of the model from I(firmware_dir). It runs the file check, the version query, the
    download mode, the erase, the transfer and the finish, as the Vexilware window runs them.
  - Without I(force) a print server that already reports the file's version is left alone
    (C(--skip-current)). Only the version query is sent to it, and the task reports no change.
  - A failed download fails the task with the result code, the texts of its first and last
    message and the program's note, when it has one (such as a refused sum). The module never
    retries; run the play again for the print servers that failed.
  - A download takes about half a minute whatever the file's size, for the print server is
    waited for 25 seconds in any case. Interrupting it (the task's timeout, Ctrl-C) cancels it
    as the window's cancel button does, which leaves the print server in download mode.
  - In check mode only the version query is sent (C(vexil-download --query) with the folder,
    which checks the download file, reports its version and checks the print server's model as
    a download checks it), and the task reports whether a download would change the print
    server. No log line is written, but a I(log) that the download would refuse fails the task.
  - With I(checksums) only the image that was approved goes out, for C(vexil-download --checksums)
    checks each file the model's download sends against the sums listed there before anything
    is sent, and a file that is not listed, or is listed with another sum, fails the task with
    nothing sent, in check mode too. I(file_sha256) says by content which image the print
    server was sent.
  - Once the print server was sent the switch to download mode, the task reports a change
    whatever the outcome, for a download that failed or was cancelled after the switch may have
    erased the firmware the print server had.
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
options:
  firmware_dir:
    description:
      - The folder on the host where the task runs that holds the model's download files, by
        their fixed names (C(vexil-download --list-models) names them).
    type: path
    required: true
  log:
    description:
      - A file on the host where the task runs to which C(vexil-download) appends one line per
        download (C(--log)). It is checked before anything is sent to the print server.
    type: path
  force:
    description:
      - Download even when the print server already reports the file's version.
    type: bool
    default: false
  checksums:
    description:
      - A file on the host where the task runs that lists the SHA-256 of the approved download
        files, in the form C(sha256sum) writes and C(sha256sum -c) reads (C(HEX  NAME) or
        C(HEX *NAME) lines, by the files' fixed names), such as the C(SHA256SUMS) published
        beside a release's images (C(vexil-download --checksums)).
      - Every file the model's download sends must be listed there with its sum, or nothing is
        sent and the task fails, naming the file. A checksums file that is missing or cannot be
        read fails the task before C(vexil-download) runs; one that it cannot read as a
        checksums file (a malformed line) fails it with the program's reason.
    type: path
seealso:
  - module: vexilware.printserver.printserver_info
'''

EXAMPLES = r'''
- name: Bring a print server to the firmware of its site's runner, from that runner
  vexilware.printserver.printserver_firmware:
    target: tcp 192.0.2.10
    model: 6
    firmware_dir: /srv/firmware/lan-card
    log: /var/log/vexilware/downloads.log
  delegate_to: runner-tokyo

- name: Send only the image of the approved release, as its SHA256SUMS lists it
  vexilware.printserver.printserver_firmware:
    target: tcp 192.0.2.11
    model: 6
    firmware_dir: /srv/firmware/lan-card
    checksums: /srv/firmware/lan-card/SHA256SUMS
  register: approved

- name: Record which image went where
  ansible.builtin.debug:
    msg: "{{ approved.version_after }} sha256={{ approved.file_sha256 }}"

- name: Download again over IPX, whatever the version it reports
  vexilware.printserver.printserver_firmware:
    target: ipx 00000001:00D1F0123456
    model: 6
    firmware_dir: /srv/firmware/lan-card
    force: true
  register: download

- name: Say what changed
  ansible.builtin.debug:
    msg: "{{ download.version_before }} -> {{ download.version_after }}"
  when: download is changed
'''

RETURN = r'''
changed:
  description:
    - Whether the print server's firmware was replaced, or may have been changed (it was sent the switch to
      download mode, also when the download then failed); in check mode, whether it would be.
  returned: always
  type: bool
  sample: true
version_before:
  description: The firmware version the print server reported before the download; null when it did not answer.
  returned: always
  type: str
  sample: '1.00'
version_after:
  description:
    - After a download, the file's version as the print server reports versions; the print server's own
      when it was left alone, and in check mode; null when unknown (a failed download).
  returned: always
  type: str
  sample: '1.10'
file_version:
  description: The version of the download file, as vexil-download writes it; null when the file check failed.
  returned: always
  type: str
  sample: '1.10'
file_sha256:
  description:
    - The SHA-256 of the download file in lower-case hexadecimal, as vexil-download writes it (C(fileSha256)),
      which tells two images of one version apart; null when the file was not read.
  returned: always
  type: str
  sample: 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08
companion_sha256:
  description: The SHA-256 of the model's companion file, as I(file_sha256) (C(companionSha256)).
  returned: when the model's download sends a second file and it was read
  type: str
  sample: 60303ae22b998861bce3b28f33eec1be758a213c86c93c076dbe9f558c11c752
result:
  description: The download's result code from vexil-download; 0 for success (also when the print server was left alone).
  returned: always
  type: int
  sample: 0
outcome:
  description:
    - The outcome as vexil-download names it in its log and JSON, such as C(succeeded), C(already-current),
      C(failed), C(not-started); in check mode that of the query, such as C(query-succeeded).
  returned: always
  type: str
  sample: succeeded
first_message:
  description: The first error message of the run (the cause, where I(last_message) may only be its consequence), or null.
  returned: always
  type: dict
  sample: null
  contains:
    number:
      description: The message's number.
      type: int
    text:
      description: The message's text, lines separated by line feeds.
      type: str
last_message:
  description: The message the run ended with, or null; as I(first_message).
  returned: always
  type: dict
  sample: {"number": 110, "text": "ダウンロードが終了しました。\nプリンタの電源をリセットしてください。"}
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vexilware.printserver.plugins.module_utils.vexil import (
    ALREADY_CURRENT, VexilDownload, common_argument_spec, log_refusal, message, message_texts)


def fields(report, changed):
    values = dict(
        changed=changed,
        version_before=report.get('versionBefore'),
        version_after=report.get('versionAfter'),
        file_version=report.get('fileVersion'),
        file_sha256=report.get('fileSha256'),
        result=report.get('result'),
        outcome=report.get('outcome'),
        first_message=message(report.get('firstMessage')),
        last_message=message(report.get('lastMessage')),
    )
    # Only the models that send a second file have its sum.
    if report.get('companionSha256') is not None:
        values['companion_sha256'] = report['companionSha256']
    return values


def downloaded(report):
    # Every success but the one that left the print server alone replaced its firmware, and
    # every outcome once the switch to download mode was sent changed the print server: it may
    # no longer hold its old firmware, whether the download failed, was cancelled or succeeded.
    if report.get('modeSwitchSent') is True:
        return True
    return report.get('result') == 0 and report.get('outcome') != ALREADY_CURRENT


def would_download(report, force):
    # vexil-download decides whether the print server has the file's version, as
    # --skip-current decides it; the module compares no versions of its own.
    current = report.get('current')
    return report.get('result') == 0 and (force or current is False)


def main():
    options = common_argument_spec()
    options.update(
        firmware_dir=dict(type='path', required=True),
        log=dict(type='path'),
        force=dict(type='bool', default=False),
        checksums=dict(type='path'),
    )
    module = AnsibleModule(argument_spec=options, supports_check_mode=True)
    program = VexilDownload(module)
    params = module.params
    # The files are checked against the checksums file by the program, in check mode too, before
    # anything is sent.
    folder = ['--dir=%s' % params['firmware_dir']]
    if params['checksums'] is not None:
        program.require_readable('checksums', params['checksums'])
        folder.append('--checksums=%s' % params['checksums'])

    def failure(report):
        # What has no numbered message, such as a file that the checksums file does not list
        # with its sum, the program says in the report's note (English in every language).
        texts = [message_texts(report), report.get('note')]
        return 'result %s: %s' % (report.get('result'), '; '.join(text for text in texts if text))

    if module.check_mode:
        # The log is not written, but a log that the run would refuse fails here as it would
        # fail the run, before anything is sent.
        if params['log'] is not None:
            refusal = log_refusal(params['log'])
            if refusal is not None:
                module.fail_json(msg='%s would refuse the log %s: %s' % (program.name, params['log'], refusal))
        report, values = program.run(['--query'] + folder,
                                     lambda report: fields(report, would_download(report, params['force'])))
        if report.get('result') != 0:
            module.fail_json(msg='the version query of %s failed: %s' % (program.target, failure(report)), **values)
        if not isinstance(report.get('current'), bool):
            module.fail_json(msg='%s did not say whether the print server has the download file\'s version '
                                 '(its --query with --dir needs Vexilware 1.0.0 or later)' % program.name, **values)
        module.exit_json(**values)

    options = folder + ['--yes']
    if params['log'] is not None:
        options.append('--log=%s' % params['log'])
    if not params['force']:
        options.append('--skip-current')
    report, values = program.run(options, lambda report: fields(report, downloaded(report)))
    if report.get('result') != 0:
        module.fail_json(msg='the download to %s failed: %s' % (program.target, failure(report)), **values)
    module.exit_json(**values)


if __name__ == '__main__':
    main()
