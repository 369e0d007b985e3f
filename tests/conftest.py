"""Shared test set-up: tests import helpers such as siphash_reference from this folder."""

import os
import sys

sys.path.insert(0, os.path.dirname(__file__))
