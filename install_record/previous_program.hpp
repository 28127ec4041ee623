#pragma once

// Whether the program a registered command starts may still be there: the uninstall gives a
// scheme back only to a program that is not shown to be gone.

#include <string>

namespace record {

// Read as Windows runs the command: variables as a 64-bit program expands them, System32
// unredirected, each blank-cut beginning tried.
bool ProgramMayBeThere(std::wstring command);

} // namespace record
