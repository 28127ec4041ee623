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
// "quarrion_desktop: finished". Otherwise 1, with the reason on standard output for setup to show.
// It changes only what it made and what is still as it made it, never writes or deletes through a
// symbolic link, waits for another registrar in the same home, and a registration that fails midway
// is taken back.

#include "linux_files.hpp"
#include "registration.hpp"
#include "../windows/text.hpp"

#include <iostream>
#include <string>
#include <vector>

namespace {

using desktop::Failure;
using desktop::Registration;

std::string Run(const std::vector<std::wstring>& arguments) {
    if (arguments.size() >= 3 && arguments[2] != L"AllUsers" && arguments[2] != L"CurrentUser") {
        throw Failure("the mode is AllUsers or CurrentUser, not " + Utf8(arguments[2]));
    }
    if (arguments.size() == 5 && arguments[1] == L"register") {
        return Registration(arguments[2], arguments[3], "").Add(arguments[4]);
    }
    if ((arguments.size() == 4 || arguments.size() == 5) && arguments[1] == L"unregister") {
        return Registration(arguments[2], arguments[3],
                            arguments.size() == 5 ? Utf8(arguments[4]) : "")
            .Remove();
    }
    throw Failure("usage: quarrion_desktop.exe register|unregister <mode> <folder> [<icon>|<id>]");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        // Setup takes the run as finished only when this line is the last it reads: under
        // Wine, a process that a signal ended reports 0 too.
        std::cout << Run({argv, argv + argc}) << "quarrion_desktop: finished" << std::endl;
        return 0;
    } catch (const std::exception& failure) {
        std::cout << failure.what() << std::endl;
        return 1;
    }
}
