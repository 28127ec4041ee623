#include "shell_run.hpp"

#include "owners.hpp"
#include "process.hpp"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <utility>

namespace {

constexpr auto runTimeout = std::chrono::seconds(60);
constexpr DWORD gameTimeoutMs = 30'000;

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ClassName(HWND window) {
    wchar_t name[256] = {};
    return {name, static_cast<std::size_t>(::GetClassNameW(window, name, 256))};
}

FailureBox ReadBox(HWND box) {
    FailureBox read{WindowText(box), WindowText(::GetDlgItem(box, 0xFFFF)), {}};
    for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (ClassName(child) == L"Button" && ::IsWindowVisible(child) != FALSE) {
            read.buttons.push_back(::GetDlgCtrlID(child));
        }
    }
    return read;
}

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && ::IsWindowVisible(window) != FALSE) {
        search->found.push_back(window);
    }
    return TRUE;
}

// A process started from a command line, with its first thread; both handles closed on every path.
class StartedProcess {
  public:
    StartedProcess(std::wstring commandLine, const wchar_t* workingFolder) {
        if (!StartProcess(commandLine, process_, {nullptr, workingFolder})) {
            throw std::runtime_error("could not start a program");
        }
    }

    [[nodiscard]] HANDLE handle() const { return process_.get().hProcess; }
    [[nodiscard]] DWORD id() const { return process_.get().dwProcessId; }

  private:
    UniqueProcessInformation process_;
};

std::vector<HWND> VisibleWindowsOf(DWORD processId) {
    WindowSearch search{processId, {}};
    ::EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::optional<GameRecord> ReadRecord(const std::wstring& path) {
    const UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::wstring content(::GetFileSize(file.get(), nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    const std::size_t bytes = content.size() * sizeof(wchar_t);
    ::ReadFile(file.get(), content.data(), static_cast<DWORD>(bytes), &read, nullptr);
    std::vector<std::wstring> fields;
    for (std::size_t from = 0; from < content.size();) {
        const auto end = std::min(content.find(L'\0', from), content.size());
        fields.push_back(content.substr(from, end - from));
        from = end + 1;
    }
    if (fields.size() != 6) {
        throw std::runtime_error("the stand-in game's record is incomplete");
    }
    return GameRecord{fields[0], fields[1], std::stoi(fields[2]), fields[3], fields[4], fields[5]};
}

} // namespace

std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH * 4, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

namespace {

// Tells the stand-in game where to record and what to signal; children inherit both.
class GameProbe {
  public:
    GameProbe() {
        // Under Wine the desktop starts with the first window of a server session; a program
        // that shows a window while it is still starting gets none. Wait for it here instead.
        ::GetDesktopWindow();
        static unsigned runNumber = 0;
        const std::wstring tag =
            std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++runNumber);
        wchar_t temp[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, temp);
        recordPath_ = std::wstring(temp) + L"quarrion-standin-" + tag + L".rec";
        const std::wstring eventName = L"Local\\quarrion-standin-" + tag;
        ::DeleteFileW(recordPath_.c_str());
        started_.reset(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        ::SetEnvironmentVariableW(L"QUARRION_STANDIN_RECORD", recordPath_.c_str());
        ::SetEnvironmentVariableW(L"QUARRION_STANDIN_EVENT", eventName.c_str());
    }
    GameProbe(const GameProbe&) = delete;
    GameProbe& operator=(const GameProbe&) = delete;
    ~GameProbe() { ::DeleteFileW(recordPath_.c_str()); }

    [[nodiscard]] std::optional<GameRecord> Record(DWORD waitMs) const {
        ::WaitForSingleObject(started_.get(), waitMs);
        return ReadRecord(recordPath_);
    }

  private:
    std::wstring recordPath_;
    UniqueHandle started_;
};

// Waits for the shell to end, reading and answering any failure report it shows.
ShellRun Watch(HANDLE shellProcess, const GameProbe& probe) {
    const DWORD processId = ::GetProcessId(shellProcess);
    ShellRun run;
    const auto deadline = std::chrono::steady_clock::now() + runTimeout;
    while (::WaitForSingleObject(shellProcess, 5) == WAIT_TIMEOUT) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::TerminateProcess(shellProcess, 99);
            throw std::runtime_error("quarrion_shell.exe did not end");
        }
        for (HWND window : VisibleWindowsOf(processId)) {
            const std::wstring name = ClassName(window);
            if (run.visibleWindows.empty() || run.visibleWindows.back() != name) {
                run.visibleWindows.push_back(name);
            }
            if (name == L"#32770" && !run.box) {
                run.box = ReadBox(window);
                ::PostMessageW(window, WM_COMMAND, IDOK, 0);
            }
        }
    }
    ::GetExitCodeProcess(shellProcess, &run.exitCode);
    // Only a started game can signal; after a report, a record would mean a game ran anyway.
    run.game = probe.Record(run.exitCode == 0 ? gameTimeoutMs : 0);
    return run;
}

} // namespace

