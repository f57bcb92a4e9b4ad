// The Win32 side of the launcher that has no counterpart on other hosts:
// the DLL search restriction and the fatal-error report.
#pragma once

#include <string>

// Limits the search for DLLs loaded from now on to the system folder, so that
// a DLL placed next to the program (typically in a Downloads folder) is never
// loaded into it. Does nothing on a system without SetDefaultDllDirectories.
void RestrictDllSearchToSystem();

// Shows the fatal-error report: a task-modal message box without owner, with
// the error icon and one OK button, caption "Anwendungsfehler". `address` is
// the absolute address of the raising code, or null.
void ShowFatalReport(const std::string& className, const std::string& message, const void* address);
