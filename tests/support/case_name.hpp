#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

// Names a table row after its own name member, so a failure says which case broke.
template <class Case> std::string CaseName(const testing::TestParamInfo<Case>& row) {
    return row.param.name;
}

// Prints a table row as its name rather than as bytes. A test file brings it into the namespace
// of its rows with `using named_cases::PrintTo;`, where GoogleTest looks for it.
namespace named_cases {
template <class Case>
requires requires(const Case& row) {
    std::string_view(row.name);
}
void PrintTo(const Case& row, std::ostream* out) {
    *out << row.name;
}
} // namespace named_cases
