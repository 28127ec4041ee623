#pragma once

#include <gtest/gtest.h>

#include <string>

// Names a table row after its own name member, so a failure says which case broke.
template <class Case> std::string CaseName(const testing::TestParamInfo<Case>& row) {
    return row.param.name;
}
