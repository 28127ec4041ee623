// make demo: installs quarrion_shell_setup.exe and a stand-in game in the private prefix, opens
// the link through the platform's link dispatch as a click would, and shows what came of it.

#include "private_prefix.hpp"
#include "product.hpp"
#include "shell_run.hpp"
#include "text.hpp"

#include <windows.h>

#include <cstring>
#include <exception>
#include <string>

namespace {

void Print(const std::wstring& text) {
    std::string utf8 = Utf8(text) + '\n';
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()),
                &written, nullptr);
}

// Shows the report's line breaks as they are, so the CR LF pairs can be seen.
std::wstring Indented(const std::wstring& text) {
    std::wstring shown = L"    ";
    for (const wchar_t unit : text) {
        shown += unit == L'\r' ? std::wstring(L"\\r") : std::wstring(1, unit);
        if (unit == L'\n') {
            shown += L"    ";
        }
    }
    return shown;
}

} // namespace

int wmain() {
    try {
        wchar_t link[32767] = {};
        const bool hasLink = ::GetEnvironmentVariableW(L"QUARRION_DEMO_LINK", link, 32767) > 0;
        InstallProduct();
        Print(std::wstring(UnderWow64() ? L"64-bit Windows (WoW64)" : L"32-bit Windows") +
              L": installed quarrion_shell_setup.exe /S /AllUsers into " + InstallFolder());
        const std::wstring game = L"C:\\Games\\Quarrion\\quarrion.exe";
        InstallStandInGame(game);
        SetInstallPath(game);
        Print(L"Stand-in game installed; InstallPath = " + game + L" in HKLM\\SOFTWARE" +
              (UnderWow64() ? L"\\WOW6432Node" : L"") + L"\\Dunmarch\\Quarrion");

        // An empty link cannot be dispatched; the program is then started with no link at all.
        Print(hasLink ? L"Opening " + std::wstring(link) + L" as a click would (ShellExecuteEx)"
                      : std::wstring(L"Starting quarrion_shell.exe with no link"));
        const ShellRun run = hasLink ? OpenLink(link) : RunShell(std::nullopt, L"C:\\windows");
        Print(L"quarrion_shell.exe ended with exit status " + std::to_wstring(run.exitCode));
        if (run.box) {
            Print(L"It showed a message box, closed here with OK:");
            Print(L"  caption: " + run.box->caption);
            Print(L"  text:\n" + Indented(run.box->text));
        }
        if (run.game) {
            Print(L"The stand-in game received:");
            Print(L"  command line:   " + run.game->commandLine);
            Print(L"  working folder: " + run.game->folder);
        } else {
            Print(L"No game was started.");
        }
        return 0;
    } catch (const std::exception& error) {
        Print(L"demo failed: " +
              std::wstring(error.what(), error.what() + std::strlen(error.what())));
        return 1;
    }
}
