#include "entry.h"
#include "verdicts.h"

#include <climits>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include "win32_stand_in.h"
#endif

struct VerdictMessage {
    const char *text;
    const char *caption;
    UINT style;
};

/* Indexed by EntryOutcome. */
static const VerdictMessage VerdictMessages[] = {
    { 0, 0, 0 },
    { SZ_FAILURE_TEXT, SZ_FAILURE_CAPTION, MB_OK | MB_ICONHAND },
    { SZ_SUCCESS_TEXT, SZ_SUCCESS_CAPTION, MB_OK | MB_ICONINFORMATION },
};

static const char szEmpty[] = "";

void HandleEntryUpdate(HWND owner, HWND field)
{
    int length = GetWindowTextLengthA(field);
    if (length <= 0 || length == INT_MAX)
        return;

    char *buffer = (char *)malloc((size_t)length + 1);
    if (!buffer)
        return;

    /* In a multi-byte code page the read can be shorter than the length
       query said; judge only the bytes that were copied. */
    int copied = GetWindowTextA(field, buffer, length + 1);
    if (copied > length)
        copied = length;
    EntryOutcome outcome = copied > 0 ? CheckEntry(buffer, copied) : Incomplete;
    if (outcome != Incomplete) {
        const VerdictMessage *verdict = &VerdictMessages[outcome];
        MessageBoxA(owner, verdict->text, verdict->caption, verdict->style);
        SetWindowTextA(field, szEmpty);
    }
    free(buffer);
}
