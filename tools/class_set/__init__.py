"""class-set: one PassWord.exe per person of a group, each with a password
of its own, and what an organiser does with the set afterwards: find whose
password a word is, grade the answers people handed in, or collect them
through a page of its own.

The house, in layers; each imports only from those below it (the tests
keep it so):
- commands/: the command line, a module per command holding its options
  and its work (build, who, grade, serve, clock, extra_time, links, rekey,
  remove, restore, board_key, address), options (what their parsers share), and COMMANDS,
  the table that __main__ reads.
- web/: the check-in page and the board: create_app, the blueprints page
  and board, room (the set as the page sees it, and the budgets),
  standing (what the board shows), chart (the wall's), clockface (what
  the pages say of the clock), enrolment (walk-ins at the door),
  problems, serving (one process, waitress), workers (past one process,
  gunicorn).
- sheets/: the files people hand the tool and get back: tables (reading
  them, CSV), office (.xlsx and .ods spreadsheets), roster, report,
  gradebook (what a school's gradebook imports), links (and the slips).
- programs/: making programs: compiling (the release preset), template
  (programs written from reference builds), placing (programs put into a
  set), verifying (every program under Wine).
- set/: the set on disk, a module for each of its files, which writes,
  reads and searches it: records (answers.csv), keys, details, walkins,
  removals (removed.csv), sums (SHA256SUMS), store (checkins.sqlite, and
  in it the room's clock), journal (.change); clock (when the room opens
  and closes, extra time); and files (their names, CSV text, writes, the lock),
  in_place (one person added or removed in place), removing (a removal's
  texts), swap (a new set put in place), folder (the set read, checked,
  laid out, locked), people (the one model of the set's people), groups
  (the roster's groups, and a file each), grading (whose each answer is).
- Below them all: errors (Refusal, Failure and the exit codes), language
  (English and Russian), names (comparing names, their folders), times
  (one kind of time: instants, as files hold them and as people read
  them), progress, address (this machine's on the room's network), limits
  (serve's numbers, with their defaults), judge_code (the judge's machine
  code, read back out of a program).
"""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
