#!/usr/bin/python3
"""Runs end-to-end scenarios: run.py test_simulation [test_other ...] (names of modules here).

Exits 77 (CTest's skip) when not root; sweeps simulations that killed runs left behind first.
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True

import harness  # noqa: E402


def main(names):
    harness.require_root()
    harness.sweep_stale()
    # Ends with a teardown well before CTest's timeout would kill the run without one.
    harness.set_time_limit(int(os.environ.get("ZEPA_E2E_TIME_LIMIT", "540")))
    suite = unittest.defaultTestLoader.loadTestsFromNames(names)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    harness.teardown_all()
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:] or ["test_simulation"]))
