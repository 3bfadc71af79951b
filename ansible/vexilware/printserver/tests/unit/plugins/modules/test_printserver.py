# -*- coding: utf-8 -*-
# Copyright: 2026 The Vexilware developers; all rights reserved (see LICENSE)
"""Both modules against a fake vexil-download: a script that records its arguments, prints the
standard output and error it is given and ends with the status it is given (or by a signal).
The rows check what the modules pass to the program and how they map what it reports: success,
change, failure, and every way the program can give no result, each a failed task with a
reason and never a traceback."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import sys

import pytest

from ansible.module_utils import basic
from ansible.module_utils.common.text.converters import to_bytes
from ansible_collections.vexilware.printserver.plugins.modules import printserver_firmware, printserver_info

FAKE = '''#!%s
import json, os, signal, sys
with open(sys.argv[0] + '.args', 'w') as f:
    json.dump(sys.argv[1:], f)
with open(sys.argv[0] + '.language', 'w') as f:
    f.write(os.environ.get('LANGUAGE', '(unset)'))
with open(sys.argv[0] + '.answer') as f:
    answer = json.load(f)
sys.stdout.write(answer['stdout'])
sys.stderr.write(answer['stderr'])
sys.stdout.flush()
sys.stderr.flush()
if answer['signal']:
    os.kill(os.getpid(), answer['signal'])
sys.exit(answer['status'])
''' % sys.executable

MESSAGE_112 = {'number': 112, 'text': 'バージョン情報取得に失敗しました。'}
MESSAGE_110 = {'number': 110, 'text': 'ダウンロードが終了しました。\nプリンタの電源をリセットしてください。'}
MESSAGE_110_EN = {'number': 110, 'text': 'The download has finished.\r\nSwitch the printer off and on again.'}


def report(**fields):
    """A target's JSON object as vexil-download writes it, with the given fields changed."""
    base = {'target': 'tcp 192.0.2.10', 'model': 6, 'query': False, 'outcome': 'succeeded', 'result': 0,
            'modelCode': 'aa01', 'versionBefore': '1.00', 'versionAfter': '1.10', 'fileVersion': '1.10',
            'current': False, 'firstMessage': None, 'lastMessage': MESSAGE_110, 'seconds': 27.5,
            'start': '2026-12-07T09:22:11Z', 'end': '2026-12-07T09:22:38Z', 'logged': False, 'note': None}
    base.update(fields)
    return json.dumps(base, ensure_ascii=False) + '\n{"summary":{"targets":1}}\n'


@pytest.fixture
def fake(tmp_path):
    program = tmp_path / 'vexil-download'
    program.write_text(FAKE)
    program.chmod(0o755)
    return str(program)


def run(module, fake, capsys, args, check_mode=False, stdout='', stderr='', status=0, signal=0):
    """Runs `module` with `args` against the fake program; returns the task's result and the
    program's arguments (None when it was not run)."""
    with open(fake + '.answer', 'w') as answer:
        json.dump(dict(stdout=stdout, stderr=stderr, status=status, signal=signal), answer)
    if os.path.exists(fake + '.args'):
        os.remove(fake + '.args')
    args = dict(dict(executable=fake, target='tcp 192.0.2.10', model='6'), **args)
    args['_ansible_check_mode'] = check_mode
    basic._ANSIBLE_ARGS = to_bytes(json.dumps({'ANSIBLE_MODULE_ARGS': args}))
    with pytest.raises(SystemExit):
        module.main()
    result = json.loads(capsys.readouterr().out)
    assert 'exception' not in result, result
    passed = None
    if os.path.exists(fake + '.args'):
        with open(fake + '.args') as f:
            passed = json.load(f)
    return result, passed


FIRMWARE = dict(firmware_dir='/srv/fw')
# A checksums file that can be read (the fake program reads none), and two sums.
SUMS = os.path.abspath(__file__)
SUM_A = '9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08'
SUM_B = '60303ae22b998861bce3b28f33eec1be758a213c86c93c076dbe9f558c11c752'
MISMATCH = 'the download file RS.BIN has the SHA-256 %s, not the one the checksums file %s lists' % (SUM_A, SUMS)

