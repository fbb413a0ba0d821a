/* Judging what the user typed into the password field. */
#ifndef ENTRY_H
#define ENTRY_H

#ifdef _WIN32
#include <windows.h>
#else
#include "win32_stand_in.h"
#endif

enum EntryOutcome { Incomplete, Rejected, Accepted };

/* The verdict on the field's text of `length` bytes. Pure. */
EntryOutcome CheckEntry(const char *text, int length);

/* The whole reaction to one change of the field: judge it, show the
   verdict owned by `owner`, then empty the field. */
void HandleEntryUpdate(HWND owner, HWND field);

#endif
