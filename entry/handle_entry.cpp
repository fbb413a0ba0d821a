#include "entry.h"
#include "password_window.h"

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

/* Code page 1251, indexed by EntryOutcome. */
static const VerdictMessage VerdictMessages[] = {
    { 0, 0, 0 },
    /* "НЕУДАЧА (попробуйте еще раз)!" */
    { "\xCD\xC5\xD3\xC4\xC0\xD7\xC0 (\xEF\xEE\xEF\xF0\xEE\xE1\xF3\xE9\xF2\xE5 "
      "\xE5\xF9\xE5 \xF0\xE0\xE7)!",
      SZ_FAILURE_CAPTION, MB_OK | MB_ICONHAND },
    /* "ПОБЕДА! Можете сдавать РАБОТУ!" / "УДАЧА!" */
    { "\xCF\xCE\xC1\xC5\xC4\xC0! \xCC\xEE\xE6\xE5\xF2\xE5 "
      "\xF1\xE4\xE0\xE2\xE0\xF2\xFC \xD0\xC0\xC1\xCE\xD2\xD3!",
      SZ_SUCCESS_CAPTION, MB_OK | MB_ICONINFORMATION },
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