# What each task passes to the program, after "--json --model=6".
ARGUMENT_ROWS = [
    ('info over TCP/IP', printserver_info, {}, False, ['--tcp=192.0.2.10', '--query']),
    ('info over IPX, a comment after', printserver_info, dict(target=' ipx 00000001:00D1F0123456\t# lobby'),
     False, ['--ipx=00000001:00D1F0123456', '--query']),
    ('an address that begins with -', printserver_info, dict(target='tcp --help'), False,
     ['--tcp=--help', '--query']),
    ('firmware', printserver_firmware, FIRMWARE, False, ['--tcp=192.0.2.10', '--dir=/srv/fw', '--yes', '--skip-current']),
    ('firmware forced, with a log', printserver_firmware, dict(FIRMWARE, force=True, log='/var/log/d.log'), False,
     ['--tcp=192.0.2.10', '--dir=/srv/fw', '--yes', '--log=/var/log/d.log']),
    ('firmware in check mode: the query with the folder, no log', printserver_firmware,
     dict(FIRMWARE, force=True, log='/var/log/d.log'), True, ['--tcp=192.0.2.10', '--query', '--dir=/srv/fw']),
    ('firmware with checksums', printserver_firmware, dict(FIRMWARE, checksums=SUMS), False,
     ['--tcp=192.0.2.10', '--dir=/srv/fw', '--checksums=' + SUMS, '--yes', '--skip-current']),
    ('firmware in check mode with checksums: the query checks them too', printserver_firmware,
     dict(FIRMWARE, checksums=SUMS), True, ['--tcp=192.0.2.10', '--query', '--dir=/srv/fw', '--checksums=' + SUMS]),
]


@pytest.mark.parametrize('name,module,args,check_mode,passed', ARGUMENT_ROWS, ids=[row[0] for row in ARGUMENT_ROWS])
def test_arguments(fake, capsys, name, module, args, check_mode, passed):
    result, seen = run(module, fake, capsys, args, check_mode, stdout=report(current=True))
    assert seen == ['--json', '--model=6'] + passed, result


def test_runs_in_english_whatever_the_locale(fake, capsys, monkeypatch):
    """The program runs with LANGUAGE=en under a Japanese runner, so what the modules parse
    and show never depends on the runner's locale."""
    monkeypatch.setenv('LANGUAGE', 'ja')
    monkeypatch.setenv('LC_ALL', 'ja_JP.UTF-8')
    for module, args in ((printserver_info, {}), (printserver_firmware, FIRMWARE)):
        if os.path.exists(fake + '.language'):
            os.remove(fake + '.language')
        run(module, fake, capsys, args, stdout=report())
        with open(fake + '.language') as f:
            assert f.read() == 'en', module.__name__


@pytest.mark.parametrize('target', ['udp 192.0.2.10', 'tcp', '192.0.2.10', 'tcp 192.0.2.10 extra', 'TCP 192.0.2.10',
                                    '# tcp 192.0.2.10', ''])
def test_refused_targets(fake, capsys, target):
    for module, args in ((printserver_info, {}), (printserver_firmware, FIRMWARE)):
        result, seen = run(module, fake, capsys, dict(args, target=target), stdout=report())
        assert result['failed'] and 'no target line' in result['msg'], result
        assert seen is None, 'the program ran for target %r' % target


