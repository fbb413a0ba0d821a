#!/bin/bash
# Times class-set serve on sets of 1,000, 10,000 and 100,000 people (SIZES
# to choose): start, enrolments, rekey, removal, the board, answers a
# second with 100 clients, and memory; see bench/page.py.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup
PYTHONPATH=tests exec bash scripts/python bench/page.py  # the stand-in sets live with the tests
