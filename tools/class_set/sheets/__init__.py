"""The files people hand the tool and get back: rosters and answers as
spreadsheets export them, the report of a grading, everyone's links and
the slips to print. Uses the set below it, never the page or a command.

A new column of the report: sheets/report.py (COLUMNS, and its header)."""