# How a run's report and exit status become the task's result: the module, its options, check
# mode, what the program prints and its status, then the values expected (ABSENT: not
# returned) and the failure (None: not failed; else the text in msg).
ABSENT = object()
RESULT_ROWS = [
    ('info: answered', printserver_info, {}, False, report(query=True, outcome='query-succeeded', lastMessage=None), 0,
     dict(changed=False, answered=True, model_code='aa01', version='1.00', result=0, last_message=None), None),
    ('info: no answer is no failure', printserver_info, {}, False,
     report(query=True, outcome='query-failed', result=-13, modelCode=None, versionBefore=None,
            firstMessage=MESSAGE_112, lastMessage=MESSAGE_112), 13,
     dict(changed=False, answered=False, model_code=None, version=None, result=-13, first_message=MESSAGE_112), None),
    ('info: an outcome and fields of a later program', printserver_info, {}, False,
     report(query=True, outcome='query-unverified', result=-6, versionBefore=None, extra=[1]), 6,
     dict(answered=False, result=-6), None),
    ('downloaded', printserver_firmware, FIRMWARE, False, report(), 0,
     dict(changed=True, version_before='1.00', version_after='1.10', file_version='1.10', result=0,
          outcome='succeeded', first_message=None, last_message=MESSAGE_110), None),
    ('already current', printserver_firmware, FIRMWARE, False,
     report(outcome='already-current', versionBefore='1.10', lastMessage=None), 0,
     dict(changed=False, version_after='1.10', outcome='already-current'), None),
    ('a success of a later name counts as a change', printserver_firmware, FIRMWARE, False,
     report(outcome='succeeded-after-a-resend'), 0, dict(changed=True), None),
    ('a failed download', printserver_firmware, FIRMWARE, False,
     report(outcome='failed', result=-11, versionAfter=None, firstMessage={'number': 57623, 'text': 'あ\nい'},
            lastMessage={'number': 57623, 'text': 'あ\nい'}), 11,
     dict(changed=False, result=-11, outcome='failed'), 'failed: result -11: 57623 あい'),
    ('a failed download, its English lines joined by a space', printserver_firmware, FIRMWARE, False,
     report(outcome='failed', result=-11, versionAfter=None, firstMessage=MESSAGE_112, lastMessage=MESSAGE_110_EN), 11,
     dict(result=-11, last_message=MESSAGE_110_EN),
     'failed: result -11: 112 バージョン情報取得に失敗しました。; 110 The download has finished. Switch the printer off and on again.'),
    ('a download that failed after the switch to download mode is a change', printserver_firmware, FIRMWARE, False,
     report(outcome='failed', result=-11, versionAfter=None, modeSwitchSent=True), 11,
     dict(changed=True, result=-11, outcome='failed'), 'failed: result -11'),
    ('a refused switch to download mode is a change too', printserver_firmware, FIRMWARE, False,
     report(outcome='failed', result=-10, versionAfter=None, modeSwitchSent=True), 10,
     dict(changed=True, result=-10), 'failed: result -10'),
    ('a failure before the switch is no change', printserver_firmware, FIRMWARE, False,
     report(outcome='failed', result=-14, versionAfter=None, modeSwitchSent=False), 14,
     dict(changed=False, result=-14), 'failed: result -14'),
    ('a cancel after the switch is a change', printserver_firmware, FIRMWARE, False,
     report(outcome='cancelled', result=-5, versionAfter=None, modeSwitchSent=True), 5,
     dict(changed=True, outcome='cancelled'), 'failed: result -5'),
    ('a print server whose version reply was invalid', printserver_firmware, FIRMWARE, False,
     report(outcome='unverified', result=-6, versionBefore=None, versionAfter=None, firstMessage=MESSAGE_112), 6,
     dict(changed=False, result=-6, outcome='unverified'), 'result -6: 112 '),
    ('a download not on record still reports its change', printserver_firmware, dict(FIRMWARE, log='/l'), False,
     report(), 74, dict(changed=True, outcome='succeeded'),
     'not on record: information 110 ok / vexil-download: writing the log /l failed: No space left on device'),
    ('downloaded, the sums of both files', printserver_firmware, dict(FIRMWARE, checksums=SUMS), False,
     report(fileSha256=SUM_A, companionSha256=SUM_B), 0, dict(changed=True, file_sha256=SUM_A, companion_sha256=SUM_B),
     None),
    ('downloaded, one file: no companion sum', printserver_firmware, FIRMWARE, False,
     report(fileSha256=SUM_A, companionSha256=None), 0, dict(file_sha256=SUM_A, companion_sha256=ABSENT), None),
    ('a sum that does not match: nothing sent, the note names it', printserver_firmware,
     dict(FIRMWARE, checksums=SUMS), False,
     report(outcome='not-started', result=-6, current=None, versionBefore=None, versionAfter=None, fileVersion=None,
            fileSha256=SUM_A, lastMessage=None, modeSwitchSent=False, note=MISMATCH), 6,
     dict(changed=False, result=-6, file_sha256=SUM_A), 'download to tcp 192.0.2.10 failed: result -6: ' + MISMATCH),
    ('check: a sum that does not match fails, the note after the messages', printserver_firmware,
     dict(FIRMWARE, checksums=SUMS), True,
     report(query=True, outcome='query-not-started', result=-6, current=None, versionBefore=None, versionAfter=None,
            fileSha256=SUM_A, firstMessage=MESSAGE_112, lastMessage=None, modeSwitchSent=False, note=MISMATCH), 6,
     dict(changed=False, result=-6, file_sha256=SUM_A),
     'query of tcp 192.0.2.10 failed: result -6: 112 バージョン情報取得に失敗しました。; ' + MISMATCH),
    ('refused before any target began: nothing sent', printserver_firmware, FIRMWARE, False,
     '{"summary":{"targets":1}}\n', 6, {}, 'vexil-download sent nothing (exit status 6): vexil-download: ' + MISMATCH),
    ('check: would download', printserver_firmware, FIRMWARE, True,
     report(query=True, outcome='query-succeeded', versionAfter='1.00', lastMessage=None), 0,
     dict(changed=True, version_before='1.00', version_after='1.00', file_version='1.10'), None),
    ('check: current', printserver_firmware, FIRMWARE, True,
     report(query=True, outcome='query-succeeded', current=True), 0, dict(changed=False), None),
    ('check: current, forced', printserver_firmware, dict(FIRMWARE, force=True), True,
     report(query=True, outcome='query-succeeded', current=True), 0, dict(changed=True), None),
    ('check: no answer', printserver_firmware, FIRMWARE, True,
     report(query=True, outcome='query-failed', result=-13, current=None, firstMessage=MESSAGE_112), 13,
     dict(changed=False, result=-13), 'version query of tcp 192.0.2.10 failed: result -13: 112 '),
    ('check: a program that does not say whether it is current', printserver_firmware, FIRMWARE, True,
     report(query=True, outcome='query-succeeded', current=None), 0, dict(changed=False), 'did not say whether'),
    ('usage error', printserver_firmware, FIRMWARE, False, '', 64,
     {}, 'refused the task: error 57620 127 / vexil-download: see --help'),
    ('the reason is the last of many lines', printserver_info, {}, False, '', 64,
     {}, 'line 3 / line 4 / line 5 / line 6 / line 7 / vexil-download: cannot write the log /l: Permission denied'),
    ('no report', printserver_info, {}, False, 'garbage\n{"summary":{}}\n', 7, {}, 'gave no result (exit status 7)'),
    ('killed', printserver_firmware, FIRMWARE, False, '', 0, {}, 'ended by signal 9'),
]
STDERR = {
    'a download not on record still reports its change':
        'information 110 ok\nvexil-download: writing the log /l failed: No space left on device\n',
    'usage error': 'error 57620 127\nvexil-download: see --help\n',
    'refused before any target began: nothing sent': 'vexil-download: %s\n' % MISMATCH,
    'the reason is the last of many lines':
        ''.join('line %d\n' % n for n in range(1, 8)) + 'vexil-download: cannot write the log /l: Permission denied\n',
}


