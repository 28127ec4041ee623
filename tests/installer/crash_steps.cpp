// quarrion_record.exe as the crash tests build it: after the step QUARRION_CRASH_AFTER names
// ("<command>:<step>", or "<command>:#<n>" for the nth change that command makes), it notes the
// step in the file QUARRION_CRASH_MARK and ends setup or the uninstaller that ran it, and
// itself, at once: nothing after that step happens, as when the power goes. With
// QUARRION_CRASH_ALONE set, it ends only itself, with status 0, as Wine reports a program that a
// signal ended. With QUARRION_PLAN_COPY set, may-install copies setup's plan there first.

#include "steps.hpp"
#include "owners.hpp"
#include "text.hpp"

#include <windows.h>
#include <tlhelp32.h>

#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <string>

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

bool Reached(const std::wstring& step) {
    const auto wanted = Environment(L"QUARRION_CRASH_AFTER");
    const auto counted = wanted.find(L":#");
    if (counted == std::wstring::npos) {
        return wanted == step;
    }
    static int changes = 0;
    return step.starts_with(wanted.substr(0, counted + 1)) && !step.ends_with(L":start") &&
           ++changes == std::stoi(wanted.substr(counted + 2));
}

// The plan may-install is given, for the tests that go through every key of it.
void CopyPlan(const std::wstring& step) {
    const auto copy = Environment(L"QUARRION_PLAN_COPY");
    if (step != L"may-install:start" || copy.empty()) {
        return;
    }
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int at = 1; at + 3 < count; ++at) {
        if (std::wstring(arguments[at]) == L"may-install") {
            ::CopyFileW(arguments[at + 3], copy.c_str(), FALSE);
        }
    }
    ::LocalFree(arguments);
}

} // namespace

void Changed(const std::wstring& step) {
    CopyPlan(step);
    if (!Reached(step)) {
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
