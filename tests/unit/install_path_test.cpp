#include "install_path.hpp"

#include "case_name.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using named_cases::PrintTo;

struct InstallPathCase {
    const char* name;
    std::wstring installPath;
    std::optional<std::wstring> folder;
    std::optional<std::wstring> exactProgram; // none: the command line names the program alone
    bool fullPath = true;                     // false: refused, it would be searched for
    bool batch = false;                       // cmd.exe would read the command line
};

// Rows print as their name in test listings, not as a dump of their bytes.
class InstallPathRule : public testing::TestWithParam<InstallPathCase> {};

TEST_P(InstallPathRule, GivesTheGamesFolderAndProgram) {
    EXPECT_EQ(GameFolder(GetParam().installPath), GetParam().folder);
    EXPECT_EQ(ExactGameProgram(GetParam().installPath), GetParam().exactProgram);
    EXPECT_EQ(IsFullPath(GetParam().installPath), GetParam().fullPath);
    EXPECT_EQ(IsBatchProgram(GetParam().installPath), GetParam().batch);
    // A program named exactly is quoted for the game, so its argv[0] is the whole path.
    const auto& exact = GetParam().exactProgram;
    EXPECT_EQ(ProgramOnCommandLine(GetParam().installPath),
              exact ? L"\"" + *exact + L"\"" : GetParam().installPath);
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
                        L"\"C:\\Program Files\\Q\\", L"\"C:\\Program Files\\Q\\q.exe", false},
        InstallPathCase{"ForwardSlashes", L"C:/Games/q.exe", L"C:/Games/", std::nullopt},
        InstallPathCase{"DriveRoot", L"C:\\q.exe", L"C:\\", std::nullopt},
        InstallPathCase{"SharePath", L"\\\\server\\share\\q.exe", L"\\\\server\\share\\",
                        std::nullopt},
        InstallPathCase{"DevicePath", L"\\\\?\\C:\\Q\\q.exe", L"\\\\?\\C:\\Q\\", std::nullopt},
        InstallPathCase{"DevicePathOfAShare", L"\\\\?\\UNC\\server\\share\\q.exe",
                        L"\\\\?\\UNC\\server\\share\\", std::nullopt},
        InstallPathCase{"OnlyOnePairOfQuotesGoes", L"\"\"C:\\Q\\q.exe\"\"", L"\"C:\\Q\\",
                        std::nullopt, false},
        // Relative paths: searched for from the browser's folder, the drive it is on, the PATH.
        InstallPathCase{"NoFolder", L"q.exe", std::nullopt, std::nullopt, false},
        InstallPathCase{"NoFolderWithBlank", L"my game.exe", std::nullopt, L"my game.exe", false},
        InstallPathCase{"QuotedNoFolder", L"\"q.exe\"", std::nullopt, std::nullopt, false},
        InstallPathCase{"LoneQuote", L"\"", std::nullopt, std::nullopt, false},
        InstallPathCase{"DriveRelative", L"C:q.exe", std::nullopt, std::nullopt, false},
        InstallPathCase{"RootRelative", L"\\Games\\q.exe", L"\\Games\\", std::nullopt, false},
        InstallPathCase{"DotRelative", L".\\q.exe", L".\\", std::nullopt, false},
        InstallPathCase{"ServerWithoutShare", L"\\\\server\\q.exe", L"\\\\server\\", std::nullopt,
                        false},
        InstallPathCase{"EmptyServer", L"\\\\\\share\\q.exe", L"\\\\\\share\\", std::nullopt,
                        false},
        // Batch files, however the name is written; Windows drops trailing dots and blanks.
        InstallPathCase{"Batch", L"C:\\Q\\start.bat", L"C:\\Q\\", std::nullopt, true, true},
        InstallPathCase{"CommandScriptInCapitals", L"C:\\Q\\START.CMD", L"C:\\Q\\", std::nullopt,
                        true, true},
        InstallPathCase{"BatchMixedCase", L"C:\\Q\\Start.Bat", L"C:\\Q\\", std::nullopt, true,
                        true},
        InstallPathCase{"BatchTrailingDot", L"C:\\Q\\start.bat.", L"C:\\Q\\", std::nullopt, true,
                        true},
        InstallPathCase{"BatchTrailingDotsAndBlanks", L"C:\\Q\\start.cmd. .", L"C:\\Q\\",
                        L"C:\\Q\\start.cmd. .", true, true},
        InstallPathCase{"QuotedBatch", L"\"C:\\Program Files\\Q\\start.cmd\"",
                        L"C:\\Program Files\\Q\\", std::nullopt, true, true},
        InstallPathCase{"UnquotedBatchWithBlanks", L"C:\\Program Files\\Q\\start.bat",
                        L"C:\\Program Files\\Q\\", L"C:\\Program Files\\Q\\start.bat", true, true},
        // Windows reads the program's name up to the closing quote.
        InstallPathCase{"QuotedBatchThenText", L"\"C:\\Q\\start.bat\"x", L"\"C:\\Q\\", std::nullopt,
                        true, true},
        InstallPathCase{"BatchThenExe", L"C:\\Q\\start.bat.exe", L"C:\\Q\\", std::nullopt},
        InstallPathCase{"BatchInTheName", L"C:\\Q\\batch.exe", L"C:\\Q\\", std::nullopt},
        InstallPathCase{"BatchFolder", L"C:\\Q.bat\\q.exe", L"C:\\Q.bat\\", std::nullopt},
        InstallPathCase{"LongerExtension", L"C:\\Q\\start.bats", L"C:\\Q\\", std::nullopt},
        InstallPathCase{"NoDot", L"C:\\Q\\startbat", L"C:\\Q\\", std::nullopt}),
    CaseName<InstallPathCase>);

} // namespace
