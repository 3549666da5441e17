#!/usr/bin/env python3
"""Runs end-to-end tests: `run.py --list` prints the ids of the tests in the
*_test.py modules beside it, one a line; `run.py --mode native|wine --bin
BUILD/bin ID...` runs the given tests against the programs of that build."""

import argparse
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import harness  # noqa: E402


def all_tests(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from all_tests(item)
        else:
            yield item


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--mode", choices=["native", "wine"], default="native")
    parser.add_argument("--bin")
    parser.add_argument("ids", nargs="*")
    options = parser.parse_args()

    loader = unittest.TestLoader()
    if options.list:
        suite = loader.discover(HERE, pattern="*_test.py", top_level_dir=HERE)
        for test in all_tests(suite):
            print(test.id())
        return 0

    harness.MODE = options.mode
    harness.BIN_DIR = os.path.abspath(options.bin)
    suite = loader.loadTestsFromNames(options.ids)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    if not result.wasSuccessful():
        return 1
    # Tell ctest about a test that had nothing to run here.
    if result.skipped and result.testsRun == len(result.skipped):
        print("skipped: " + "; ".join(reason for _, reason in result.skipped))
        return 77
    return 0


if __name__ == "__main__":
    sys.exit(main())
