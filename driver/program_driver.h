/* Works PassWord.exe from another process the way a person does: starts it,
   types into its field, reads and dismisses its boxes, closes it. Used by the
   end-to-end tests, the class-set verifier and the benchmark. */
#ifndef PROGRAM_DRIVER_H
#define PROGRAM_DRIVER_H

#include <windows.h>

#include <string>

#include "password_window.h"
#include "verdicts.h"

extern const char kFailureCaption[];
extern const char kSuccessCaption[];
extern const char kBoxClass[];

// The program of that name in this program's folder.
std::string Beside(const char *name);

// WM_GETTEXT, since GetWindowTextA does not reach another process's controls.
std::string TextOf(HWND hwnd);

// A visible top-level window of the process and class; looks at least once,
// however short the wait.
HWND WaitForWindow(DWORD pid, const char *cls, DWORD timeoutMs = 10000);

template <typename Done> bool WaitUntil(Done done, DWORD timeoutMs = 5000)
{
    for (DWORD start = GetTickCount(); !done(); Sleep(1))
        if (GetTickCount() - start >= timeoutMs)
            return false;
    return true;
}

struct Program {
    PROCESS_INFORMATION pi = {};
    HWND hwndMain = NULL, hwndField = NULL;

    ~Program();

    // False when the program does not show its window with a field.
    bool Start(const std::string &path, WORD show = SW_SHOWNORMAL);

    // Characters posted to the field, without key strokes.
    void Post(const std::string &keys);

    // The caption of the box that comes up, "(no box)" if none does; its
    // text through `text`.
    std::string Dismiss(std::string *text = NULL, DWORD timeoutMs = 10000);

    // A verdict's caption. The field must keep the entry while the box is up
    // and be empty once it is dismissed; a breach is added to the caption.
    std::string Answer();

    // Closed from the system menu: the exit code, or STILL_ACTIVE.
    DWORD Close();
};

#endif
