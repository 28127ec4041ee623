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
// is taken back.

#include "linux_files.hpp"
#include "registration.hpp"
#include "../windows/report.hpp"
#include "../windows/text.hpp"

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

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    const Report report(arguments);
    try {
        // Setup takes the run as finished only when this line is the last it reads: under
        // Wine, a process that a signal ended reports 0 too.
        report.Say(Run(arguments) + "quarrion_desktop: finished\n");
        return 0;
    } catch (const std::exception& failure) {
        report.Say(std::string(failure.what()) + "\n");
        return 1;
    }
}