@pytest.mark.parametrize('name,module,args,check_mode,stdout,status,expected,failure', RESULT_ROWS,
                         ids=[row[0] for row in RESULT_ROWS])
def test_results(fake, capsys, name, module, args, check_mode, stdout, status, expected, failure):
    result, seen = run(module, fake, capsys, args, check_mode, stdout=stdout, stderr=STDERR.get(name, ''),
                       status=status, signal=9 if name == 'killed' else 0)
    assert seen is not None
    assert bool(result.get('failed')) == (failure is not None), result
    if failure is not None:
        assert failure in result['msg'], result
    for key, value in expected.items():
        if value is ABSENT:
            assert key not in result, (key, result)
        else:
            assert result[key] == value, (key, result)


@pytest.mark.parametrize('executable,reason', [('/nonexistent/vexil-download', 'is not an executable file'),
                                               ('vexil-download-nowhere', 'is not installed'),
                                               ('/', 'is not an executable file')])
def test_missing_program(fake, capsys, executable, reason):
    for module, args in ((printserver_info, {}), (printserver_firmware, FIRMWARE)):
        result, seen = run(module, fake, capsys, dict(args, executable=executable))
        assert result['failed'] and reason in result['msg'], result


@pytest.mark.parametrize('name', ['target', 'model', 'executable', 'firmware_dir', 'log'])
def test_nul_bytes(fake, capsys, name):
    """A NUL byte fails the task with the parameter's name, before the program runs."""
    for module, args in ((printserver_info, {}), (printserver_firmware, dict(FIRMWARE, log='/tmp/l'))):
        if name not in ('target', 'model', 'executable') and module is printserver_info:
            continue
        base = dict(dict(executable=fake, target='tcp 192.0.2.10', model='6'), **args)
        for check_mode in (False, True):
            result, seen = run(module, fake, capsys, dict(args, **{name: base[name] + '\0x'}), check_mode,
                               stdout=report())
            assert result['failed'] and result['msg'].startswith(name + ' holds a NUL byte'), result
            assert seen is None


