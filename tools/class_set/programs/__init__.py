"""Making programs: each person's PassWord.exe, the release build's very
bytes, written from reference builds of the release preset and checked
for its password before a set takes it; and every program of a set run
under Wine. Uses the set below it, never the page or a command."""
