// Stands in for the game: records how it was started where the test says, then tells the test.
// The record is the command line, the working folder, the show command, the path of the program
// that actually ran (a planted copy records its own), the command line as a game that reads it in
// the ANSI code page gets it (read back into UTF-16), and argv[0], each ended by a NUL.
// For timing, it first signals QUARRION_STANDIN_STARTED, before doing anything else.

#include "text.hpp"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring CurrentFolder() {
    std::wstring folder(MAX_PATH * 4, L'\0');
    folder.resize(::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
    return folder;
}

std::wstring AnsiCommandLine() {
    const char* line = ::GetCommandLineA();
    const int bytes = static_cast<int>(std::char_traits<char>::length(line));
    std::wstring read(static_cast<std::size_t>(bytes), L'\0');
    read.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_ACP, 0, line, bytes, read.data(), bytes)));
    return read;
}

void Signal(const wchar_t* variable) {
    const std::wstring name = Environment(variable);
    if (name.empty()) {
        return;
    }
    if (const HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str())) {
        ::SetEvent(event);
        ::CloseHandle(event);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
    Signal(L"QUARRION_STANDIN_STARTED");
    STARTUPINFOW startup{};
    ::GetStartupInfoW(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : -1;

    std::wstring record = ::GetCommandLineW();
    record.push_back(L'\0');
    record += CurrentFolder();
    record.push_back(L'\0');
    record += std::to_wstring(show);
    record.push_back(L'\0');
    std::wstring program(32767, L'\0');
    program.resize(
        ::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size())));
    record += program;
    record.push_back(L'\0');
    record += AnsiCommandLine();
    record.push_back(L'\0');
    record += __wargv != nullptr && __argc > 0 ? __wargv[0] : L"";
    record.push_back(L'\0');

    const std::wstring recordPath = Environment(L"QUARRION_STANDIN_RECORD");
    if (!recordPath.empty()) {
        const HANDLE file = ::CreateFileW(recordPath.c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            const std::size_t bytes = record.size() * sizeof(wchar_t);
            ::WriteFile(file, record.data(), static_cast<DWORD>(bytes), &written, nullptr);
            ::CloseHandle(file);
        }
    }
    Signal(L"QUARRION_STANDIN_EVENT");
    return 0;
}
