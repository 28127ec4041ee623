#pragma once

// Starting a program, the one way every part of the project does it.

#include "owners.hpp"

#include <windows.h>

#include <string>

struct ProcessStart {
    const wchar_t* program = nullptr; // the exact file to run; null: the command line's first word
    const wchar_t* folder = nullptr;  // its working folder; null: ours
    int show = -1;                    // a show-window command (SW_...); -1: the program's default
};

// Starts `commandLine`, which process creation may change in place. The program runs on its own;
// `process` holds its handles until it goes. False when it could not be started.
inline bool StartProcess(std::wstring& commandLine, UniqueProcessInformation& process,
                         const ProcessStart& how = {}) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (how.show >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(how.show);
    }
    return ::CreateProcessW(how.program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            how.folder, &startup, process.put()) != FALSE;
}
