// Installs quarrion_shell_setup.exe silently in the private prefix and follows a player's path:
// the registration, the Add or Remove Programs entry, links opened through the platform, an
// upgrade over an installed copy and the uninstall.

#include "private_prefix.hpp"
#include "product.hpp"
#include "shell_run.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

const std::wstring schemeKey = L"Software\\Classes\\quarrion";
const std::wstring commandKey = schemeKey + L"\\shell\\open\\command";
const std::wstring uninstallRoot = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring uninstallKey = uninstallRoot + L"\\QuarrionShell";

const std::wstring installedShell = InstallFolder() + L"\\quarrion_shell.exe";

// The names of a key's subkeys, or of its values.
std::set<std::wstring> Names(const std::wstring& key, bool values) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        return {};
    }
    std::set<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256] = {};
        DWORD length = 256;
        const LSTATUS status =
            values ? ::RegEnumValueW(opened, i, name, &length, nullptr, nullptr, nullptr, nullptr)
                   : ::RegEnumKeyExW(opened, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            break;
        }
        names.insert(name);
    }
    ::RegCloseKey(opened);
    return names;
}

int EntriesNamed(const std::wstring& displayName) {
    int count = 0;
    for (const auto& entry : Names(uninstallRoot, false)) {
        std::wstring key = uninstallRoot;
        key.append(L"\\").append(entry);
        count += ReadMachineText(key, L"DisplayName") == displayName ? 1 : 0;
    }
    return count;
}

class Installed : public testing::Test {
  protected:
    static void SetUpTestSuite() { InstallProduct(); }
};

TEST_F(Installed, RegistersTheScheme) {
    EXPECT_EQ(ReadMachineText(schemeKey, L""), L"URL:Quarrion Protocol");
    EXPECT_EQ(ReadMachineText(schemeKey, L"URL Protocol"), L"");
    EXPECT_EQ(ReadMachineText(schemeKey + L"\\DefaultIcon", L""), L"\"" + installedShell + L"\",0");
    EXPECT_EQ(ReadMachineText(commandKey, L""), L"\"" + installedShell + L"\" %1");
    EXPECT_TRUE(std::filesystem::exists(installedShell));
}

TEST_F(Installed, ShowsInAddRemovePrograms) {
    EXPECT_EQ(ReadMachineText(uninstallKey, L"DisplayName"), L"Quarrion Shell Interface");
    EXPECT_EQ(ReadMachineText(uninstallKey, L"Publisher"), L"Tabrix");
    EXPECT_EQ(ReadMachineText(uninstallKey, L"DisplayVersion"), L"1.0.0.4");
    EXPECT_EQ(ReadMachineText(uninstallKey, L"DisplayIcon"), L"\"" + installedShell + L"\",0");
    EXPECT_EQ(ReadMachineText(uninstallKey, L"InstallLocation"), InstallFolder());
    EXPECT_EQ(ReadMachineText(uninstallKey, L"UninstallString"),
              L"\"" + InstallFolder() + L"\\uninstall.exe\"");
}

TEST_F(Installed, AgainUpgradesInPlace) {
    InstallProduct();
    EXPECT_EQ(EntriesNamed(L"Quarrion Shell Interface"), 1);
    EXPECT_EQ(Names(schemeKey, true), (std::set<std::wstring>{L"", L"URL Protocol"}));
    EXPECT_EQ(Names(schemeKey, false), (std::set<std::wstring>{L"DefaultIcon", L"shell"}));
    EXPECT_EQ(Names(schemeKey + L"\\shell", false), std::set<std::wstring>{L"open"});
    EXPECT_EQ(ReadMachineText(commandKey, L""), L"\"" + installedShell + L"\" %1");
    std::set<std::wstring> files;
    for (const auto& file : std::filesystem::directory_iterator(InstallFolder())) {
        files.insert(file.path().filename().wstring());
    }
    EXPECT_EQ(files, (std::set<std::wstring>{L"quarrion_shell.exe", L"uninstall.exe"}));
}

struct LinkCase {
    const char* name;
    std::wstring link;
    std::wstring options;
};

void PrintTo(const LinkCase& row, std::ostream* out) {
    *out << row.name;
}

class OpenedLink : public testing::TestWithParam<LinkCase> {
  protected:
    static void SetUpTestSuite() {
        InstallProduct();
        InstallStandInGame(game);
    }
    void SetUp() override { SetInstallPath(game); }
    void TearDown() override { RemoveMachineKey(gameKey); }

    static inline const std::wstring game = L"C:\\Games\\Quarrion\\quarrion.exe";
};

TEST_P(OpenedLink, StartsTheGameThroughTheRegistration) {
    const ShellRun run = OpenLink(GetParam().link);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(run.box) << testing::PrintToString(run.box->text);
    ASSERT_TRUE(run.game) << "the game was not started";
    EXPECT_EQ(run.game->commandLine, game + GetParam().options);
}

INSTANTIATE_TEST_SUITE_P(Links, OpenedLink,
                         testing::Values(LinkCase{"TwoFields", L"quarrion://127.0.0.1:27960/secret",
                                                  L" +connect 127.0.0.1:27960 +pass secret"},
                                         LinkCase{"OneField", L"quarrion://play.example.net:27960",
                                                  L" +connect play.example.net:27960"}),
                         [](const testing::TestParamInfo<LinkCase>& row) {
                             return std::string(row.param.name);
                         });

TEST(Uninstall, RemovesEverythingItInstalled) {
    InstallProduct();
    UninstallProduct();
    std::wstring left;
    if (std::filesystem::exists(InstallFolder())) {
        left = L"(the folder itself)";
        for (const auto& file : std::filesystem::directory_iterator(InstallFolder())) {
            left += L" " + file.path().filename().wstring();
        }
    }
    EXPECT_EQ(left, L"") << "left behind";
    EXPECT_FALSE(std::filesystem::exists(InstallFolder() + L"\\..")) << "the company folder";
    EXPECT_TRUE(Names(schemeKey, true).empty() && Names(schemeKey, false).empty())
        << "the scheme is still registered";
    EXPECT_EQ(ReadMachineText(uninstallKey, L"DisplayName"), std::nullopt);
    EXPECT_EQ(EntriesNamed(L"Quarrion Shell Interface"), 0);
}

TEST(Uninstall, LeavesASchemeAnotherProgramTookOver) {
    InstallProduct();
    const std::wstring other = L"\"C:\\Other\\other.exe\" \"%1\"";
    SetMachineText(commandKey, L"", other);
    UninstallProduct();
    EXPECT_EQ(ReadMachineText(commandKey, L""), other);
    EXPECT_FALSE(std::filesystem::exists(installedShell));
    RemoveMachineKey(schemeKey);
}

} // namespace
