# -*- coding: utf-8 -*-
# Copyright: 2026 The Vexilware developers; all rights reserved (see LICENSE)
"""The modules import their shared code as ansible_collections.vexilware.printserver, so the
tests run from a tree in which the collection lies at ansible_collections/vexilware/printserver
(as ansible-test and an installed collection have it); the folder above that tree is put on the
import path."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import os
import sys

_collection = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
_tree = os.path.dirname(os.path.dirname(_collection))
if os.path.basename(_tree) != 'ansible_collections':
    raise RuntimeError('run the tests from a copy of the collection at '
                       'ansible_collections/vexilware/printserver, not from %s' % _collection)
if os.path.dirname(_tree) not in sys.path:
    sys.path.insert(0, os.path.dirname(_tree))
