#!/usr/bin/env python3
"""Runs the shared converter fixtures when they are present; exit 77 (skipped) otherwise."""
import os
import subprocess
import sys

converter, fixtures = sys.argv[1], sys.argv[2]
runner = os.path.join(fixtures, "run_fixtures.py")
if not os.path.isfile(runner) or not os.path.isdir(os.path.join(fixtures, "cases")):
    print("shared fixtures not found at %s: skipped" % fixtures)
    sys.exit(77)
sys.exit(subprocess.call([sys.executable, runner, converter, os.path.join(fixtures, "cases")]))
