#include "bas_main.hpp"

#include "failure_message.hpp"
#include "install_path.hpp"
#include "launch_failure.hpp"
#include "link.hpp"
#include "../windows/process.hpp"
#include "../windows/text.hpp"

#include <cwchar>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr int exitAfterStart = 0;
constexpr int exitAfterReport = 1;

constexpr UINT failureBoxStyle = MB_OK | MB_ICONEXCLAMATION;
static_assert(failureBoxStyle == 48);

// CreateProcessW takes at most 32,767 units, the ending NUL included. Windows refuses a longer
// line; Wine cuts it short instead, which would hand the game a different server or password.
constexpr std::size_t longestCommandLine = 32'766;

// Windows refuses to start a program with a longer line than that, but Wine starts it with the
// line cut to exactly that length. A line of ours that fills the limit may have lost its end, and
// the link with it, so it is refused; on Windows that costs only a link that fills it exactly.
void RequireWholeCommandLine() {
    if (std::wcslen(::GetCommandLineW()) >= longestCommandLine) {
        throw LaunchFailure("the link was cut short before it reached us");
    }
}

// Returns once the process exists; the game is neither waited for nor watched. With a program
// named, that exact file runs or nothing does: process creation then searches nowhere.
void StartGame(std::wstring& commandLine, const std::optional<std::wstring>& program,
               const std::optional<std::wstring>& folder) {
    if (commandLine.size() > longestCommandLine) {
        throw LaunchFailure("the game's command line is too long to start");
    }
    UniqueProcessInformation process;
    if (!StartProcess(commandLine, process,
                      {program ? program->c_str() : nullptr, folder ? folder->c_str() : nullptr,
                       SW_SHOWNORMAL})) {
        throw LaunchFailure("the game could not be started");
    }
}

// A game that reads its command line in the ANSI code page (WinMain's lpCmdLine, an ANSI main)
// gets it converted with best fit, and reads it back as these units.
std::wstring InAnsiCodePage(std::wstring_view text) {
    const auto converted = InCodePage(text, CP_ACP);
    if (!converted) {
        throw LaunchFailure("the link has no form in the code page");
    }
    auto read = FromCodePage(*converted, CP_ACP);
    if (!read) {
        throw LaunchFailure("the link's code page form cannot be read back");
    }
    return *read;
}

int ReportLaunchFailure(const std::wstring& server, const std::wstring& password) noexcept {
    try {
        const std::wstring message = ComposeFailureMessage(server, password);
        ::MessageBoxW(nullptr, message.c_str(), failureCaption.data(), failureBoxStyle);
    } catch (...) {
        // Out of memory for the text: there is nothing left to show.
    }
    return exitAfterReport;
}

} // namespace

int basMain::Main(const wchar_t* argumentText) {
    // What the report shows: the fields as far as they were decoded when a failure struck.
    std::wstring server;
    std::wstring password;
    try {
        const std::wstring installPath =
            ReadRegistryValue(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Dunmarch\\Quarrion\\InstallPath");
        if (installPath.empty()) {
            throw LaunchFailure("the game is not installed");
        }
        const LinkFields link = DecodeLink(argumentText != nullptr ? argumentText : L"");
        server = link.server;
        if (link.hasPassword) {
            password = link.password;
        }
        RequireWholeCommandLine();
        if (!IsFullPath(installPath)) {
            throw LaunchFailure("a relative install path would be searched for");
        }
        RequireSafeFields(link, LineReaders{IsBatchProgram(installPath), InAnsiCodePage});
        const std::optional<std::wstring> program = ExactGameProgram(installPath);
        const std::optional<std::wstring> folder = GameFolder(installPath);
        std::wstring commandLine = BuildGameCommand(ProgramOnCommandLine(installPath), link);
        StartGame(commandLine, program, folder);
        return exitAfterStart;
    } catch (...) {
        return ReportLaunchFailure(server, password);
    }
}
