"""The set on disk, OUT: who is in it (answers.csv, keys.csv, details.csv,
walkins.csv, removed.csv), their programs (handout/ and its SHA256SUMS),
and what they handed in (checkins.sqlite). Nothing here imports a layer
above it: programs, sheets, the page or a command.

A new file of the set: its name in files, and a module of its own with
the one function that writes it, the one that reads it and the one that
finds a row in it."""
