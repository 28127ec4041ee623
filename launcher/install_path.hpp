#pragma once

#include <optional>
#include <string>
#include <string_view>

// What the install path tells about starting the game. The value is the game's program path; a
// path with blanks may be enclosed in one pair of double quotes.

// The folder the game starts in: its program's own folder, so a game that loads data from beside
// itself starts whatever folder the browser or chat program had. One pair of enclosing quotes is
// dropped first; the result keeps its trailing separator so "C:\game.exe" gives "C:\", not the
// drive-relative "C:". Empty when the path has no folder part: the game then inherits ours.
std::optional<std::wstring> GameFolder(std::wstring_view installPath);

// The file to name as the program to run, so that process creation does not search for one.
// Given an unquoted path with a blank, Windows would first try each blank-cut prefix as a program
// ("C:\Program.exe", "C:\Program Files\Dunmarch.exe", ...), and a file planted at any of them
// would run in the game's place with the link's server and password. Empty when the platform's
// own reading of the command line can only find the game: a quoted path, or one without blanks.
std::optional<std::wstring> ExactGameProgram(std::wstring_view installPath);
