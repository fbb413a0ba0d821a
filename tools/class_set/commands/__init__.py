"""The organiser's commands: a module each, holding its words (NAME,
SUMMARY, DESCRIPTION), its options (options(parser)), its runner
(run(args)) and its work. COMMANDS is the table that __main__ makes the
command line of, in the order --help lists them.

A new command: a module here, with the same four, named in COMMANDS.
Imports that only the work needs (Flask, openpyxl) go inside it: the
command line is made from every module at each start."""
from . import address, board_key, build, clock, extra_time, grade, links, rekey, remove, restore, serve, who

COMMANDS = [build, who, grade, serve, clock, extra_time, links, rekey, address, board_key, remove, restore]
