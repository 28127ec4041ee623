#include "install_path.hpp"

#include "case_name.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct InstallPathCase {
    const char* name;
    std::wstring installPath;
    std::optional<std::wstring> folder;
    std::optional<std::wstring> exactProgram; // none: the command line names the program alone
};

// Rows print as their name in test listings, not as a dump of their bytes.
void PrintTo(const InstallPathCase& row, std::ostream* out) {
    *out << row.name;
}

class InstallPathRule : public testing::TestWithParam<InstallPathCase> {};

TEST_P(InstallPathRule, GivesTheGamesFolderAndProgram) {
    EXPECT_EQ(GameFolder(GetParam().installPath), GetParam().folder);
    EXPECT_EQ(ExactGameProgram(GetParam().installPath), GetParam().exactProgram);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, InstallPathRule,
    testing::Values(
        InstallPathCase{"Plain", L"C:\\Games\\Quarrion\\quarrion.exe", L"C:\\Games\\Quarrion\\",
                        std::nullopt},
        InstallPathCase{"Blanks", L"C:\\Program Files\\Q\\q.exe", L"C:\\Program Files\\Q\\",
                        L"C:\\Program Files\\Q\\q.exe"},
        InstallPathCase{"BlankInTheFileName", L"C:\\Q\\the game.exe", L"C:\\Q\\",
                        L"C:\\Q\\the game.exe"},
        InstallPathCase{"Tab", L"C:\\Q\\a\tb.exe", L"C:\\Q\\", L"C:\\Q\\a\tb.exe"},
        InstallPathCase{"Quoted", L"\"C:\\Program Files\\Q\\q.exe\"", L"C:\\Program Files\\Q\\",
                        std::nullopt},
        // Not enclosed: the whole value, quote included, is the file that must exist.
        InstallPathCase{"QuoteOnlyInFront", L"\"C:\\Program Files\\Q\\q.exe",
                        L"\"C:\\Program Files\\Q\\", L"\"C:\\Program Files\\Q\\q.exe"},
        InstallPathCase{"ForwardSlashes", L"C:/Games/q.exe", L"C:/Games/", std::nullopt},
        InstallPathCase{"DriveRoot", L"C:\\q.exe", L"C:\\", std::nullopt},
        InstallPathCase{"SharePath", L"\\\\server\\share\\q.exe", L"\\\\server\\share\\",
                        std::nullopt},
        InstallPathCase{"OnlyOnePairOfQuotesGoes", L"\"\"C:\\Q\\q.exe\"\"", L"\"C:\\Q\\",
                        std::nullopt},
        InstallPathCase{"NoFolder", L"q.exe", std::nullopt, std::nullopt},
        InstallPathCase{"NoFolderWithBlank", L"my game.exe", std::nullopt, L"my game.exe"},
        InstallPathCase{"QuotedNoFolder", L"\"q.exe\"", std::nullopt, std::nullopt},
        InstallPathCase{"LoneQuote", L"\"", std::nullopt, std::nullopt},
        InstallPathCase{"DriveRelative", L"C:q.exe", std::nullopt, std::nullopt}),
    CaseName<InstallPathCase>);

} // namespace
