"""class-set: one PassWord.exe per person of a group, each with a password
of its own, and what an organiser does with the set afterwards: find whose
password a word is, grade the answers people handed in, or collect them
through a page of its own.

Modules, by job:
- The command line: __main__ (a function per command), cli (its words),
  errors (Refusal and the exit codes), progress (long steps on the
  terminal), language (English and Russian: the catalogs in
  translations/, babel.cfg says what is in them), address (this
  machine's address on the room's network), limits (the numbers that
  bound serve, with their defaults).
- People and their names: roster (the organiser's list or table), names
  (comparing names, their folders), files (files people hand in and get
  back: rosters, answers, reports, workbooks).
- The set on disk: set_files (the set's files: names, CSV text, private
  writes, the lock), rows (answers.csv, the records), keys (keys.csv),
  details (details.csv: the roster's other columns and ids, how
  namesakes are told apart), set_folder (the set read, checked and laid
  out), swap (a new set put in place in one step), in_place (one person
  added or people removed in place, under a journal).
- Programs: judge_code (the judge's machine code), compiling (the release
  preset), template (programs written from reference builds), verifying
  (every program under Wine).
- The commands: building (build), enrolment (walk-ins at the page),
  removal (remove and restore), who, links (links, slips and rekey),
  grading (whose each answer is), report (the report, as CSV or
  workbook), checkins (the answers handed in through the page, in SQLite).
- web: the page and the board (create_app, the blueprints page and board,
  room (the set as the page sees it, and the budgets), standing (what the
  board shows, kept up as answers come), problems, serving (serve in one
  process, waitress), workers (past one process, gunicorn)).
"""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
