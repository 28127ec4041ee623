#include "game_folder.hpp"

#include "case_name.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct FolderCase {
    const char* name;
    std::wstring installPath;
    std::optional<std::wstring> folder;
};

// Rows print as their name in test listings, not as a dump of their bytes.
void PrintTo(const FolderCase& row, std::ostream* out) {
    *out << row.name;
}

class GameFolderRule : public testing::TestWithParam<FolderCase> {};

TEST_P(GameFolderRule, IsTheProgramsOwnFolder) {
    EXPECT_EQ(GameFolder(GetParam().installPath), GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, GameFolderRule,
    testing::Values(
        FolderCase{"Plain", L"C:\\Games\\Quarrion\\quarrion.exe", L"C:\\Games\\Quarrion\\"},
        FolderCase{"Blanks", L"C:\\Program Files\\Q\\q.exe", L"C:\\Program Files\\Q\\"},
        FolderCase{"Quoted", L"\"C:\\Program Files\\Q\\q.exe\"", L"C:\\Program Files\\Q\\"},
        FolderCase{"ForwardSlashes", L"C:/Games/q.exe", L"C:/Games/"},
        FolderCase{"DriveRoot", L"C:\\q.exe", L"C:\\"},
        FolderCase{"SharePath", L"\\\\server\\share\\q.exe", L"\\\\server\\share\\"},
        FolderCase{"OnlyOnePairOfQuotesGoes", L"\"\"C:\\Q\\q.exe\"\"", L"\"C:\\Q\\"},
        FolderCase{"NoFolder", L"q.exe", std::nullopt},
        FolderCase{"QuotedNoFolder", L"\"q.exe\"", std::nullopt},
        FolderCase{"LoneQuote", L"\"", std::nullopt},
        FolderCase{"DriveRelative", L"C:q.exe", std::nullopt}),
    CaseName<FolderCase>);

} // namespace
