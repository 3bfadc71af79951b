# -*- coding: utf-8 -*-
# Copyright: 2026 The Vexilware developers; all rights reserved (see LICENSE)
"""What the collection's modules share: their common options, the target line, and one run of
vexil-download --json with every way it can fail to give a result.

The modules wrap the program and add no knowledge of their own: addresses, model names,
versions and outcomes are the program's to check and to name, and reach the task as the
program wrote them. A task fails here only when the program gave no result to map, when a
parameter cannot reach its command line or names an input file that cannot be read, or, in
check mode, where the program is not given the log, when the log is one the program would
refuse."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import json
import os
import stat

from ansible.module_utils.six import string_types

# The exit status of a run that sent nothing past the version query (a download file missing,
# damaged or not the one its checksums file lists), of a usage error (a bad option, a refused
# address, a log that cannot be written, a checksums file that cannot be read as one) and of a
# run that went as reported but is not on record (its log line or standard output could not be
# written).
EXIT_NOT_STARTED = 6
EXIT_USAGE = 64
EXIT_NOT_RECORDED = 74

# The outcome of a download that found the print server current and sent nothing more.
ALREADY_CURRENT = 'already-current'

# How many of the program's last lines of standard error explain a failure.
REASON_LINES = 6


def common_argument_spec():
    """The options every module takes (documented in the doc fragment common)."""
    return dict(
        target=dict(type='str', required=True),
        model=dict(type='str', required=True),
        executable=dict(type='path', default='vexil-download'),
    )


def nul_parameter(params):
    """The name of the first parameter whose text holds a NUL byte, which no command line can
    carry, or None."""
    for name in sorted(params):
        if isinstance(params[name], string_types) and '\0' in params[name]:
            return name
    return None


def log_refusal(path):
    """Why vexil-download would refuse `path` as its --log, or None: before anything is sent it
    checks the log without creating or changing it, and check mode must fail where the run
    would. Through its symbolic links an existing log must be a regular file that can be
    written, and a missing one needs a folder that can be."""
    real = os.path.realpath(path)
    try:
        mode = os.stat(real).st_mode
    except OSError:
        folder = os.path.dirname(real) or '.'
        if not os.path.isdir(folder) or not os.access(folder, os.W_OK | os.X_OK):
            return 'it does not exist, and its folder %s cannot be written' % folder
        return None
    if not stat.S_ISREG(mode):
        return 'it is no regular file'
    if not os.access(real, os.W_OK):
        return 'it cannot be written'
    return None


def readable_refusal(path):
    """Why the file `path` cannot be read as the program reads its input files, or None."""
    try:
        mode = os.stat(path).st_mode
    except OSError as error:
        return 'it cannot be found (%s)' % (error.strerror or error)
    if not stat.S_ISREG(mode):
        return 'it is no regular file'
    if not os.access(path, os.R_OK):
        return 'it cannot be read'
    return None


def target_options(line):
    """The program's options for one targets-file line, such as "tcp 192.0.2.10" or
    "ipx 00000001:00D1F0123456" (a "#" comment may follow), or None when the line names no
    target. The address is the program's to check."""
    words = line.split('#', 1)[0].split()
    if len(words) != 2 or words[0] not in ('tcp', 'ipx'):
        return None
    # One word with its option, so that an address that begins with "-" stays the address.
    return ['--%s=%s' % (words[0], words[1])]


def message(value):
    """A message of the report, {number, text} or None, as the program gave it."""
    return value if isinstance(value, dict) else None


def one_line(text):
    """A message's lines as one line: English lines are joined by a space, Japanese ones
    (a line break between two Japanese characters) directly, as no space belongs there."""
    joined = ''
    for line in text.splitlines():
        line = line.strip()
        if joined and line and (ord(joined[-1]) < 0x80 or ord(line[0]) < 0x80):
            joined += ' '
        joined += line
    return joined


def message_texts(report):
    """The first and the last message of a report, each once, for a task's failure."""
    texts = []
    for key in ('firstMessage', 'lastMessage'):
        shown = message(report.get(key))
        if shown is not None:
            text = '%s %s' % (shown.get('number'), one_line(str(shown.get('text', ''))))
            if text not in texts:
                texts.append(text)
    return '; '.join(texts)


