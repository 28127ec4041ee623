// link_outcomes open|run < texts > outcomes: for each line, what came of it, a line each.
//   open  the line is a link, opened through the platform's link dispatch as a click would;
//   run   the line is the argument text quarrion_shell.exe is started with, as a Linux desktop
//         entry's %u reaches it.
// An outcome is "game <the game's command line after its own path>", "refused" (the program
// showed its report) or "nothing" (no program, or no game, was started).

#include "shell_run.hpp"
#include "text.hpp"

#include <windows.h>

#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

std::string Outcome(const ShellRun& run, std::wstring_view game) {
    if (run.box) {
        return "refused";
    }
    if (!run.game || !run.game->commandLine.starts_with(game)) {
        return "nothing";
    }
    return "game" + Utf8(std::wstring_view(run.game->commandLine).substr(game.size()));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring_view mode = argc == 2 ? argv[1] : L"";
    if (mode != L"open" && mode != L"run") {
        std::cerr << "usage: link_outcomes open|run < texts > outcomes\n";
        return 2;
    }
    const std::wstring game = Environment(L"QUARRION_GAME");
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::wstring text = Wide(line);
        std::string outcome;
        try {
            outcome =
                Outcome(mode == L"open" ? OpenLink(text) : RunShell(text, L"C:\\windows"), game);
        } catch (const std::runtime_error&) {
            outcome = "nothing"; // the platform started no program for it
        }
        std::cout << outcome << '\n' << std::flush;
    }
    return 0;
}
