#!/usr/bin/env python3
"""Times class-set grade: 10,000 answers for 1,000 people (each answers ten
times, the tenth time right; some hand in a neighbour's password), on a set
laid out by hand. Run: PYTHONPATH=tests bash scripts/python bench/grade.py"""
import csv
import os
import random
import subprocess
import sys
import tempfile
import time

import stand_in_set

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

with tempfile.TemporaryDirectory() as top:
    people = stand_in_set.lay_out(os.path.join(top, 'set'), 1000)
    answers = os.path.join(top, 'answers.csv')
    rng = random.Random(7)
    with open(answers, 'w', newline='', encoding='utf-8') as f:
        writer = csv.writer(f, delimiter=';')
        writer.writerow(['Timestamp', 'Name', 'Password'])
        for round_ in range(10):
            for i, (name, password) in enumerate(people):
                word = password if round_ == 9 else people[(i + 1) % len(people)][1] if rng.random() < 0.01 else 'wrong'
                writer.writerow([f'2026-12-07 10:{round_:02d}', f'  {name.upper()} ', word])
    start = time.monotonic()
    result = subprocess.run(['bash', os.path.join(ROOT, 'scripts', 'class-set'), 'grade', os.path.join(top, 'set'),
                             answers], capture_output=True, text=True)
    spent = time.monotonic() - start
    if result.returncode:
        sys.exit(result.stderr)
    print(f'date: {time.strftime("%Y-%m-%d")}')
    print(f'grade, 10000 answers for 1000 people: {spent:.2f} s ({result.stderr.splitlines()[0]})')
