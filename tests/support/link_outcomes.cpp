// link_outcomes open|run < texts > outcomes: for each line, what came of it, a line each.
//   open  the line is a link, opened through the platform's link dispatch as a click would;
//   run   the line is the argument text quarrion_shell.exe is started with, as a Linux desktop
//         entry's %u reaches it.
// An outcome is "game <the game's command line after its own path>", "refused" (the program
// showed its report), "nothing" (no program, or no game, was started) or "error <what>" when
// the measurement itself went wrong.

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
    if (!run.game) {
        return "nothing";
    }
    if (!run.game->commandLine.starts_with(game)) {
        return "error another program started: " + Utf8(run.game->commandLine);
    }
    return "game" + Utf8(std::wstring_view(run.game->commandLine).substr(game.size()));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring_view mode = argc == 2 ? argv[1] : L"";
    const std::wstring game = Environment(L"QUARRION_GAME");
    if ((mode != L"open" && mode != L"run") || game.empty()) {
        std::cerr << "usage: QUARRION_GAME=<path> link_outcomes open|run < texts > outcomes\n";
        return 2;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::wstring text = Wide(line);
        std::string outcome;
        try {
            outcome =
                Outcome(mode == L"open" ? OpenLink(text) : RunShell(text, L"C:\\windows"), game);
        } catch (const NothingStarted&) {
            outcome = "nothing";
        } catch (const std::runtime_error& error) {
            outcome = std::string("error ") + error.what();
        }
        std::cout << outcome << '\n' << std::flush;
    }
    return 0;
}
