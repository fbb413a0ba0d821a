"""class-set: one PassWord.exe per person of a group, each with a password
of its own, and what an organiser does with the set afterwards: find whose
password a word is, grade the answers people handed in, or collect them
through a page of its own.

Modules, by job:
- __main__ (a function per command) and cli (its words); errors (Refusal
  and the exit codes); language (English and Russian for people: the
  catalogs in translations/, babel.cfg says what is in them); address
  (the machine's address on the room's network);
- roster (the organiser's list or table), names (comparing names, their
  folders), files (files people hand in and get back);
- rows (answers.csv), keys (keys.csv), details (details.csv: the roster's
  other columns and ids, and how namesakes are told apart), walkin_list
  (walkins.csv), removed_list (removed.csv), set_folder (the set on disk,
  its checks and its lock), swap (a new set put in place in one step),
  appending (one person added in place, under a journal);
- judge_code (the judge's machine code), compiling (the release preset),
  template (programs written from reference builds), progress;
- building (build), walkins (enrolling at the page), removal (remove and
  restore), who, grading (whose each answer is), report (the report, as
  CSV or workbook), links (links, slips and rekey),
  verifying (under Wine), checkins (the answers handed in through the
  page, in SQLite);
- web: the page and the board (create_app, blueprints page and board,
  room, standing (what the board shows, kept up as answers come),
  problems, serving (one process, waitress), workers (past one process,
  gunicorn)).
"""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