def test_checksums_that_cannot_be_read(fake, capsys, tmp_path):
    """A checksums file that is missing, a folder or cannot be read fails the task with the
    parameter's name, in check mode too, before the program runs."""
    unreadable = tmp_path / 'unreadable'
    unreadable.write_text('')
    unreadable.chmod(0)
    rows = [(str(tmp_path / 'none'), 'cannot be found'), (str(tmp_path), 'no regular file')]
    if not os.access(str(unreadable), os.R_OK):  # root reads it all the same
        rows.append((str(unreadable), 'cannot be read'))
    for path, why in rows:
        for check_mode in (False, True):
            result, seen = run(printserver_firmware, fake, capsys, dict(FIRMWARE, checksums=path), check_mode,
                               stdout=report())
            assert result['failed'] and result['msg'].startswith('checksums %s: ' % path) and why in result['msg'], result
            assert seen is None, path


def test_check_mode_refuses_the_log_the_run_refuses(fake, capsys, tmp_path):
    """Check mode fails on a log that the download would refuse, before anything is sent, and
    passes one it would take, creating nothing."""
    folder = tmp_path / 'logs'
    folder.mkdir()
    existing = folder / 'old.log'
    existing.write_text('')
    (folder / 'link.log').symlink_to(existing)
    refused = [(str(tmp_path / 'none' / 'd.log'), 'its folder'), (str(folder), 'no regular file'),
               ('/dev/null', 'no regular file')]
    for log, why in refused:
        result, seen = run(printserver_firmware, fake, capsys, dict(FIRMWARE, log=log), True,
                           stdout=report(query=True, outcome='query-succeeded'))
        assert result['failed'] and 'would refuse the log' in result['msg'] and why in result['msg'], result
        assert seen is None, log
    for log in (str(existing), str(folder / 'link.log'), str(folder / 'new.log')):
        result, seen = run(printserver_firmware, fake, capsys, dict(FIRMWARE, log=log), True,
                           stdout=report(query=True, outcome='query-succeeded'))
        assert not result.get('failed') and result['changed'], result
        assert '--query' in seen
    assert sorted(os.listdir(str(folder))) == ['link.log', 'old.log'], 'check mode created a log'
