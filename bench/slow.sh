#!/bin/bash
# A room under a slow attack, for serve in one process and behind nginx; see bench/slow.py.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup
PYTHONPATH=tests:tools exec bash scripts/python bench/slow.py  # the stand-in sets and the room live with the tests
