#pragma once

#include <optional>
#include <string>
#include <string_view>

// The folder the game starts in: its program's own folder, so a game that loads data from beside
// itself starts whatever folder the browser or chat program had. One pair of enclosing quotes is
// dropped first; the result keeps its trailing separator so "C:\game.exe" gives "C:\", not the
// drive-relative "C:". Empty when the path has no folder part: the game then inherits ours.
std::optional<std::wstring> GameFolder(std::wstring_view installPath);
