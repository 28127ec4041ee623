#pragma once

#include <string>

// The program's code module: one run is one pass through Main.
namespace basMain {

// Reads the install path, decodes the link in argumentText, starts the game and returns the exit
// status: 0 once the game has been started, 1 after the failure report. Any failure on the way
// ends in that one report.
int Main(const wchar_t* argumentText);

// Reads a registry value, named by its full path, through the "WScript.Shell" automation object.
// Throws LaunchFailure when the value is absent, unreadable or has no text form.
std::wstring ReadRegistryValue(const std::wstring& valuePath);

} // namespace basMain
