"""The organiser's commands: a module each, holding its options and its
work. The command line is made from them by __main__.

A new command: a module here, with its options and its work, named in
__main__'s table."""
