// quarrion_record.exe as the crash tests build it: after the step QUARRION_CRASH_AFTER names
// ("<command>:<step>"), it notes the step in the file QUARRION_CRASH_MARK and ends setup or the
// uninstaller that ran it, and itself, at once: nothing after that step happens, as when the
// power goes. With QUARRION_CRASH_ALONE set, it ends only itself, with status 0, as Wine reports
// a program that a signal ended.

#include "steps.hpp"
#include "owners.hpp"
#include "text.hpp"

#include <windows.h>
#include <tlhelp32.h>

#include <filesystem>
#include <fstream>

namespace record {

namespace {

DWORD ParentProcessId() {
    const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    const DWORD own = ::GetCurrentProcessId();
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more != FALSE;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == own) {
            return entry.th32ParentProcessID;
        }
    }
    return 0;
}

} // namespace

void Changed(const std::wstring& step) {
    if (Environment(L"QUARRION_CRASH_AFTER") != step) {
        return;
    }
    std::ofstream(std::filesystem::path(Environment(L"QUARRION_CRASH_MARK")), std::ios::binary)
        << Utf8(step);
    const bool alone = !Environment(L"QUARRION_CRASH_ALONE").empty();
    if (!alone) {
        const UniqueHandle parent(::OpenProcess(PROCESS_TERMINATE, FALSE, ParentProcessId()));
        ::TerminateProcess(parent.get(), 9);
    }
    ::TerminateProcess(::GetCurrentProcess(), alone ? 0 : 9);
}

} // namespace record
