"""class-set: one PassWord.exe per person of a group, each with a password
of its own, and what an organiser does with the set afterwards: find whose
password a word is, grade the answers people handed in, or collect them
through a page of its own.

Modules: roster (names and their folders), records (a set on disk),
building, verifying (under Wine), grading, checkins (the answers handed in
through the page, in SQLite) and web (the page and the board); __main__ is
the command line.
"""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
