/* Judging what the user typed into the password field. */
#ifndef ENTRY_H
#define ENTRY_H

enum EntryOutcome { Incomplete, Rejected, Accepted };

/* The verdict on the field's text of `length` bytes. Pure. */
EntryOutcome CheckEntry(const char *text, int length);

/* A window handle as <windows.h> declares it: the judge, compiled once per
   password, stays clear of that header. */
typedef struct HWND__ *HWND;

/* The whole reaction to one change of the field: judge it, show the
   verdict owned by `owner`, then empty the field. */
void HandleEntryUpdate(HWND owner, HWND field);

#endif
