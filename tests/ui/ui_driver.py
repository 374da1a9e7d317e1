#!/usr/bin/env python3
"""Runs the window scenarios (scenarios/*.py, in scenarios.ORDER) with the driver (driver.py)
against a started test bed, the way a user would drive the window.

  ui_driver.py --build BUILD_DIR --source SOURCE_DIR [--testbed TESTBED_DIR] [--only NAME]
  ui_driver.py --list

Without --only every scenario runs in turn; --only NAME runs the scenario NAME, or if there is
none of that name those whose name contains NAME (ctest runs one scenario per entry,
tools/run-demo.sh runs real_install). The test bed is
TESTBED_DIR, else LUM_TESTBED from the environment, else BUILD_DIR/testbed; one with a network
namespace of its own is reached through tools/testbed/in-testbed.sh. Each scenario starts from
the test bed as testbed.sh left it and leaves it so. --list prints one line per scenario: its
name, then the scenarios whose results it needs.
"""
import argparse
import importlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import scenarios  # noqa: E402
from driver import Driver  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build")
    parser.add_argument("--source")
    parser.add_argument("--testbed", help="the test bed (default: LUM_TESTBED, else BUILD/testbed)")
    parser.add_argument("--only", help="run the scenarios whose name contains this")
    parser.add_argument("--list", action="store_true", help="list the scenarios and what they need")
    args = parser.parse_args()
    modules = {name: importlib.import_module("scenarios." + name) for name in scenarios.ORDER}
    if args.list:
        for name, module in modules.items():
            print(" ".join([name, *getattr(module, "NEEDS", ())]))
        return 0
    if not args.build or not args.source:
        parser.error("--build and --source are required")
    names = scenarios.ORDER
    if args.only in names:
        names = [args.only]
    elif args.only:
        names = [name for name in names if args.only in "scenario_" + name]
    driver_class = type("UiDriver", (Driver, *(module.Scenario for module in modules.values())), {})
    driver = driver_class(args.build, args.source, args.testbed)
    return driver.run_scenarios(names)


if __name__ == "__main__":
    sys.exit(main())
