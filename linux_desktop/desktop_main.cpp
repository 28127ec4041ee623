// quarrion_desktop.exe: run by setup and its uninstaller when they run under Wine. It registers
// the installed quarrion_shell.exe with the Linux desktop of the user who runs it, so that links
// opened in Linux programs (browsers, chat) start it in this prefix with this Wine, or removes
// that registration again. Run by a launcher installed as a Flatpak, it registers in the host's
// folders, which the player grants the sandbox, and the entry runs Wine there through flatpak run.
//
//   quarrion_desktop.exe register <mode> <install folder> <icon.png>
//   quarrion_desktop.exe unregister <mode> <install folder> [<id that register printed>]
//
// Exit status 0 when done, and register prints the registration's id for setup to keep on its
// first line; then, as unregister does, a line for each thing the player should know, and last
// "quarrion_desktop: finished". Otherwise 1, with the reason for setup to show. It says it on
// standard output, or in the file that "/report=<file>" before the action names, as setup asks.
// It changes only what it made and what is still as it made it, never writes or deletes through a
// symbolic link, waits for another registrar in the same home, and a registration that fails midway
// is taken back. What it says is also kept, in UTF-8, in %TEMP%\quarrion_shell_linux.log (the
// last run's), where a player or administrator finds why a silent setup ended with 1155.

#include "linux_files.hpp"
#include "desktop_registration.hpp"
#include "../windows/report.hpp"
#include "../windows/text.hpp"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using desktop::Failure;
using desktop::Registration;

std::string Run(const std::vector<std::wstring>& arguments) {
    if (arguments.size() >= 2 && arguments[1] != L"AllUsers" && arguments[1] != L"CurrentUser") {
        throw Failure("the mode is AllUsers or CurrentUser, not " + Utf8(arguments[1]));
    }
    if (arguments.size() == 4 && arguments[0] == L"register") {
        return Registration(arguments[1], arguments[2], "").Add(arguments[3]);
    }
    if ((arguments.size() == 3 || arguments.size() == 4) && arguments[0] == L"unregister") {
        return Registration(arguments[1], arguments[2],
                            arguments.size() == 4 ? Utf8(arguments[3]) : "")
            .Remove();
    }
    throw Failure("usage: quarrion_desktop.exe register|unregister <mode> <folder> [<icon>|<id>]");
}

// Best effort: a log that cannot be written changes nothing of the run. Written whole beside it
// and renamed over it, so that a link at its name is replaced, never written through; by Windows
// calls alone: a Linux program started as the run ends can outlive it and keep Wine's server up.
void KeepInLog(const std::vector<std::wstring>& arguments, const std::string& text) {
    std::wstring temp(MAX_PATH + 1, L'\0');
    temp.resize(::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
    if (temp.empty()) {
        return;
    }
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    char stamp[32] = {};
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    std::string whole = std::string(stamp) + " quarrion_desktop.exe";
    for (const auto& argument : arguments) {
        whole += " " + Utf8(argument);
    }
    whole += "\n" + text;
    const std::wstring log = temp + L"quarrion_shell_linux.log";
    const std::wstring written = log + L".new-" + std::to_wstring(::GetCurrentProcessId());
    bool complete = false;
    {
        const UniqueHandle file(::CreateFileW(written.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD count = 0;
        complete = file &&
                   ::WriteFile(file.get(), whole.data(), static_cast<DWORD>(whole.size()), &count,
                               nullptr) != FALSE &&
                   count == whole.size();
    }
    if (!complete ||
        ::MoveFileExW(written.c_str(), log.c_str(), MOVEFILE_REPLACE_EXISTING) == FALSE) {
        ::DeleteFileW(written.c_str());
    }
}

// What the run says, once: its result, or the watchdog's.
class Outcome {
  public:
    Outcome(const Report& report, const std::vector<std::wstring>& arguments)
        : report_(report), arguments_(arguments) {}

    void Say(const std::string& text) {
        if (!said_.exchange(true)) {
            KeepInLog(arguments_, text);
            report_.Say(text);
        }
    }

  private:
    const Report& report_;
    const std::vector<std::wstring>& arguments_;
    std::atomic<bool> said_{false};
};

// Each wait of a run is bounded, but a Wine call can block for good (a Wine server that another
// Flatpak run of the launcher started): setup must not wait for ever. After this long the run
// ends as a kill would end it, and the next one finishes or takes back what it left.
constexpr DWORD patience = 180'000;

DWORD WINAPI Watchdog(void* outcome) {
    ::Sleep(patience);
    static_cast<Outcome*>(outcome)->Say(
        "quarrion_desktop.exe did not finish within 3 minutes, and was stopped: run it again (if "
        "a launcher installed as a Flatpak runs it, quit the launcher and its games first)\n");
    ::ExitProcess(1);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    const Report report(arguments);
    Outcome outcome(report, arguments);
    const UniqueHandle watchdog(::CreateThread(nullptr, 0, Watchdog, &outcome, 0, nullptr));
    try {
        // Setup takes the run as finished only when this line is the last it reads: under
        // Wine, a process that a signal ended reports 0 too.
        outcome.Say(Run(arguments) + "quarrion_desktop: finished\n");
        return 0;
    } catch (const std::exception& failure) {
        outcome.Say(std::string(failure.what()) + "\n");
        return 1;
    }
}
