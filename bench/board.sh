#!/bin/bash
# The board of a big room after a change of its people; see bench/board.py.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup
PYTHONPATH=tests exec bash scripts/python bench/board.py  # the stand-in sets live with the tests
