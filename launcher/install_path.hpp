#pragma once

#include <optional>
#include <string>
#include <string_view>

// What the install path tells about starting the game. The value is the game's program path; a
// path with blanks may be enclosed in one pair of double quotes.

// The folder the game starts in: its program's own folder, so that a game that loads data from
// beside itself finds it, rather than starting in whatever folder the browser or chat program
// had. One pair of enclosing quotes is dropped first; the result keeps its trailing separator so
// "C:\game.exe" gives "C:\", not the drive-relative "C:". Empty when the path has no folder part:
// the game then inherits ours.
std::optional<std::wstring> GameFolder(std::wstring_view installPath);

// The file to name as the program to run, so that process creation does not search for one.
// Given an unquoted path with a blank, Windows would first try each blank-cut prefix as a program
// ("C:\Program.exe", "C:\Program Files\Dunmarch.exe", ...), and a file planted at any of them
// would run in the game's place with the link's server and password. Empty when the platform's
// own reading of the command line can only find the game: a quoted path, or one without blanks.
std::optional<std::wstring> ExactGameProgram(std::wstring_view installPath);

// How the program is named at the head of the game's command line: an unquoted path with a blank
// is put in quotes, so the game's own name (argv[0]) is the whole path rather than its first
// word, and a game that restarts itself with its command line starts itself again.
std::wstring ProgramOnCommandLine(std::wstring_view installPath);

// True when the program that starts is given by a full path: a drive, a colon and a separator,
// or "\\server\share\" (which covers "\\?\" and "\\.\"). Anything else would be searched for in
// the folder the browser was started from, among others.
bool IsFullPath(std::wstring_view installPath);

// True when the program that starts is a batch file, which process creation hands to cmd.exe
// with the whole command line: its name ends in ".bat" or ".cmd", in any case, once the trailing
// dots and blanks that Windows drops from a file name are gone.
bool IsBatchProgram(std::wstring_view installPath);