def reason(stderr):
    """The last lines of the program's standard error, which say why it stopped."""
    lines = [line.strip() for line in (stderr or '').splitlines() if line.strip()]
    return ' / '.join(lines[-REASON_LINES:]) or 'nothing on standard error'


def find_report(stdout):
    """The target's JSON object among the lines of standard output (the summary object and
    anything that is no JSON object are passed over), or None."""
    for line in (stdout or '').splitlines():
        try:
            found = json.loads(line)
        except ValueError:
            continue
        if isinstance(found, dict) and 'summary' not in found and 'result' in found:
            return found
    return None


class VexilDownload:
    """The installed vexil-download for one module run."""

    def __init__(self, module):
        self.module = module
        # Refused here, where the task can name it: the program's command line cannot carry it.
        nul = nul_parameter(module.params)
        if nul is not None:
            module.fail_json(msg='%s holds a NUL byte, which no command line can carry' % nul)
        self.name = module.params['executable']
        self.target = module.params['target']
        self.path = self._find()
        self.target_options = target_options(self.target)
        if self.target_options is None:
            module.fail_json(msg='target %r is no target line: give "tcp A.B.C.D" or '
                                 '"ipx NETWORK:NODE", as a line of a targets file' % self.target)

    def require_readable(self, option, path):
        """Fails the task, naming the option, when the file `path` of the host where the task
        runs cannot be read, before the program runs (it would refuse it as a usage error)."""
        refusal = readable_refusal(path)
        if refusal is not None:
            self.module.fail_json(msg='%s %s: %s on the host where the task runs' % (option, path, refusal))

    def _find(self):
        # A bare name is looked up on the PATH of the host where the task runs, as a shell would.
        if os.sep not in self.name:
            found = self.module.get_bin_path(self.name)
            if found is None:
                self.module.fail_json(msg='%s is not installed: it is not on the PATH (%s) of the '
                                          'host where the task runs' % (self.name, os.environ.get('PATH', '')))
            return found
        if not os.path.isfile(self.name) or not os.access(self.name, os.X_OK):
            self.module.fail_json(msg='%s is not an executable file' % self.name)
        return self.name

    def run(self, options, fields):
        """Runs the program with --json, the model, the target and `options` once, and returns
        its report and `fields(report)`, the module's return values. The task fails here when
        the program could not run, refused its options, was killed, gave no report, or could
        not put its run on record (then with the report's values: the print server may have
        been changed all the same)."""
        args = [self.path, '--json', '--model=%s' % self.module.params['model']]
        args += self.target_options + options
        try:
            # In English whatever the runner's locale, so that what is parsed and shown in a
            # task's reason reads the same on every host; the numbers never change with it.
            status, stdout, stderr = self.module.run_command(args, handle_exceptions=False,
                                                             environ_update=dict(LANGUAGE='en'))
        except (OSError, IOError) as error:
            self.module.fail_json(msg='cannot run %s: %s' % (self.path, error), cmd=args)
        if status == EXIT_USAGE:
            self.module.fail_json(msg='%s refused the task: %s' % (self.name, reason(stderr)),
                                  cmd=args, rc=status)
        if status < 0:
            self.module.fail_json(msg='%s was ended by signal %d: %s' % (self.name, -status, reason(stderr)),
                                  cmd=args, rc=status)
        report = find_report(stdout)
        if report is None and status == EXIT_NOT_STARTED:
            # Refused before any target began, such as a download file that its checksums file
            # does not list with the same sum: the program's own sentence says which.
            self.module.fail_json(msg='%s sent nothing (exit status %d): %s' % (self.name, status, reason(stderr)),
                                  cmd=args, rc=status)
        if report is None:
            self.module.fail_json(msg='%s gave no result (exit status %d): %s' % (self.name, status, reason(stderr)),
                                  cmd=args, rc=status)
        values = fields(report)
        if status == EXIT_NOT_RECORDED:
            self.module.fail_json(msg='%s ran, but its run is not on record: %s' % (self.name, reason(stderr)),
                                  cmd=args, rc=status, **values)
        return report, values
