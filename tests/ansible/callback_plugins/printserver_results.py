# -*- coding: utf-8 -*-
"""Writes one line per result of the collection's modules to the file $PRINTSERVER_RESULTS, for
run.sh to check: the inventory host, the module, changed and failed, and the values returned.
The default callback's output stays as it is."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import os

from ansible.plugins.callback import CallbackBase

FIELDS = ('answered', 'version', 'version_before', 'version_after', 'file_version', 'file_sha256', 'outcome',
          'result')


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'aggregate'
    CALLBACK_NAME = 'printserver_results'
    CALLBACK_NEEDS_ENABLED = True

    def _write(self, result, failed):
        module = result._task.action.rsplit('.', 1)[-1]
        if not module.startswith('printserver_'):
            return
        values = result._result
        words = [result._host.get_name(), module, 'changed=%s' % bool(values.get('changed')), 'failed=%s' % failed]
        words += ['%s=%s' % (key, values[key]) for key in FIELDS if key in values]
        if failed:
            words.append('msg=%s' % values.get('msg', ''))
        with open(os.environ['PRINTSERVER_RESULTS'], 'a') as results:
            results.write(' '.join(words) + '\n')

    def v2_runner_on_ok(self, result):
        self._write(result, False)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._write(result, True)
