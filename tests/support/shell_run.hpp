#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Runs the real quarrion_shell.exe as the platform would, watches its windows, answers its
// failure report and collects what the stand-in game recorded.

struct FailureBox {
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons; // ids of the visible buttons
};

struct GameRecord {
    std::wstring commandLine;
    std::wstring folder;
    int showCommand = -1;
    std::wstring program;         // the file that ran
    std::wstring ansiCommandLine; // as a game reading the ANSI code page gets it
    std::wstring argv0;           // the game's own name, as its C runtime reads it
};

struct ShellRun {
    unsigned long exitCode = 0;
    std::optional<FailureBox> box;
    std::optional<GameRecord> game;
    std::vector<std::wstring> visibleWindows; // class names of every visible window it showed
};

// The folder holding this program, quarrion_shell.exe and stand_in_game.exe.
std::wstring ProgramFolder();

// argumentText is what follows the program's name and one blank on the command line; without
// one, the command line is the quoted program name alone. The shell starts in workingFolder.
ShellRun RunShell(const std::optional<std::wstring>& argumentText,
                  const std::wstring& workingFolder);

// The same for a whole command line that starts the program, such as a registration's command.
ShellRun RunCommand(std::wstring commandLine, const std::wstring& workingFolder);

// Thrown by OpenLink when the platform started no program for the link.
struct NothingStarted : std::runtime_error {
    NothingStarted() : std::runtime_error("the platform did not start a program for the link") {}
};

// Opens the link through the platform's link dispatch, as a click in a browser does, and watches
// the program the scheme's registration started.
ShellRun OpenLink(const std::wstring& link);

// Runs an interactive setup to its end as a user pressing the default button (Next, Install,
// Finish) of every page would, and returns the visible texts of the pages it showed, in order.
std::vector<std::wstring> ClickThroughWizard(std::wstring commandLine);

// Runs a command line to its end and returns its exit status.
unsigned long RunAndWait(std::wstring commandLine);
