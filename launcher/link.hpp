#pragma once

#include <string>
#include <string_view>

// Link handling shared by the launcher and its tests; no platform calls, so it builds anywhere.

struct LinkFields {
    std::wstring server;
    std::wstring password;
    bool hasPassword = false; // a second field was present, even an empty one
};

// Drops every "quarrion://" and splits what is left at "/". Throws LaunchFailure when nothing is
// left, since then there is no server to connect to.
LinkFields DecodeLink(std::wstring_view argumentText);

// Who reads the game's command line besides the game's own wide reading of it.
struct LineReaders {
    // The program is a batch file, so cmd.exe parses the whole line as a prompt would.
    bool commandInterpreter = false;
    // The text a game that reads its line in the ANSI code page gets for a field: Windows
    // converts with best fit, so a look-alike such as U+FF0B can arrive as "+". Null: none.
    std::wstring (*inCodePage)(std::wstring_view) = nullptr;
};

// True when the field cannot end the game's option it is placed in or start another one: the
// command line is unquoted, so a blank, quote, control unit, "+" or ";" would reach the game as
// options of the link author's choosing, and a field beginning with "-" or "@" would be an option
// or a response file of its own. For cmd.exe, also every unit it acts on or splits arguments at.
bool IsSafeField(std::wstring_view field, bool commandInterpreter = false);

// Throws LaunchFailure unless there is a server and the server and the password are both safe,
// as the wide text and as every reader given sees them.
void RequireSafeFields(const LinkFields& link, const LineReaders& readers = {});

// install path + " +connect " + server, then " +pass " + password when the link had a second field.
std::wstring BuildGameCommand(std::wstring_view installPath, const LinkFields& link);