ShellRun RunShell(const std::optional<std::wstring>& argumentText,
                  const std::wstring& workingFolder) {
    std::wstring commandLine = L"\"" + ProgramFolder() + L"quarrion_shell.exe\"";
    if (argumentText) {
        commandLine += L" " + *argumentText;
    }
    return RunCommand(commandLine, workingFolder);
}

ShellRun RunCommand(std::wstring commandLine, const std::wstring& workingFolder) {
    const GameProbe probe;
    const StartedProcess shell(std::move(commandLine), workingFolder.c_str());
    return Watch(shell.handle(), probe);
}

ShellRun OpenLink(const std::wstring& link) {
    const GameProbe probe;
    SHELLEXECUTEINFOW open{};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    open.lpVerb = L"open";
    open.lpFile = link.c_str();
    open.nShow = SW_SHOWNORMAL;
    if (::ShellExecuteExW(&open) == FALSE || open.hProcess == nullptr) {
        throw NothingStarted();
    }
    const UniqueHandle shellProcess(open.hProcess);
    return Watch(shellProcess.get(), probe);
}

unsigned long RunAndWait(std::wstring commandLine) {
    const StartedProcess started(std::move(commandLine), nullptr);
    if (::WaitForSingleObject(started.handle(), 120'000) != WAIT_OBJECT_0) {
        ::TerminateProcess(started.handle(), 99);
        throw std::runtime_error("a program did not end");
    }
    DWORD exitCode = 0;
    ::GetExitCodeProcess(started.handle(), &exitCode);
    return exitCode;
}

namespace {

void CollectTexts(HWND window, std::vector<std::wstring>& texts) {
    for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::IsWindowVisible(child) != FALSE && ::GetWindowTextLengthW(child) > 0) {
            texts.push_back(WindowText(child));
        }
        CollectTexts(child, texts);
    }
}

} // namespace

std::vector<std::wstring> ClickThroughWizard(std::wstring commandLine) {
    const StartedProcess wizard(std::move(commandLine), nullptr);
    std::vector<std::wstring> pages;
    const auto deadline = std::chrono::steady_clock::now() + runTimeout;
    // A disabled button ignores the click, so the install page is simply waited out.
    while (::WaitForSingleObject(wizard.handle(), 300) == WAIT_TIMEOUT) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::TerminateProcess(wizard.handle(), 99);
            throw std::runtime_error("the wizard did not end");
        }
        for (HWND window : VisibleWindowsOf(wizard.id())) {
            const HWND next = ::GetDlgItem(window, IDOK);
            if (ClassName(window) != L"#32770" || next == nullptr ||
                ::IsWindowEnabled(next) == FALSE) {
                continue;
            }
            CollectTexts(window, pages);
            ::PostMessageW(next, BM_CLICK, 0, 0);
        }
    }
    return pages;
}
