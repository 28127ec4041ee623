// Installs quarrion_shell_setup.exe in the private prefix, silently for everyone and for the
// current user, and follows a player's path: the registration, Default apps, the Add or Remove
// Programs entry, links opened through the platform, an upgrade, both modes side by side, the
// uninstall of each, and an interactive install's last page.

#include "case_name.hpp"
#include "private_prefix.hpp"
#include "product.hpp"
#include "shell_run.hpp"
#include "owners.hpp"
#include "process.hpp"
#include "text.hpp"

#include <windows.h>
#include <sddl.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <array>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using named_cases::PrintTo;

const std::wstring schemeKey = L"Software\\Classes\\quarrion";
const std::wstring commandKey = schemeKey + L"\\shell\\open\\command";
const std::wstring uninstallRoot = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::wstring uninstallKey = uninstallRoot + L"\\" QUARRION_ID;
const std::wstring registeredApps = L"Software\\RegisteredApplications";
const std::wstring applicationKey = L"Software\\Classes\\Applications\\quarrion_shell.exe";
const std::wstring companyKey = L"Software\\" QUARRION_COMPANY;
const std::wstring capabilitiesKey = companyKey + L"\\" QUARRION_FOLDER L"\\Capabilities";
const std::wstring progId = L"" QUARRION_COMPANY L"." QUARRION_ID L".Link";
// What players see, which may change; and the identities, which never do.
const std::wstring product = L"" QUARRION_PRODUCT;
const std::wstring registeredName = L"" QUARRION_ID;
const std::wstring earlierName = L"" QUARRION_EARLIER_NAME;
const std::wstring game = L"C:\\Games\\Quarrion\\quarrion.exe";

// Every key the installer may write, in either hive; the ProgID is found through Default apps.
const std::array<std::wstring, 4> ourKeys{schemeKey, uninstallKey, applicationKey, companyKey};

constexpr std::array<InstallMode, 2> modes{InstallMode::AllUsers, InstallMode::CurrentUser};

InstallMode OtherMode(InstallMode mode) {
    return mode == InstallMode::AllUsers ? InstallMode::CurrentUser : InstallMode::AllUsers;
}

// Where the shell reads Default apps: the mode's hive as 64-bit programs see it.
Hive DefaultAppsHive(InstallMode mode) {
    return mode == InstallMode::AllUsers ? Hive::NativeMachine : Hive::User;
}

std::wstring ShellOf(InstallMode mode) {
    return InstallFolder(mode) + L"\\quarrion_shell.exe";
}

std::wstring OpenCommandOf(InstallMode mode) {
    return L"\"" + ShellOf(mode) + L"\" %1";
}

bool KeyExists(Hive hive, const std::wstring& key) {
    return !Names(hive, key, true).empty() || !Names(hive, key, false).empty();
}

int EntriesNamed(Hive hive, const std::wstring& displayName) {
    int count = 0;
    for (const auto& entry : Names(hive, uninstallRoot, false)) {
        std::wstring key = uninstallRoot;
        key.append(L"\\").append(entry);
        count += ReadText(hive, key, L"DisplayName") == displayName ? 1 : 0;
    }
    return count;
}

// What the platform would run for a quarrion:// link, by the registration that applies.
std::wstring HandlerOfLinks() {
    wchar_t program[MAX_PATH * 2] = {};
    DWORD length = MAX_PATH * 2;
    if (FAILED(::AssocQueryStringW(ASSOCF_IS_PROTOCOL, ASSOCSTR_EXECUTABLE, L"quarrion", L"open",
                                   program, &length))) {
        return {};
    }
    return program;
}

// Windows shows HKCU\Software\Classes over HKLM's as HKEY_CLASSES_ROOT, so a user's own
// registration applies to them. Wine 8 shows HKLM's alone: there, link dispatch never sees a
// per-user registration, and the tests follow it by hand.
bool UserClassesApply() {
    static const bool applies = [] {
        const std::wstring probe = L"Software\\Classes\\QuarrionTestsUserClassProbe";
        SetText(Hive::User, probe, L"", L"probe");
        HKEY opened = nullptr;
        const bool seen = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, L"QuarrionTestsUserClassProbe", 0,
                                          KEY_READ, &opened) == ERROR_SUCCESS;
        if (seen) {
            ::RegCloseKey(opened);
        }
        RemoveKey(Hive::User, probe);
        return seen;
    }();
    return applies;
}

// Whether the platform's link dispatch sees the mode's registration.
bool DispatchSees(InstallMode mode) {
    return mode == InstallMode::AllUsers || UserClassesApply();
}

// Opens the link as the platform would for this user. Where the platform ignores a user's
// registration (Wine), a per-user install's link is opened by its registered command instead,
// with the link in place of %1, as Windows would run it.
ShellRun OpenLinkAs(InstallMode mode, const std::wstring& link) {
    if (DispatchSees(mode)) {
        return OpenLink(link);
    }
    std::wstring command = ReadText(Hive::User, commandKey, L"").value_or(L"");
    const auto placeholder = command.find(L"%1");
    if (placeholder == std::wstring::npos) {
        throw std::runtime_error("no per-user registration to follow");
    }
    command.replace(placeholder, 2, link);
    return RunCommand(command, L"C:\\windows");
}

// Which registration the platform follows when both modes are installed.
std::wstring ExpectedHandlerOfBoth() {
    return ShellOf(UserClassesApply() ? InstallMode::CurrentUser : InstallMode::AllUsers);
}

// Removes both modes' copies with their own uninstallers, then anything a test left behind: a
// copy left behind by an install elsewhere removes its own folder only, not the company's.
void RemoveEveryInstall() {
    for (const InstallMode mode : modes) {
        if (std::filesystem::exists(InstallFolder(mode) + L"\\uninstall.exe")) {
            UninstallProduct(mode);
        }
        // Folders a failed test left empty, which an install would then find there before it.
        std::error_code notEmpty;
        std::filesystem::remove(InstallFolder(mode), notEmpty);
        std::filesystem::remove(std::filesystem::path(InstallFolder(mode)).parent_path(), notEmpty);
        for (const auto& key : ourKeys) {
            RemoveKey(HiveOf(mode), key);
            RemoveKey(DefaultAppsHive(mode), key);
        }
        // As on a machine where nothing was ever installed for the mode: setup makes it, and the
        // uninstall must take it away.
        if (Names(HiveOf(mode), uninstallRoot, true).empty() &&
            Names(HiveOf(mode), uninstallRoot, false).empty()) {
            RemoveKey(HiveOf(mode), uninstallRoot);
        }
    }
}

std::wstring FilesLeftIn(const std::wstring& folder) {
    std::wstring left;
    if (std::filesystem::exists(folder)) {
        left = L"(the folder itself)";
        for (const auto& file : std::filesystem::directory_iterator(folder)) {
            left += L" " + file.path().filename().wstring();
        }
    }
    return left;
}

// Every folder and file below the roots, each file with a hash of its bytes.
std::map<std::wstring, std::wstring> FileTree(const std::vector<std::wstring>& roots) {
    std::map<std::wstring, std::wstring> tree;
    for (const auto& root : roots) {
        std::error_code absent;
        for (std::filesystem::recursive_directory_iterator entry(root, absent), end;
             !absent && entry != end; entry.increment(absent)) {
            std::ifstream in(entry->path(), std::ios::binary);
            const std::string bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
            tree[entry->path().wstring()] = entry->is_directory()
                                                ? L"(folder)"
                                                : std::to_wstring(std::hash<std::string>{}(bytes));
        }
    }
    return tree;
}

// Everything of others an install and its uninstall could touch: the shared keys and ours in
// both hives and both views, and the files below the roots.
std::map<std::wstring, std::wstring> Snapshot(const std::vector<std::wstring>& roots) {
    auto all = FileTree(roots);
    for (const Hive hive : {Hive::Machine, Hive::User, Hive::NativeMachine}) {
        std::map<std::wstring, std::wstring> tree;
        for (const auto& key :
             {schemeKey, std::wstring(L"Software\\Classes\\Applications"), registeredApps,
              companyKey, uninstallRoot, L"Software\\Classes\\" + progId}) {
            AddTree(hive, key, tree);
        }
        for (const auto& [path, value] : tree) {
            all[std::to_wstring(static_cast<int>(hive)) + L":" + path] = value;
        }
    }
    return all;
}

// What differs between two snapshots, one line each; empty when nothing does.
std::string Changes(const std::map<std::wstring, std::wstring>& before,
                    const std::map<std::wstring, std::wstring>& after) {
    std::wstring changes;
    for (const auto& [path, value] : before) {
        const auto now = after.find(path);
        if (now == after.end() || now->second != value) {
            changes.append(path).append(L": ").append(value).append(L" -> ");
            changes.append(now == after.end() ? L"(gone)" : now->second).append(L"\n");
        }
    }
    for (const auto& [path, value] : after) {
        if (!before.contains(path)) {
            changes.append(path).append(L": (new) ").append(value).append(L"\n");
        }
    }
    return Utf8(changes);
}

// The Unix path of a Windows one in the prefix; a drive letter ("Q:") names its link in the
// prefix's dosdevices, as subst makes one under Wine.
std::wstring UnixPathOf(const std::wstring& path) {
    using ToUnix = char*(__cdecl*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    const bool drive = path.size() == 2 && path[1] == L':';
    char* converted = toUnix(drive ? L"C:\\" : path.c_str());
    std::wstring unixPath = Wide(converted == nullptr ? "" : converted);
    ::HeapFree(::GetProcessHeap(), 0, converted);
    if (drive) {
        return unixPath + L"../dosdevices/" + static_cast<wchar_t>(::towlower(path[0])) + L":";
    }
    return unixPath;
}

bool Listed(const std::wstring& path) {
    WIN32_FIND_DATAW found{};
    const HANDLE search =
        ::FindFirstFileW((path.size() == 2 ? path + L"\\*" : path).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        ::FindClose(search);
    }
    return search != INVALID_HANDLE_VALUE;
}

// Runs a Linux program until `done`: Wine starts one without waiting for it.
void RunLinuxProgram(std::wstring command, const std::wstring& path, bool listed) {
    UniqueProcessInformation started;
    if (!StartProcess(command, started)) {
        throw std::runtime_error("cannot run a Linux program");
    }
    for (int tries = 0; tries < 100 && Listed(path) != listed; ++tries) {
        ::Sleep(50);
    }
}

// A Linux symbolic link at `link` to `target` (Windows paths in the prefix), made as a player
// makes one, and removed again: Windows' own calls make none under Wine.
void MakeUnixLink(const std::wstring& target, const std::wstring& link) {
    RunLinuxProgram(L"/bin/ln -sfnT \"" + UnixPathOf(target) + L"\" \"" + UnixPathOf(link) + L"\"",
                    link, true);
}
void RemoveUnixLink(const std::wstring& link) {
    RunLinuxProgram(L"/bin/rm -f \"" + UnixPathOf(link) + L"\"", link, false);
}

struct ModeCase {
    const char* name;
    InstallMode mode;
    std::wstring switches;
};

// The folders in the temp folder: setup's own must not outlive it.
std::set<std::wstring> TempFolders() {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    std::set<std::wstring> folders;
    for (const auto& found : std::filesystem::directory_iterator(temp)) {
        if (found.is_directory()) {
            folders.insert(found.path().filename().wstring());
        }
    }
    return folders;
}

class Installed : public testing::TestWithParam<ModeCase> {
  protected:
    void SetUp() override {
        RemoveEveryInstall();
        const auto temp = TempFolders();
        RunSetup(GetParam().switches);
        EXPECT_EQ(TempFolders(), temp) << "setup left a folder in the temp folder";
    }
    [[nodiscard]] Hive hive() const { return HiveOf(GetParam().mode); }
    [[nodiscard]] std::wstring Shell() const { return ShellOf(GetParam().mode); }
};

TEST_P(Installed, RegistersTheScheme) {
    EXPECT_EQ(ReadText(hive(), schemeKey, L""), L"URL:Quarrion Protocol");
    EXPECT_EQ(ReadText(hive(), schemeKey, L"URL Protocol"), L"");
    EXPECT_EQ(ReadText(hive(), schemeKey + L"\\DefaultIcon", L""), L"\"" + Shell() + L"\",0");
    EXPECT_EQ(ReadText(hive(), commandKey, L""), OpenCommandOf(GetParam().mode));
    EXPECT_TRUE(std::filesystem::exists(Shell()));
    if (DispatchSees(GetParam().mode)) {
        EXPECT_EQ(HandlerOfLinks(), Shell());
    }
}

TEST_P(Installed, WritesNothingForTheOtherMode) {
    const Hive other = HiveOf(OtherMode(GetParam().mode));
    for (const auto& key : ourKeys) {
        EXPECT_FALSE(KeyExists(other, key)) << testing::PrintToString(key);
    }
    EXPECT_EQ(ReadText(DefaultAppsHive(OtherMode(GetParam().mode)), registeredApps, registeredName),
              std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(InstallFolder(OtherMode(GetParam().mode))));
}

TEST_P(Installed, ShowsInAddRemovePrograms) {
    const std::wstring folder = InstallFolder(GetParam().mode);
    const std::wstring uninstaller =
        L"\"" + folder + L"\\uninstall.exe\" " + SwitchOf(GetParam().mode);
    EXPECT_EQ(ReadText(hive(), uninstallKey, L"DisplayName"), product);
    EXPECT_EQ(ReadText(hive(), uninstallKey, L"Publisher"), L"" QUARRION_COMPANY);
    EXPECT_EQ(ReadText(hive(), uninstallKey, L"DisplayVersion"), L"1.0.0.4");
    EXPECT_EQ(ReadText(hive(), uninstallKey, L"DisplayIcon"), L"\"" + Shell() + L"\",0");
    EXPECT_EQ(ReadText(hive(), uninstallKey, L"InstallLocation"), folder);
    EXPECT_EQ(ReadText(hive(), uninstallKey, L"UninstallString"), uninstaller);
    EXPECT_EQ(ReadText(hive(), uninstallKey, L"QuietUninstallString"), uninstaller + L" /S");
    const auto bytes = std::filesystem::file_size(Shell()) +
                       std::filesystem::file_size(folder + L"\\uninstall.exe") +
                       std::filesystem::file_size(folder + L"\\THIRD-PARTY-NOTICES.txt");
    EXPECT_EQ(ReadNumber(hive(), uninstallKey, L"EstimatedSize"), (bytes + 1023) / 1024);
}

// Settings, Default apps: RegisteredApplications names the capabilities, whose URL association
// names a ProgID that opens links with the program; all of it read as the 64-bit shell reads it.
TEST_P(Installed, ListsItselfInDefaultApps) {
    const Hive shellView = DefaultAppsHive(GetParam().mode);
    const auto capabilities = ReadText(shellView, registeredApps, registeredName);
    ASSERT_EQ(capabilities, capabilitiesKey);
    EXPECT_EQ(ReadText(shellView, *capabilities, L"ApplicationName"), product);
    EXPECT_NE(ReadText(shellView, *capabilities, L"ApplicationDescription").value_or(L""), L"");
    EXPECT_EQ(ReadText(shellView, *capabilities, L"ApplicationIcon"), L"\"" + Shell() + L"\",0");
    const auto associated = ReadText(shellView, *capabilities + L"\\URLAssociations", L"quarrion");
    ASSERT_NE(associated.value_or(L""), L"");
    const std::wstring progIdKey = L"Software\\Classes\\" + *associated;
    EXPECT_EQ(ReadText(shellView, progIdKey + L"\\shell\\open\\command", L""),
              OpenCommandOf(GetParam().mode));
    EXPECT_EQ(ReadText(shellView, progIdKey + L"\\DefaultIcon", L""), L"\"" + Shell() + L"\",0");
    if (UnderWow64() && GetParam().mode == InstallMode::AllUsers) {
        EXPECT_EQ(ReadText(Hive::Machine, registeredApps, registeredName), std::nullopt)
            << "also where the 64-bit shell does not look";
    }
}

// A copy of an earlier version wrote Default apps where 32-bit programs see HKLM\Software, which
// 64-bit Windows hides from the shell; installing again moves it to where the shell reads it.
TEST_P(Installed, AgainMovesAnEarlierDefaultAppsRegistration) {
    if (!UnderWow64() || GetParam().mode != InstallMode::AllUsers) {
        GTEST_SKIP() << "one registry view here";
    }
    RemoveKey(Hive::NativeMachine, companyKey);
    SetText(Hive::Machine, registeredApps, earlierName, capabilitiesKey);
    SetText(Hive::Machine, capabilitiesKey + L"\\URLAssociations", L"quarrion",
            L"" QUARRION_COMPANY L".Old");
    RunSetup(GetParam().switches);
    EXPECT_EQ(ReadText(Hive::Machine, registeredApps, earlierName), std::nullopt);
    // The company's key stays there: it holds the registration's record.
    EXPECT_FALSE(KeyExists(Hive::Machine, capabilitiesKey));
    EXPECT_EQ(ReadText(Hive::NativeMachine, registeredApps, registeredName), capabilitiesKey);
    EXPECT_EQ(ReadText(Hive::NativeMachine, capabilitiesKey + L"\\URLAssociations", L"quarrion"),
              progId);
}

// What browsers show when they ask before opening a link. Wine's AssocQueryString answers the
// file name whatever is registered, so the registration itself is what is checked.
TEST_P(Installed, CarriesItsFriendlyName) {
    EXPECT_EQ(ReadText(hive(), applicationKey, L"FriendlyAppName"), product);
}

TEST_P(Installed, AgainUpgradesInPlace) {
    RunSetup(GetParam().switches);
    EXPECT_EQ(EntriesNamed(hive(), product), 1);
    EXPECT_EQ(Names(hive(), schemeKey, true), (std::set<std::wstring>{L"", L"URL Protocol"}));
    EXPECT_EQ(Names(hive(), schemeKey, false), (std::set<std::wstring>{L"DefaultIcon", L"shell"}));
    EXPECT_EQ(Names(hive(), schemeKey + L"\\shell", false), std::set<std::wstring>{L"open"});
    EXPECT_EQ(ReadText(hive(), commandKey, L""), OpenCommandOf(GetParam().mode));
    std::set<std::wstring> files;
    for (const auto& file : std::filesystem::directory_iterator(InstallFolder(GetParam().mode))) {
        files.insert(file.path().filename().wstring());
    }
    EXPECT_EQ(files, (std::set<std::wstring>{L"quarrion_shell.exe", L"uninstall.exe",
                                             L"THIRD-PARTY-NOTICES.txt", L"quarrion_record.dat"}));
}

// Wine's user is an administrator, so a silent install without a switch is for everyone.
INSTANTIATE_TEST_SUITE_P(
    Modes, Installed,
    testing::Values(ModeCase{"AllUsers", InstallMode::AllUsers, L"/S /AllUsers"},
                    ModeCase{"CurrentUser", InstallMode::CurrentUser, L"/S /CurrentUser"},
                    ModeCase{"NoSwitchAsAdministrator", InstallMode::AllUsers, L"/S"}),
    CaseName<ModeCase>);

// What a test puts in the way of an install.
enum class Obstacle {
    None,
    ProgramInUse,        // held open for the whole install, as by its open error message
    ProgramInUseBriefly, // closed after a second
    ForeignUninstaller,  // the folder holds a game and the game's own uninstall.exe
    FolderAtProgramPath, // a folder named quarrion_shell.exe in the target folder
    LongFolderName,      // C:\Long Folder Name exists; "{8.3}" in the arguments is its 8.3 name
    SubstDrive,    // Q: is the machine copy's parent, as subst (Wine: a drive's link) makes it
    LinkedFolder,  // C:\Games\QSLink is a symbolic link to the machine copy's folder
    LinkAtOurFile, // C:\Games\QS9\THIRD-PARTY-NOTICES.txt links to another program's file
};

struct TargetCase {
    const char* name;
    std::wstring arguments; // setup's
    Obstacle obstacle;
    unsigned long exitCode;
    std::wstring recorded; // the folder a completed install records; empty: the mode's own
};

const std::wstring gameFolder = L"C:\\Games\\Dunmarch";

std::string Bytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An install over the copy installed for everyone. One that cannot complete exits with the
// reason's code and leaves that copy's registration as it was; one that can records its folder
// in one spelling, the one its uninstaller finds, which then leaves nothing pointing at nothing
// and removes no folder that was there before.
class Target : public testing::TestWithParam<TargetCase> {
  protected:
    void SetUp() override {
        RemoveEveryInstall();
        InstallProduct(InstallMode::AllUsers);
    }
    void TearDown() override {
        const std::map<Obstacle, std::wstring> links{
            {Obstacle::SubstDrive, L"Q:"},
            {Obstacle::LinkedFolder, L"C:\\Games\\QSLink"},
            {Obstacle::LinkAtOurFile, L"C:\\Games\\QS9\\THIRD-PARTY-NOTICES.txt"}};
        if (const auto link = links.find(GetParam().obstacle); link != links.end()) {
            RemoveUnixLink(link->second);
        }
        if (!GetParam().recorded.empty() &&
            std::filesystem::exists(GetParam().recorded + L"\\uninstall.exe")) {
            UninstallCopyIn(GetParam().recorded);
        }
    }
    static std::vector<std::optional<std::wstring>> Registration() {
        return {ReadText(Hive::Machine, commandKey, L""),
                ReadText(Hive::Machine, uninstallKey, L"InstallLocation"),
                ReadText(Hive::Machine, uninstallKey, L"DisplayIcon")};
    }
};

TEST_P(Target, CompletesOrChangesNothing) {
    const TargetCase& row = GetParam();
    const auto before = Registration();
    const std::wstring program = ShellOf(InstallMode::AllUsers);
    const std::wstring foreign = gameFolder + L"\\uninstall.exe";
    if (row.obstacle == Obstacle::ForeignUninstaller) {
        InstallStandInGame(gameFolder + L"\\quarrion.exe");
        InstallStandInGame(foreign);
    }
    std::wstring arguments = row.arguments;
    if (row.obstacle == Obstacle::FolderAtProgramPath) {
        std::filesystem::create_directories(L"C:\\Games\\QS7\\quarrion_shell.exe");
    } else if (row.obstacle == Obstacle::LongFolderName) {
        const std::wstring longName = L"C:\\Long Folder Name";
        std::filesystem::create_directories(longName);
        wchar_t shortName[MAX_PATH] = {};
        ASSERT_GT(::GetShortPathNameW(longName.c_str(), shortName, MAX_PATH), 0u);
        arguments.replace(arguments.find(L"{8.3}"), 5, shortName);
    }
    const std::wstring linkedFile = L"C:\\Games\\Other Notes.txt";
    if (row.obstacle == Obstacle::SubstDrive) {
        MakeUnixLink(std::filesystem::path(program).parent_path().parent_path().wstring(), L"Q:");
    } else if (row.obstacle == Obstacle::LinkedFolder) {
        MakeUnixLink(InstallFolder(InstallMode::AllUsers), L"C:\\Games\\QSLink");
    } else if (row.obstacle == Obstacle::LinkAtOurFile) {
        std::filesystem::create_directories(L"C:\\Games\\QS9");
        std::ofstream(std::filesystem::path(linkedFile)) << "another program's notes";
        MakeUnixLink(linkedFile, L"C:\\Games\\QS9\\THIRD-PARTY-NOTICES.txt");
    }
    const std::string foreignBytes = Bytes(foreign);
    HANDLE inUse = INVALID_HANDLE_VALUE;
    std::thread closer;
    if (row.obstacle == Obstacle::ProgramInUse || row.obstacle == Obstacle::ProgramInUseBriefly) {
        // As Windows holds a running program's file: readable, neither writable nor deletable.
        inUse = ::CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(inUse, INVALID_HANDLE_VALUE);
        if (row.obstacle == Obstacle::ProgramInUseBriefly) {
            closer = std::thread([inUse] {
                ::Sleep(1000);
                ::CloseHandle(inUse);
            });
        }
    }
    const std::wstring parent = std::filesystem::path(row.recorded).parent_path().wstring();
    const bool parentWasThere = std::filesystem::exists(parent);
    const auto status =
        RunAndWait(L"\"" + ProgramFolder() + L"quarrion_shell_setup.exe\" " + arguments);
    if (closer.joinable()) {
        closer.join();
    } else if (inUse != INVALID_HANDLE_VALUE) {
        ::CloseHandle(inUse);
    }

    EXPECT_EQ(status, row.exitCode);
    if (row.exitCode != 0) {
        EXPECT_EQ(Registration(), before);
        EXPECT_EQ(ReadText(Hive::User, uninstallKey, L"InstallLocation"), std::nullopt);
    } else {
        const std::wstring folder =
            row.recorded.empty() ? InstallFolder(InstallMode::AllUsers) : row.recorded;
        EXPECT_EQ(ReadText(Hive::Machine, uninstallKey, L"InstallLocation"), folder);
        EXPECT_EQ(ReadText(Hive::Machine, commandKey, L""),
                  L"\"" + folder + L"\\quarrion_shell.exe\" %1");
        if (!row.recorded.empty()) {
            UninstallCopyIn(folder);
            EXPECT_EQ(ReadText(Hive::Machine, commandKey, L""), std::nullopt);
            EXPECT_EQ(ReadText(Hive::Machine, uninstallKey, L"InstallLocation"), std::nullopt);
            EXPECT_EQ(FilesLeftIn(folder), L"");
            EXPECT_EQ(std::filesystem::exists(parent), parentWasThere) << "the folder above";
        }
    }
    EXPECT_EQ(Bytes(foreign), foreignBytes) << "another program's file changed";
    if (row.obstacle == Obstacle::LinkAtOurFile) {
        EXPECT_EQ(Bytes(linkedFile), "another program's notes");
    }
}

// Wine runs as root here, where no folder refuses a write: a place where nothing can be made
// (sysfs) stands in for an unwritable folder.
INSTANTIATE_TEST_SUITE_P(
    Folders, Target,
    testing::Values(
        TargetCase{"ProgramInUse", L"/S /AllUsers", Obstacle::ProgramInUse, 32, L""},
        TargetCase{"ProgramInUseForASecond", L"/S /AllUsers", Obstacle::ProgramInUseBriefly, 0,
                   L""},
        TargetCase{"UnwritableFolder", L"/S /AllUsers /D=Z:\\sys\\Quarrion Shell", Obstacle::None,
                   82, L""},
        TargetCase{"GameFolder", L"/S /AllUsers /D=" + gameFolder, Obstacle::ForeignUninstaller,
                   145, L""},
        TargetCase{"FolderNamedLikeTheProgram", L"/S /AllUsers /D=C:\\Games\\QS7",
                   Obstacle::FolderAtProgramPath, 145, L""},
        TargetCase{"TheOtherModesCopy", L"/S /CurrentUser /D=" + InstallFolder(), Obstacle::None,
                   183, L""},
        TargetCase{"TheOtherModesCopyOnASubstDrive", L"/S /CurrentUser /D=Q:\\Quarrion Shell",
                   Obstacle::SubstDrive, 183, L""},
        TargetCase{"TheOtherModesCopyThroughALink", L"/S /CurrentUser /D=C:\\Games\\QSLink",
                   Obstacle::LinkedFolder, 183, L""},
        TargetCase{"LinkAtOurFile", L"/S /AllUsers /D=C:\\Games\\QS9", Obstacle::LinkAtOurFile, 145,
                   L""},
        TargetCase{"AFile", L"/S /AllUsers /D=C:\\windows\\win.ini", Obstacle::None, 267, L""},
        TargetCase{"ForwardSlashes", L"/S /AllUsers /D=C:/Games/Quarrion Shell", Obstacle::None,
                   267, L""},
        TargetCase{"Relative", L"/S /AllUsers /D=Games\\Quarrion Shell", Obstacle::None, 267, L""},
        TargetCase{"Quoted", L"/S /AllUsers \"/D=C:\\Games\\Quarrion Shell\"", Obstacle::None, 267,
                   L""},
        TargetCase{"TabBeforeTheFolder", L"/S /AllUsers\t/D=C:\\Games\\QS5", Obstacle::None, 267,
                   L""},
        TargetCase{"IdeographicSpaceBeforeIt", L"/S /AllUsers\u3000/D=C:\\Games\\QS5",
                   Obstacle::None, 267, L""},
        TargetCase{"NoBreakSpaceBeforeIt", L"/S /AllUsers\u00A0/D=C:\\Games\\QS5", Obstacle::None,
                   267, L""},
        TargetCase{"CommaBeforeIt", L"/S /AllUsers,/D=C:\\Games\\QS5", Obstacle::None, 267, L""},
        TargetCase{"LineBreakBeforeIt", L"/S /AllUsers\r\n/D=C:\\Games\\QS5", Obstacle::None, 267,
                   L""},
        TargetCase{"EmptyFolder", L"/S /AllUsers /D=", Obstacle::None, 267, L""},
        // NSIS takes "C:\Games\QS6 /S" for the folder and would not be silent: no box may wait.
        TargetCase{"SwitchAfterTheFolder", L"/AllUsers /D=C:\\Games\\QS6 /S", Obstacle::None, 267,
                   L""},
        TargetCase{"DotAndSeparatorAtTheEnd", L"/S /AllUsers /D=C:\\Games\\QS3\\.\\",
                   Obstacle::None, 0, L"C:\\Games\\QS3"},
        TargetCase{"DotDot", L"/S /AllUsers /D=C:\\Games\\Old\\..\\QS4", Obstacle::None, 0,
                   L"C:\\Games\\QS4"},
        TargetCase{"LongPathPrefix", L"/S /AllUsers /D=\\\\?\\C:\\Games\\QS8", Obstacle::None, 0,
                   L"C:\\Games\\QS8"},
        TargetCase{"ShortFolderName", L"/S /AllUsers /D={8.3}\\QS", Obstacle::LongFolderName, 0,
                   L"C:\\Long Folder Name\\QS"}),
    CaseName<TargetCase>);

// Whether any of a wizard's texts holds this part; when none does, the failure says what the
// pages showed.
testing::AssertionResult Shows(const std::vector<std::wstring>& texts, std::wstring_view part) {
    if (std::any_of(texts.begin(), texts.end(), [part](const std::wstring& text) {
            return text.find(part) != std::wstring::npos;
        })) {
        return testing::AssertionSuccess();
    }
    auto failure = testing::AssertionFailure() << "no text holds \"" << Utf8(part) << "\"; shown:";
    for (const auto& text : texts) {
        failure << "\n  " << Utf8(text);
    }
    return failure;
}

struct FinishCase {
    const char* name;
    bool gameInstalled;
    bool noteShown;
    std::wstring folder; // given with /D=; empty: the mode's own
};

// An interactive install, clicked through: the last page tells a player without the game that
// links cannot work yet.
class FinishPage : public testing::TestWithParam<FinishCase> {
  protected:
    void SetUp() override {
        RemoveEveryInstall();
        if (GetParam().gameInstalled) {
            SetInstallPath(game);
        } else {
            RemoveMachineKey(gameKey);
        }
    }
    void TearDown() override { RemoveMachineKey(gameKey); }
};

TEST_P(FinishPage, SaysWhetherLinksCanWorkYet) {
    const std::wstring& folder = GetParam().folder;
    const auto texts =
        ClickThroughWizard(L"\"" + ProgramFolder() + L"quarrion_shell_setup.exe\" /CurrentUser" +
                           (folder.empty() ? L"" : L" /D=" + folder));
    ASSERT_TRUE(Shows(texts, L"quarrion:// links now start the game")) << "not the finish page";
    EXPECT_EQ(
        static_cast<bool>(Shows(texts, L"Quarrion itself is not installed on this computer yet")),
        GetParam().noteShown);
    if (folder.empty()) {
        EXPECT_TRUE(std::filesystem::exists(ShellOf(InstallMode::CurrentUser)));
    } else {
        EXPECT_EQ(ReadText(Hive::User, uninstallKey, L"InstallLocation"), folder);
        EXPECT_FALSE(std::filesystem::exists(ShellOf(InstallMode::CurrentUser)));
        UninstallCopyIn(folder);
    }
}

INSTANTIATE_TEST_SUITE_P(Game, FinishPage,
                         testing::Values(FinishCase{"Missing", false, true, L""},
                                         FinishCase{"Installed", true, false, L""},
                                         FinishCase{"InTheFolderGiven", true, false,
                                                    L"C:\\Games\\Quarrion Shell Given"}),
                         CaseName<FinishCase>);

struct LanguageCase {
    std::string name; // as NSIS names it: its language file's, and ours in installer/languages
    LANGID language;  // the display language, which Wine takes from LC_ALL
};

// The languages setup speaks, from the one list in CMakeLists.txt: "Name:LANGID:locale,...".
std::vector<LanguageCase> Languages() {
    std::vector<LanguageCase> rows;
    std::string list = QUARRION_LANGUAGES;
    for (std::size_t start = 0; start < list.size();) {
        const auto end = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, end - start);
        const auto colon = item.find(':');
        rows.push_back(
            {item.substr(0, colon),
             static_cast<LANGID>(std::stoul(item.substr(colon + 1, item.find(':', colon + 1))))});
        start = end + 1;
    }
    return rows;
}

// A text of the first language file that has it, as the page shows it: `key "text"` on one line,
// with the product's name in place of NSIS' own and up to the first other variable.
std::wstring LanguageText(std::initializer_list<std::wstring> files, const std::string& key) {
    for (const auto& file : files) {
        std::ifstream in{std::filesystem::path(file)};
        for (std::string line; std::getline(in, line);) {
            const auto at = line.find(" " + key + " ");
            const auto open = line.find('"', at);
            if (at == std::string::npos || open == std::string::npos) {
                continue;
            }
            std::wstring text = Wide(line.substr(open + 1, line.rfind('"') - open - 1));
            for (const auto* name : {L"$(^NameDA)", L"$(^Name)"}) {
                for (auto found = text.find(name); found != std::wstring::npos;
                     found = text.find(name)) {
                    text.replace(found, std::wstring_view(name).size(), product);
                }
            }
            return text.substr(0, text.find(L'$'));
        }
    }
    return L"(" + Wide(key) + L" missing)";
}

// An interactive install in the player's display language: NSIS' pages and our own texts. Each
// row runs in a process started in its language (tests/installer/CMakeLists.txt), which passes
// only when the row ran there; elsewhere it skips.
class Translated : public testing::TestWithParam<LanguageCase> {};

TEST_P(Translated, PagesSpeakThePlayersLanguage) {
    if (PRIMARYLANGID(::GetUserDefaultUILanguage()) != PRIMARYLANGID(GetParam().language)) {
        GTEST_SKIP() << "runs in its own language";
    }
    const std::wstring name = Wide(GetParam().name) + L".nsh";
    const std::wstring ours = L"" QUARRION_LANGUAGE_TEXTS L"\\" + name;
    const std::wstring nsis = L"" QUARRION_NSIS_LANGUAGE_FILES L"\\" + name;
    // What NSIS' file lacks, ours gives.
    const std::wstring gaps = L"" QUARRION_LANGUAGE_TEXTS L"\\nsis\\" + name;
    RemoveEveryInstall();
    RemoveMachineKey(gameKey);
    const auto texts = ClickThroughWizard(L"\"" + ProgramFolder() + L"quarrion_shell_setup.exe\"");
    EXPECT_TRUE(Shows(texts, LanguageText({gaps, nsis}, "MULTIUSER_TEXT_INSTALLMODE_TITLE")));
    EXPECT_TRUE(Shows(texts, LanguageText({ours}, "FINISH_TEXT")));
    EXPECT_TRUE(Shows(texts, LanguageText({ours}, "GAME_MISSING")));
    EXPECT_EQ(ReadNumber(Hive::Machine, uninstallKey, L"Language"), GetParam().language)
        << "the uninstaller's language";
    RemoveEveryInstall();
}

INSTANTIATE_TEST_SUITE_P(Languages, Translated, testing::ValuesIn(Languages()),
                         [](const testing::TestParamInfo<LanguageCase>& row) {
                             return row.param.name;
                         });

struct LinkCase {
    const char* name;
    InstallMode mode;
    std::wstring link;
    std::wstring options;
};

class OpenedLink : public testing::TestWithParam<LinkCase> {
  protected:
    static void SetUpTestSuite() { InstallStandInGame(game); }
    void SetUp() override {
        RemoveEveryInstall();
        InstallProduct(GetParam().mode);
        SetInstallPath(game);
    }
    void TearDown() override { RemoveMachineKey(gameKey); }
};

TEST_P(OpenedLink, StartsTheGameThroughTheRegistration) {
    const ShellRun run = OpenLinkAs(GetParam().mode, GetParam().link);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(run.box) << testing::PrintToString(run.box->text);
    ASSERT_TRUE(run.game) << "the game was not started";
    EXPECT_EQ(run.game->commandLine, game + GetParam().options);
}

INSTANTIATE_TEST_SUITE_P(Links, OpenedLink,
                         testing::Values(LinkCase{"TwoFields", InstallMode::AllUsers,
                                                  L"quarrion://127.0.0.1:27960/secret",
                                                  L" +connect 127.0.0.1:27960 +pass secret"},
                                         LinkCase{"OneField", InstallMode::AllUsers,
                                                  L"quarrion://play.example.net:27960",
                                                  L" +connect play.example.net:27960"},
                                         LinkCase{"ForOneUser", InstallMode::CurrentUser,
                                                  L"quarrion://127.0.0.1:27960/secret",
                                                  L" +connect 127.0.0.1:27960 +pass secret"}),
                         CaseName<LinkCase>);

// Installed, as above, to be removed.
class Uninstall : public Installed {};

TEST_P(Uninstall, RemovesEverythingItInstalled) {
    const auto registeredProgId = ReadText(DefaultAppsHive(GetParam().mode),
                                           capabilitiesKey + L"\\URLAssociations", L"quarrion");
    ASSERT_TRUE(registeredProgId);
    UninstallProduct(GetParam().mode);
    EXPECT_EQ(FilesLeftIn(InstallFolder(GetParam().mode)), L"") << "left behind";
    EXPECT_FALSE(std::filesystem::exists(InstallFolder(GetParam().mode) + L"\\.."))
        << "the company folder";
    // Every hive and view: a value written to the wrong one would stay behind there.
    for (const Hive view : {Hive::Machine, Hive::User, Hive::NativeMachine}) {
        for (const auto& key : ourKeys) {
            EXPECT_FALSE(KeyExists(view, key)) << testing::PrintToString(key);
        }
        EXPECT_EQ(ReadText(view, registeredApps, registeredName), std::nullopt);
    }
    EXPECT_FALSE(KeyExists(hive(), L"Software\\Classes\\" + *registeredProgId));
    EXPECT_EQ(EntriesNamed(hive(), product), 0);
}

// The uninstaller speaks the language the copy was installed in, whatever the display language.
TEST_P(Uninstall, SpeaksTheLanguageItWasInstalledIn) {
    const DWORD german = 1031;
    SetValue(hive(), uninstallKey, L"Language", REG_DWORD, &german, sizeof german);
    const auto texts = UninstallInteractively(InstallFolder(GetParam().mode));
    EXPECT_NE(std::find(texts.begin(), texts.end(), L"Deinstallation von " + product), texts.end());
    EXPECT_FALSE(KeyExists(hive(), uninstallKey));
}

// Files first: with the program in use (its error message open), or the notices open in an
// editor, the uninstall ends with 32 and the copy stays registered and whole; once the file is
// closed, it goes cleanly.
TEST_P(Uninstall, KeepsTheCopyWhileAFileOfItsIsInUse) {
    const std::wstring folder = InstallFolder(GetParam().mode);
    for (const wchar_t* name : {L"quarrion_shell.exe", L"THIRD-PARTY-NOTICES.txt"}) {
        const UniqueHandle inUse(::CreateFileW((folder + L"\\" + name).c_str(), GENERIC_READ,
                                               FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                               nullptr));
        ASSERT_TRUE(inUse);
        EXPECT_EQ(UninstallStatus(folder), 32u) << testing::PrintToString(name);
        EXPECT_EQ(ReadText(hive(), commandKey, L""), OpenCommandOf(GetParam().mode));
        EXPECT_EQ(ReadText(hive(), uninstallKey, L"InstallLocation"), folder);
        EXPECT_TRUE(std::filesystem::exists(folder + L"\\uninstall.exe"));
        EXPECT_TRUE(std::filesystem::exists(folder + L"\\quarrion_record.dat"));
    }
    UninstallProduct(GetParam().mode);
    EXPECT_EQ(FilesLeftIn(folder), L"");
    EXPECT_FALSE(KeyExists(hive(), uninstallKey));
}

TEST_P(Uninstall, LeavesASchemeAnotherProgramTookOver) {
    const std::wstring other = L"\"C:\\Other\\other.exe\" \"%1\"";
    SetText(hive(), commandKey, L"", other);
    std::map<std::wstring, std::wstring> taken;
    AddTree(hive(), schemeKey, taken);
    UninstallProduct(GetParam().mode);
    std::map<std::wstring, std::wstring> left;
    AddTree(hive(), schemeKey, left);
    EXPECT_EQ(left, taken) << "the scheme is the other program's now, all of it";
    EXPECT_FALSE(std::filesystem::exists(ShellOf(GetParam().mode)));
    RemoveKey(hive(), schemeKey);
}

// Another program took the scheme over, then setup ran again: the uninstall gives the scheme
// back to that program, not to what the first install found.
TEST_P(Uninstall, GivesBackToAProgramThatTookOverSince) {
    const std::wstring other = L"\"C:\\Other\\other.exe\" \"%1\"";
    InstallStandInGame(L"C:\\Other\\other.exe");
    SetText(hive(), commandKey, L"", other);
    RunSetup(GetParam().switches);
    UninstallProduct(GetParam().mode);
    EXPECT_EQ(ReadText(hive(), commandKey, L""), other);
    RemoveKey(hive(), schemeKey);
    std::filesystem::remove_all(L"C:\\Other");
}

// An install into another folder leaves the old copy behind. Its uninstaller matches neither
// recorded copy: it removes its own files and leaves the installed copy's registration whole.
// An install elsewhere takes the copy it moves from away, but not while a file of it is in use:
// that copy is left behind, whole.
TEST_P(Uninstall, LeftBehindCopyKeepsTheInstalledOnesRegistration) {
    const std::wstring moved = L"C:\\Games\\Quarrion Shell Elsewhere";
    {
        // The program, or for one user its uninstaller: either keeps the copy whole.
        const std::wstring held = GetParam().mode == InstallMode::CurrentUser
                                      ? InstallFolder(GetParam().mode) + L"\\uninstall.exe"
                                      : ShellOf(GetParam().mode);
        const UniqueHandle inUse(::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr));
        RunSetup(L"/S " + SwitchOf(GetParam().mode) + L" /D=" + moved);
    }
    EXPECT_TRUE(std::filesystem::exists(ShellOf(GetParam().mode))) << "taken away while in use";
    EXPECT_TRUE(std::filesystem::exists(InstallFolder(GetParam().mode) + L"\\quarrion_record.dat"));
    UninstallProduct(GetParam().mode);
    EXPECT_EQ(FilesLeftIn(InstallFolder(GetParam().mode)), L"") << "left behind";
    EXPECT_EQ(ReadText(hive(), uninstallKey, L"InstallLocation"), moved);
    EXPECT_EQ(ReadText(hive(), commandKey, L""), L"\"" + moved + L"\\quarrion_shell.exe\" %1");
    EXPECT_NE(ReadText(DefaultAppsHive(GetParam().mode), registeredApps, registeredName),
              std::nullopt);
    EXPECT_EQ(ReadText(hive(), applicationKey, L"FriendlyAppName"), product);
    UninstallCopyIn(moved);
    EXPECT_EQ(FilesLeftIn(moved), L"");
    EXPECT_FALSE(KeyExists(hive(), uninstallKey));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Uninstall,
    testing::Values(ModeCase{"AllUsers", InstallMode::AllUsers, L"/S /AllUsers"},
                    ModeCase{"CurrentUser", InstallMode::CurrentUser, L"/S /CurrentUser"}),
    CaseName<ModeCase>);

struct HandlerCase {
    const char* name;
    InstallMode mode;
    std::wstring program; // the other program
    std::wstring command; // its registered command
    DWORD type;           // REG_SZ or REG_EXPAND_SZ
};

// Where this 32-bit test writes a file so that 64-bit programs see it there: System32 is the
// 32-bit SysWOW64 for it, unless named as Sysnative.
std::wstring AsSeenNatively(std::wstring path) {
    const std::wstring system32 = L"C:\\windows\\system32\\";
    if (UnderWow64() && path.starts_with(system32)) {
        path.replace(0, system32.size(), L"C:\\windows\\Sysnative\\");
    }
    return path;
}

// Before taking the scheme over, the install keeps the other program's registration; the
// uninstall gives it back unless that program is shown to be gone, reading the command as
// Windows runs it, and removes the scheme once it is.
class GivenBack : public testing::TestWithParam<HandlerCase> {
  protected:
    void SetUp() override { RemoveEveryInstall(); }
    void TearDown() override {
        RemoveKey(HiveOf(GetParam().mode), schemeKey);
        std::filesystem::remove(AsSeenNatively(GetParam().program));
    }
};

TEST_P(GivenBack, WhileTheOtherProgramMayBeThere) {
    const HandlerCase& row = GetParam();
    const Hive hive = HiveOf(row.mode);
    InstallStandInGame(AsSeenNatively(row.program));
    SetText(hive, schemeKey, L"", L"URL:Other Protocol");
    SetText(hive, schemeKey, L"URL Protocol", L"");
    SetText(hive, schemeKey + L"\\DefaultIcon", L"", row.program + L",0");
    const auto bytes = (row.command.size() + 1) * sizeof(wchar_t);
    SetValue(hive, commandKey, L"", row.type, row.command.c_str(),
             static_cast<unsigned long>(bytes));
    std::map<std::wstring, std::wstring> theirs;
    AddTree(hive, schemeKey, theirs);
    for (const bool otherStillThere : {true, false}) {
        InstallProduct(row.mode);
        EXPECT_EQ(ReadText(hive, commandKey, L""), OpenCommandOf(row.mode));
        if (!otherStillThere) {
            std::filesystem::remove(AsSeenNatively(row.program));
        }
        UninstallProduct(row.mode);
        if (otherStillThere) {
            std::map<std::wstring, std::wstring> givenBack;
            AddTree(hive, schemeKey, givenBack);
            EXPECT_EQ(givenBack, theirs) << "given back as it was: types, values, keys";
        } else {
            EXPECT_FALSE(KeyExists(hive, schemeKey));
        }
        EXPECT_FALSE(KeyExists(hive, companyKey)) << "the kept registration stayed behind";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, GivenBack,
    testing::Values(
        HandlerCase{"Quoted", InstallMode::AllUsers, L"C:\\Other Links\\other.exe",
                    L"\"C:\\Other Links\\other.exe\" \"%1\"", REG_SZ},
        HandlerCase{"QuotedForOneUser", InstallMode::CurrentUser, L"C:\\Other Links\\other.exe",
                    L"\"C:\\Other Links\\other.exe\" \"%1\"", REG_SZ},
        HandlerCase{"UnquotedWithBlanks", InstallMode::AllUsers, L"C:\\Other Links\\other.exe",
                    L"C:\\Other Links\\other.exe %1", REG_SZ},
        // The native Program Files, as a 64-bit program expands it.
        HandlerCase{"ProgramFilesVariable", InstallMode::AllUsers,
                    L"C:\\Program Files\\Other\\other.exe",
                    L"\"%ProgramFiles%\\Other\\other.exe\" \"%1\"", REG_EXPAND_SZ},
        HandlerCase{"NameOnTheSearchPath", InstallMode::AllUsers,
                    L"C:\\windows\\quarrion-other.exe",
                    L"quarrion-other.exe url.dll,FileProtocolHandler %1", REG_SZ},
        HandlerCase{"NativeSystem32", InstallMode::AllUsers,
                    L"C:\\windows\\system32\\quarrion-other.exe",
                    L"\"%SystemRoot%\\System32\\quarrion-other.exe\" \"%1\"", REG_EXPAND_SZ}),
    CaseName<HandlerCase>);

struct RegistryWrite {
    std::wstring key; // in the mode's hive
    std::wstring name;
    std::wstring text;
    DWORD type = REG_SZ;
};

// What a crash row's build stops dead in (the crash tests' setup and its uninstaller): setup
// in a fresh place, over the copy installed, moving it to the row's folder, or the uninstall;
// or setup in a fresh place whose record keeper alone ends, reporting 0 as Wine does for a
// program a signal ended, which setup must not take for success.
enum class Journey { None, Install, Upgrade, Move, Uninstall, KeeperEnded };

struct ForeignCase {
    const char* name;
    InstallMode mode;
    std::vector<RegistryWrite> before; // another program's, before the install
    std::wstring program;              // a program of theirs that is there; empty: none
    bool opensOurs = false;            // while installed, a link through the shell starts ours
    bool twice = false;                // installed again in place before the uninstall
    std::wstring folder;               // given with /D=; empty: the mode's own
    std::vector<std::wstring> folders; // there before; one ending in "*" holds a file
    std::vector<std::wstring> then{}; // installed into next with /D=, in order ("": the mode's own)
    Journey stopped = Journey::None;  // stopped dead first, then run again
    std::wstring step{};              // after which it stopped
    // `folder`'s drive, a subst drive standing for substFor (made first), gone before the
    // uninstall, which is run from the folder it stood for.
    std::wstring driveGone{};
};

const std::wstring otherFolder = L"C:\\Other";
const std::wstring otherAppsEntry = uninstallRoot + L"\\QuarrionTestsOther";
const std::wstring substFor = L"C:\\Before\\Real";
const std::wstring beforeFolder = L"C:\\Before";

// Runs `run` with the crash tests' build set to stop dead after `step`; whether it got there.
template <class Run> bool StoppedAfter(const std::wstring& step, Run run) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::filesystem::path mark = std::wstring(temp) + L"quarrion-crash-step.txt";
    std::filesystem::remove(mark);
    ::SetEnvironmentVariableW(L"QUARRION_CRASH_AFTER", step.c_str());
    ::SetEnvironmentVariableW(L"QUARRION_CRASH_MARK", mark.c_str());
    struct Unset {
        Unset() = default;
        Unset(const Unset&) = delete;
        Unset& operator=(const Unset&) = delete;
        ~Unset() { ::SetEnvironmentVariableW(L"QUARRION_CRASH_AFTER", nullptr); }
    } const unset;
    run();
    std::ifstream in(mark, std::ios::binary);
    const std::string reached{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto counted = step.find(L":#");
    return counted == std::wstring::npos
               ? reached == Utf8(step)
               : !reached.empty() && reached.starts_with(Utf8(step.substr(0, counted + 1)));
}

// What a row leaves that is not another program's, before and after it.
void CleanAfter(const ForeignCase& row) {
    for (const auto& key : {schemeKey, applicationKey}) {
        RemoveKey(HiveOf(row.mode), key);
    }
    if (!row.driveGone.empty()) {
        RemoveUnixLink(row.driveGone);
    }
    std::filesystem::remove_all(otherFolder);
    std::filesystem::remove_all(beforeFolder);
}

// Whatever another program had, an install and its uninstall leave it exactly so: every value
// (type and bytes), key and file, in both hives and both views.
class Differential : public testing::TestWithParam<ForeignCase> {
  protected:
    void SetUp() override {
        RemoveEveryInstall();
        CleanAfter(GetParam());
    }
    void TearDown() override { CleanAfter(GetParam()); }
};

void LeavesOthersAsTheyWere(const ForeignCase& row);

TEST_P(Differential, InstallAndUninstallLeaveOthersAsTheyWere) {
    LeavesOthersAsTheyWere(GetParam());
}

void LeavesOthersAsTheyWere(const ForeignCase& row) {
    const Hive hive = HiveOf(row.mode);
    for (const auto& value : row.before) {
        const auto bytes = (value.text.size() + 1) * sizeof(wchar_t);
        SetValue(hive, value.key, value.name, value.type, value.text.c_str(),
                 static_cast<DWORD>(bytes));
    }
    if (!row.program.empty()) {
        InstallStandInGame(row.program);
    }
    for (std::wstring folder : row.folders) {
        const bool holdsAFile = folder.ends_with(L"*");
        folder.erase(folder.find(L'*') == std::wstring::npos ? folder.size() : folder.size() - 1);
        std::filesystem::create_directories(folder);
        if (holdsAFile) {
            std::ofstream(std::filesystem::path(folder) / "notes.txt") << "theirs";
        }
    }
    if (!row.driveGone.empty()) {
        std::filesystem::create_directories(substFor);
        MakeUnixLink(substFor, row.driveGone);
    }
    const std::wstring folder = row.folder.empty() ? InstallFolder(row.mode) : row.folder;
    const std::vector<std::wstring> roots{
        otherFolder, beforeFolder, std::filesystem::path(InstallFolder(row.mode)).parent_path()};
    const auto before = Snapshot(roots);
    const std::wstring switches = L"/S " + SwitchOf(row.mode);
    const auto into = [&switches](const std::wstring& given) {
        return switches + (given.empty() ? L"" : L" /D=" + given);
    };

    std::vector<std::wstring> copies;
    if (row.stopped != Journey::None) {
        if (row.stopped != Journey::Install && row.stopped != Journey::KeeperEnded) {
            ASSERT_EQ(RunCrashingSetup(switches), 0u);
            copies.push_back(InstallFolder(row.mode));
        }
        unsigned long status = 0;
        const bool alone = row.stopped == Journey::KeeperEnded;
        ::SetEnvironmentVariableW(L"QUARRION_CRASH_ALONE", alone ? L"1" : nullptr);
        const bool reached = StoppedAfter(row.step, [&] {
            if (row.stopped == Journey::Uninstall) {
                UninstallStatus(folder);
            } else {
                status = RunCrashingSetup(into(row.folder));
            }
        });
        ::SetEnvironmentVariableW(L"QUARRION_CRASH_ALONE", nullptr);
        // A run that makes fewer changes than a counted step names ends by itself.
        ASSERT_TRUE(reached || row.step.find(L":#") != std::wstring::npos)
            << "never got to " << Utf8(row.step);
        if (alone && reached) {
            EXPECT_EQ(status, 82u) << "an unfinished record keeper taken for a finished one";
        }
    }
    // The uninstall is run again while its uninstaller is there; after that, setup is.
    if (row.stopped == Journey::Uninstall && std::filesystem::exists(folder + L"\\uninstall.exe")) {
        UninstallCopyIn(folder);
        EXPECT_EQ(Changes(before, Snapshot(roots)), "");
        return;
    }
    for (int run = 0; run < (row.twice ? 2 : 1); ++run) {
        RunSetup(into(row.folder));
    }
    copies.push_back(folder);
    for (const auto& next : row.then) {
        copies.push_back(next.empty() ? InstallFolder(row.mode) : next);
        RunSetup(into(copies.back()));
    }
    const std::wstring last = copies.back();
    EXPECT_EQ(ReadText(hive, commandKey, L""), L"\"" + last + L"\\quarrion_shell.exe\" %1");
    if (row.opensOurs && DispatchSees(row.mode)) {
        EXPECT_EQ(HandlerOfLinks(), folder + L"\\quarrion_shell.exe");
        InstallStandInGame(game);
        SetInstallPath(game);
        const ShellRun run = OpenLink(L"quarrion://h/p");
        RemoveMachineKey(gameKey);
        ASSERT_TRUE(run.game) << "the link did not reach our program";
        EXPECT_EQ(run.game->commandLine, game + L" +connect h +pass p");
    }
    // Only the last copy's uninstall: each install elsewhere took the copy it moved from away.
    if (row.driveGone.empty()) {
        UninstallCopyIn(last);
    } else {
        RemoveUnixLink(row.driveGone);
        UninstallCopyIn(substFor + last.substr(row.driveGone.size()));
    }
    EXPECT_EQ(Changes(before, Snapshot(roots)), "");
}

// Another program's handler of the scheme, in place for the moves and the crash rows.
const std::vector<RegistryWrite> otherHandler{
    {schemeKey, L"", L"URL:Other Protocol"},
    {schemeKey, L"URL Protocol", L""},
    {commandKey, L"", L"\"C:\\Other\\other.exe\" \"%1\""}};
const std::wstring otherProgram = L"C:\\Other\\other.exe";
const std::wstring movedFolder = beforeFolder + L"\\Moved";

// Another program's handler of the scheme, or Applications key, and the program it starts.
ForeignCase Handler(const char* name, InstallMode mode, std::vector<RegistryWrite> before,
                    std::wstring program = L"", bool opensOurs = false, bool twice = false) {
    return {name, mode, std::move(before), std::move(program), opensOurs, twice, L"", {}};
}

// Folders that were there where the install goes.
ForeignCase Folders(const char* name, InstallMode mode, std::wstring folder,
                    std::vector<std::wstring> folders) {
    return {name, mode, {}, L"", false, true, std::move(folder), std::move(folders)};
}

// Installed through a subst drive that is gone after a restart: every path setup wrote names it,
// and the uninstall is run from the folder it stood for.
ForeignCase DriveGone(const char* name, InstallMode mode) {
    return {name,      mode, otherHandler, otherProgram,  false, false,
            L"Q:\\QS", {},   {},           Journey::None, L"",   L"Q:"};
}

INSTANTIATE_TEST_SUITE_P(
    Foreign, Differential,
    testing::Values(
        Handler("DefaultVerbOfItsOwn", InstallMode::AllUsers,
                {{schemeKey, L"", L"URL:Go Protocol"},
                 {schemeKey, L"URL Protocol", L""},
                 {schemeKey + L"\\shell", L"", L"go"},
                 {schemeKey + L"\\shell\\go\\command", L"", L"\"C:\\Other\\go.exe\" \"%1\""}},
                L"C:\\Other\\go.exe", true),
        Handler("DefaultVerbOpenInCapitals", InstallMode::CurrentUser,
                {{schemeKey + L"\\shell", L"", L"Open"},
                 {commandKey, L"", L"\"C:\\Other\\o.exe\" \"%1\""}},
                L"C:\\Other\\o.exe"),
        Handler("DelegateExecute", InstallMode::AllUsers,
                {{schemeKey, L"URL Protocol", L""},
                 {commandKey, L"", L"\"C:\\Other\\app.exe\" %1"},
                 {commandKey, L"DelegateExecute", L"{4F2E6C4A-0D3B-4C1E-9A55-3B1A0E7D2C11}"}},
                L"C:\\Other\\app.exe", true, true),
        Handler("CommandLongerThanSetupsStrings", InstallMode::CurrentUser,
                {{commandKey, L"",
                  L"\"C:\\Other\\o.exe\" --" + std::wstring(1500, L'x') + L" \"%1\""}},
                L"C:\\Other\\o.exe"),
        Handler("AnotherVendorsFileOfOurName", InstallMode::AllUsers,
                {{commandKey, L"", L"\"C:\\Other\\quarrion_shell.exe\" \"%1\""}},
                L"C:\\Other\\quarrion_shell.exe"),
        Handler("ProgramOnADriveNotConnected", InstallMode::AllUsers,
                {{commandKey, L"", L"\"M:\\Other\\o.exe\" \"%1\""}}),
        Handler("ExpandableWithAVariableNotSetHere", InstallMode::CurrentUser,
                {{commandKey, L"", L"\"%QUARRION_TEST_UNSET%\\o.exe\" \"%1\"", REG_EXPAND_SZ}}),
        Handler("WithoutUrlProtocol", InstallMode::AllUsers,
                {{commandKey, L"", L"\"C:\\Other\\o.exe\" \"%1\""}}, L"C:\\Other\\o.exe"),
        Handler("ApplicationsKeyOfAnother", InstallMode::CurrentUser,
                {{applicationKey, L"FriendlyAppName", L"Other Tool"},
                 {applicationKey + L"\\shell\\open\\command", L"", L"\"C:\\Other\\o.exe\" \"%1\""}},
                L"C:\\Other\\o.exe"),
        Folders("EmptyParentThatWasThere", InstallMode::AllUsers,
                L"C:\\Before\\Empty\\Quarrion Shell", {L"C:\\Before\\Empty"}),
        Folders("ParentHoldingAFile", InstallMode::CurrentUser, L"C:\\Before\\Full\\Quarrion Shell",
                {L"C:\\Before\\Full*"}),
        Folders("EmptyFolderThatWasThere", InstallMode::AllUsers, L"C:\\Before\\Target",
                {L"C:\\Before\\Target"}),
        DriveGone("SubstDriveGone", InstallMode::CurrentUser),
        DriveGone("SubstDriveGoneForEveryone", InstallMode::AllUsers),
        ForeignCase{"MovedElsewhere",
                    InstallMode::AllUsers,
                    otherHandler,
                    otherProgram,
                    false,
                    false,
                    L"",
                    {},
                    {movedFolder}},
        // Moved away and back, each move taking the copy before away, then the last uninstalled:
        // the registration, not a folder, remembers what the other program had.
        ForeignCase{"MovedAwayAndBack",
                    InstallMode::CurrentUser,
                    otherHandler,
                    otherProgram,
                    false,
                    false,
                    L"",
                    {},
                    {movedFolder, L""}}),
    CaseName<ForeignCase>);

// Over another program's handler, a journey stopped dead after the step.
ForeignCase Stopped(const char* name, InstallMode mode, Journey journey, std::wstring step) {
    return {name,
            mode,
            otherHandler,
            otherProgram,
            false,
            false,
            journey == Journey::Move ? movedFolder : L"",
            {},
            {},
            journey,
            std::move(step)};
}

struct CrashStep {
    const char* name;
    std::wstring step; // "{}" is the folder the journey installs into, "{first}" the mode's own
    bool makesFolders = false;
    bool movesOnly = false; // a step of a move alone: the copy moved from taken away
};

// The rows of the crash table: each step of setup and of the uninstall after which the machine
// is changed, stopped dead there, in every journey and mode. `whole`: all of them (make
// crash-table); otherwise the part make test runs, one row of each journey.
std::vector<ForeignCase> CrashRows(bool whole) {
    const std::wstring value = L"register:value ";
    const std::wstring givenBack = L"unregister:value ";
    const std::vector<CrashStep> setup{
        {"FoldersNoted", L"install-files:ahead", true},
        {"FolderMade", L"install-files:made {}", true},
        {"FolderRecordNoted", L"install-files:record noted"},
        {"FolderRecordBegun", L"install-files:record temporary made"},
        {"FolderRecordWritten", L"install-files:record temporary written"},
        {"FolderRecorded", L"install-files:record"},
        {"FoldersForgotten", L"install-files:done", true},
        {"ProgramPlaced", L"install-files:quarrion_shell.exe"},
        {"NoticesPlaced", L"install-files:THIRD-PARTY-NOTICES.txt"},
        {"UninstallerPlaced", L"install-files:uninstall.exe"},
        {"RegistrationNoted", L"register:ahead"},
        {"NameSet", value + schemeKey + L"|"},
        {"UrlProtocolSet", value + schemeKey + L"|URL Protocol"},
        {"IconSet", value + schemeKey + L"\\DefaultIcon|"},
        {"VerbSet", value + schemeKey + L"\\shell|"},
        {"CommandSet", value + commandKey + L"|"},
        {"DelegateExecuteRemoved", value + commandKey + L"|DelegateExecute"},
        {"FriendlyNameSet", value + applicationKey + L"|FriendlyAppName"},
        {"DefaultAppsListed", value + registeredApps + L"|" + registeredName},
        {"MoveNoted", L"register:moved from noted", false, true},
        {"Registered", L"register:done"},
        {"KeptForEarlierVersions", L"register:kept for earlier versions"},
        {"AppsEntryWritten", L"conclude-install:start"},
        {"ConclusionNoted", L"conclude-install:record noted"},
        {"ConclusionWritten", L"conclude-install:record temporary written"},
        {"Concluded", L"conclude-install:record"},
        {"FirstCopysProgramRemoved", L"remove-files:quarrion_shell.exe", false, true},
        {"FirstCopysRecordRemoved", L"remove-record:record", false, true},
        {"FirstCopyTakenAway", L"take-away:done {first}", false, true}};
    const std::vector<CrashStep> uninstall{
        {"ProgramRemoved", L"remove-files:quarrion_shell.exe"},
        {"NoticesRemoved", L"remove-files:THIRD-PARTY-NOTICES.txt"},
        {"Decided", L"unregister:decided"},
        {"DefaultAppsUnlisted", givenBack + registeredApps + L"|" + registeredName},
        {"FriendlyNameGivenBack", givenBack + applicationKey + L"|FriendlyAppName"},
        {"DelegateExecuteGivenBack", givenBack + commandKey + L"|DelegateExecute"},
        {"CommandGivenBack", givenBack + commandKey + L"|"},
        {"VerbGivenBack", givenBack + schemeKey + L"\\shell|"},
        {"IconGivenBack", givenBack + schemeKey + L"\\DefaultIcon|"},
        {"UrlProtocolGivenBack", givenBack + schemeKey + L"|URL Protocol"},
        {"NameGivenBack", givenBack + schemeKey + L"|"},
        {"IconKeyRemoved", L"unregister:key " + schemeKey + L"\\DefaultIcon"},
        {"ProgIdRemoved", L"unregister:own Software\\Classes\\" + progId},
        {"AppsEntryRemoved", L"unregister:own " + uninstallKey},
        {"CapabilitiesRemoved", L"unregister:own " + capabilitiesKey},
        {"PreviousHandlerRemoved",
         L"unregister:own " + companyKey + L"\\" QUARRION_FOLDER L"\\PreviousHandler"},
        {"Unregistered", L"unregister:done"},
        {"FoldersNoted", L"remove-record:ahead"},
        {"UninstallerRemoved", L"remove-files:uninstall.exe"},
        {"RecordRemoved", L"remove-record:record"},
        {"FolderRemoved", L"remove-record:folder {}"},
        {"FoldersForgotten", L"remove-record:done"}};
    const std::set<std::string> sample{
        "InstallAllUsersCommandSet",        "UpgradeCurrentUserProgramPlaced",
        "MoveCurrentUserRegistrationNoted", "MoveAllUsersFirstCopysRecordRemoved",
        "UninstallAllUsersIconKeyRemoved",  "UninstallCurrentUserAppsEntryRemoved",
        "KeeperEndedCurrentUserCommandSet", "KeeperEndedAllUsersFolderRecordWritten"};
    const std::pair<Journey, const char*> journeys[]{{Journey::Install, "Install"},
                                                     {Journey::Upgrade, "Upgrade"},
                                                     {Journey::Move, "Move"},
                                                     {Journey::Uninstall, "Uninstall"},
                                                     {Journey::KeeperEnded, "KeeperEnded"}};
    static std::deque<std::string> names; // the rows keep pointers to their names
    std::vector<ForeignCase> rows;
    for (const auto& [journey, journeyName] : journeys) {
        for (const InstallMode mode : modes) {
            const std::wstring folder =
                journey == Journey::Move ? movedFolder : InstallFolder(mode);
            for (const auto& [stepName, step, makesFolders, movesOnly] :
                 journey == Journey::Uninstall ? uninstall : setup) {
                std::string name = std::string(journeyName) +
                                   (mode == InstallMode::AllUsers ? "AllUsers" : "CurrentUser") +
                                   stepName;
                if ((journey == Journey::Upgrade && makesFolders) ||
                    (journey != Journey::Move && movesOnly) || (!whole && !sample.contains(name))) {
                    continue;
                }
                std::wstring at = step;
                if (const auto braces = at.find(L"{}"); braces != std::wstring::npos) {
                    at.replace(braces, 2, folder);
                }
                if (const auto first = at.find(L"{first}"); first != std::wstring::npos) {
                    at.replace(first, 7, InstallFolder(mode));
                }
                names.push_back(std::move(name));
                rows.push_back(Stopped(names.back().c_str(), mode, journey, at));
            }
        }
    }
    return rows;
}

// make test runs a fixed part; make crash-table all of it.
INSTANTIATE_TEST_SUITE_P(Crash, Differential, testing::ValuesIn(CrashRows(false)),
                         CaseName<ForeignCase>);
INSTANTIATE_TEST_SUITE_P(CrashTable, Differential, testing::ValuesIn(CrashRows(true)),
                         CaseName<ForeignCase>);

// make crash-loop: setup or the uninstall stopped dead at a random change inside a random
// command, then run again: the machine must be as before each time. QUARRION_CRASH_LOOP_RUNS
// times (15 unless set), or fewer when four minutes are up, to stay inside the test's time
// limit. The seed is printed, and QUARRION_CRASH_LOOP_SEED runs the same kills again.
TEST(CrashLoop, RandomKillsConverge) {
    const auto setting = [](const wchar_t* name, unsigned long otherwise) {
        const auto text = Environment(name);
        return text.empty() ? otherwise : std::stoul(text);
    };
    const unsigned long seed = setting(L"QUARRION_CRASH_LOOP_SEED", std::random_device{}());
    const unsigned long runs = setting(L"QUARRION_CRASH_LOOP_RUNS", 15);
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(4);
    std::printf("QUARRION_CRASH_LOOP_SEED=%lu\n", seed);
    std::mt19937 random(seed);
    const auto pick = [&random](std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
    };
    const Journey journeys[]{Journey::Install, Journey::Upgrade, Journey::Move, Journey::Uninstall,
                             Journey::KeeperEnded};
    const wchar_t* setupCommands[]{L"install-files", L"register", L"conclude-install",
                                   L"take-away"};
    const wchar_t* uninstallCommands[]{L"remove-files", L"unregister", L"remove-record"};
    static std::deque<std::string> names;
    unsigned long run = 0;
    for (; run < runs && !HasFatalFailure() && std::chrono::steady_clock::now() < until; ++run) {
        const Journey journey = journeys[pick(std::size(journeys))];
        const InstallMode mode = modes[pick(modes.size())];
        const std::wstring command = journey == Journey::Uninstall
                                         ? uninstallCommands[pick(std::size(uninstallCommands))]
                                         : setupCommands[pick(std::size(setupCommands))];
        const std::wstring step = command + L":#" + std::to_wstring(1 + pick(12));
        names.push_back(Utf8(step) +
                        (mode == InstallMode::AllUsers ? " AllUsers" : " CurrentUser"));
        SCOPED_TRACE(names.back() + " in journey " + std::to_string(static_cast<int>(journey)));
        const ForeignCase row = Stopped(names.back().c_str(), mode, journey, step);
        RemoveEveryInstall();
        CleanAfter(row);
        LeavesOthersAsTheyWere(row);
        CleanAfter(row);
    }
    std::printf("%lu random kills\n", run);
}

// What a test does to an installed copy, or to a folder, before its uninstaller runs.
enum class Tamper {
    InstallLocationRespelt,     // the Apps entry names the folder in another spelling
    OtherEntryNamesThisCopy,    // the other mode's Apps entry names this copy's folder
    RecordClaimsAFolder,        // the record says the install made a folder that was there
    RecordClaimsAValue,         // the record says the install set another program's value
    NoticesChanged,             // the player edited THIRD-PARTY-NOTICES.txt
    UninstallerCopiedElsewhere, // to a folder of another program's, run there
    AppsEntryLost,              // setup stopped before it wrote the Apps entry, or it was removed
    InstallLocationGone,        // the Apps entry names a drive that is gone (a subst drive)
    RecordMarkedUtf8,           // an editor wrote the record back with a byte-order mark
    RegistrationClaimsAValue,   // the registration's record names another program's value
    SchemeLinkedElsewhere,      // the scheme's key is a registry link to another program's key
    CompanyKeyLinkedElsewhere,  // our company's key is one, to a copy of it elsewhere
    NoteNamesAnotherFile,       // the note of a record being written names another program's file
    InstallLocationNamesACopy,  // the Apps entry names a copy of the folder, then setup moves
};

// The registry's own name of a key, as a link names its target.
std::wstring NativeNameOf(Hive hive, const std::wstring& key) {
    if (hive != Hive::User) {
        return L"\\Registry\\Machine\\" + key;
    }
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    const UniqueHandle owned(token);
    std::vector<std::uint8_t> user(256);
    DWORD size = 0;
    wchar_t* sid = nullptr;
    if (!::GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()),
                               &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
        throw std::runtime_error("cannot name the user's hive");
    }
    std::wstring name = std::wstring(L"\\Registry\\User\\") + sid + L"\\" + key;
    ::LocalFree(sid);
    return name;
}

// A registry link at `key` to `target` (in the native view), as any program with the hive's
// rights can make one, and the link itself removed again (deleting its name would delete the
// target).
REGSAM ViewOf(Hive hive) {
    return hive == Hive::NativeMachine ? KEY_WOW64_64KEY : 0;
}
HKEY RootOf(Hive hive) {
    return hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}
void MakeRegistryLink(Hive hive, const std::wstring& key, const std::wstring& target) {
    HKEY link = nullptr;
    const std::wstring to = NativeNameOf(hive, target);
    if (::RegCreateKeyExW(RootOf(hive), key.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                          KEY_ALL_ACCESS | KEY_CREATE_LINK | ViewOf(hive), nullptr, &link,
                          nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot make a registry link at " + Utf8(key));
    }
    ::RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                     reinterpret_cast<const BYTE*>(to.data()),
                     static_cast<DWORD>(to.size()) * sizeof(wchar_t));
    ::RegCloseKey(link);
}
void RemoveRegistryLink(Hive hive, const std::wstring& key) {
    HKEY link = nullptr;
    if (::RegOpenKeyExW(RootOf(hive), key.c_str(), REG_OPTION_OPEN_LINK, DELETE | ViewOf(hive),
                        &link) == ERROR_SUCCESS) {
        using DeleteKey = LONG(__stdcall*)(HANDLE);
        const auto deleteKey = reinterpret_cast<DeleteKey>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
        deleteKey(link);
        ::RegCloseKey(link);
    }
}

// The key with all it holds, copied to another name in the same hive and view.
void CopyKey(Hive hive, const std::wstring& from, const std::wstring& to) {
    HKEY source = nullptr;
    HKEY target = nullptr;
    if (::RegOpenKeyExW(RootOf(hive), from.c_str(), 0, KEY_READ | ViewOf(hive), &source) !=
            ERROR_SUCCESS ||
        ::RegCreateKeyExW(RootOf(hive), to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | ViewOf(hive),
                          nullptr, &target, nullptr) != ERROR_SUCCESS ||
        ::RegCopyTreeW(source, nullptr, target) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot copy a registry key");
    }
    ::RegCloseKey(source);
    ::RegCloseKey(target);
}

// A REG_SZ value's bytes as a record writes them.
std::wstring RecordedText(const std::wstring& text) {
    std::wstring hex = L"1:";
    for (const wchar_t unit : text + L'\0') {
        wchar_t bytes[5] = {};
        std::swprintf(bytes, 5, L"%02x%02x", unit & 0xFF, unit >> 8);
        hex += bytes;
    }
    return hex;
}

struct TamperCase {
    const char* name;
    InstallMode mode;
    Tamper tamper;
    std::wstring respelling; // for InstallLocationRespelt: "{}" is the folder, "{8.3}" its 8.3 name
    unsigned long exitCode;
};

// The uninstall trusts no text it reads back: whatever was changed, it removes only what is
// provably ours, and refuses a folder that holds no copy of ours.
class Tampered : public testing::TestWithParam<TamperCase> {
  protected:
    void SetUp() override {
        RemoveEveryInstall();
        std::filesystem::remove_all(beforeFolder);
        InstallProduct(GetParam().mode);
    }
    void TearDown() override {
        std::filesystem::remove_all(beforeFolder);
        RemoveKey(HiveOf(OtherMode(GetParam().mode)), uninstallKey);
        RemoveEveryInstall();
    }
};

TEST_P(Tampered, RemovesOnlyWhatIsProvablyItsOwn) {
    const TamperCase& row = GetParam();
    const Hive hive = HiveOf(row.mode);
    const std::wstring folder = InstallFolder(row.mode);
    std::wstring uninstallIn = folder;
    std::filesystem::create_directories(beforeFolder + L"\\Empty");
    const std::wstring ownKey = companyKey + L"\\" QUARRION_FOLDER;
    const std::wstring registration = ReadText(hive, ownKey, L"Registration").value_or(L"");
    const std::wstring linkedKey = L"Software\\Classes\\QuarrionTestsLinked";
    std::map<std::wstring, std::wstring> linkedBefore;
    const auto appendTo = [&folder](const char* name, const char* text) {
        std::ofstream(std::filesystem::path(folder) / name, std::ios::app) << text;
    };
    switch (row.tamper) {
    case Tamper::InstallLocationRespelt: {
        std::wstring spelling = row.respelling;
        wchar_t shortName[MAX_PATH] = {};
        ::GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
        const auto at = spelling.find(L"{8.3}");
        if (at != std::wstring::npos) {
            spelling.replace(at, 5, shortName);
        } else {
            spelling.replace(spelling.find(L"{}"), 2, folder);
        }
        SetText(hive, uninstallKey, L"InstallLocation", spelling);
        break;
    }
    case Tamper::OtherEntryNamesThisCopy:
        SetText(HiveOf(OtherMode(row.mode)), uninstallKey, L"InstallLocation", folder);
        break;
    case Tamper::RecordClaimsAFolder:
        appendTo("quarrion_record.dat", "folder\t\\\\?\\C:\\Before\\Empty\tC:\\Before\\Empty\n");
        break;
    case Tamper::RecordClaimsAValue:
        SetText(hive, L"Software\\QuarrionTestsOther", L"x", L"v");
        appendTo("quarrion_record.dat",
                 "value\t\tSoftware\\QuarrionTestsOther\tx\t1:76000000\t-\n");
        break;
    case Tamper::NoticesChanged:
        appendTo("THIRD-PARTY-NOTICES.txt", "a player's note\n");
        break;
    case Tamper::AppsEntryLost:
        RemoveKey(hive, uninstallKey);
        break;
    case Tamper::InstallLocationGone:
        SetText(hive, uninstallKey, L"InstallLocation", L"Q:\\Quarrion Shell");
        break;
    case Tamper::RecordMarkedUtf8: {
        const std::string text = Bytes(folder + L"\\quarrion_record.dat");
        std::ofstream(std::filesystem::path(folder) / "quarrion_record.dat", std::ios::binary)
            << "\xEF\xBB\xBF" << text;
        break;
    }
    case Tamper::RegistrationClaimsAValue:
        SetText(DefaultAppsHive(row.mode), registeredApps, L"QuarrionTestsOther", L"Other");
        SetText(hive, ownKey, L"Registration",
                registration + L"value\t" + (UnderWow64() && hive == Hive::Machine ? L"64" : L"") +
                    L"\t" + registeredApps + L"\tQuarrionTestsOther\t" + RecordedText(L"Other") +
                    L"\t-\n");
        break;
    case Tamper::SchemeLinkedElsewhere:
        SetText(hive, linkedKey, L"", L"URL:Linked Protocol");
        SetText(hive, linkedKey + L"\\shell\\open\\command", L"", L"\"C:\\Other\\o.exe\" \"%1\"");
        AddTree(hive, linkedKey, linkedBefore);
        RemoveKey(hive, schemeKey);
        MakeRegistryLink(hive, schemeKey, linkedKey);
        break;
    case Tamper::CompanyKeyLinkedElsewhere:
        CopyKey(hive, companyKey, linkedKey);
        AddTree(hive, linkedKey, linkedBefore);
        RemoveKey(hive, companyKey);
        MakeRegistryLink(hive, companyKey, linkedKey);
        break;
    case Tamper::NoteNamesAnotherFile:
        std::ofstream(std::filesystem::path(beforeFolder) / "theirs.txt") << "theirs";
        SetText(hive, ownKey, L"FileBeingWritten", beforeFolder + L"\\theirs.txt");
        break;
    case Tamper::InstallLocationNamesACopy:
        // The copy, record and all, is the player's: only the copy registered is taken away.
        std::filesystem::copy(folder, beforeFolder + L"\\Copy");
        SetText(hive, uninstallKey, L"InstallLocation", beforeFolder + L"\\Copy");
        uninstallIn = L"C:\\Games\\Quarrion Shell Moved";
        RunSetup(L"/S " + SwitchOf(row.mode) + L" /D=" + uninstallIn);
        break;
    case Tamper::UninstallerCopiedElsewhere:
        uninstallIn = beforeFolder + L"\\Tools";
        InstallStandInGame(uninstallIn + L"\\uninstall.exe");
        std::ofstream(std::filesystem::path(uninstallIn) / "THIRD-PARTY-NOTICES.txt") << "theirs";
        std::filesystem::copy_file(folder + L"\\uninstall.exe",
                                   uninstallIn + L"\\qs-uninstall.exe");
        break;
    }
    const auto before = FileTree({beforeFolder});
    const auto otherEntry = ReadText(HiveOf(OtherMode(row.mode)), uninstallKey, L"InstallLocation");

    const auto status =
        row.tamper == Tamper::UninstallerCopiedElsewhere
            ? RunAndWait(L"\"" + uninstallIn + L"\\qs-uninstall.exe\" /S _?=" + uninstallIn)
            : UninstallStatus(uninstallIn);
    EXPECT_EQ(status, row.exitCode);
    EXPECT_EQ(FileTree({beforeFolder}), before) << "not ours";
    EXPECT_EQ(ReadText(HiveOf(OtherMode(row.mode)), uninstallKey, L"InstallLocation"), otherEntry);
    if (row.exitCode != 0) {
        EXPECT_EQ(ReadText(hive, commandKey, L""), OpenCommandOf(row.mode)) << "changed anyway";
        EXPECT_TRUE(std::filesystem::exists(ShellOf(row.mode)));
        if (row.tamper == Tamper::RecordClaimsAValue) {
            EXPECT_EQ(ReadText(hive, L"Software\\QuarrionTestsOther", L"x"), L"v");
            RemoveKey(hive, L"Software\\QuarrionTestsOther");
            std::filesystem::remove(std::filesystem::path(folder) / "quarrion_record.dat");
            RunSetup(L"/S " + SwitchOf(row.mode)); // a record again, for the tear-down
        }
        if (row.tamper == Tamper::CompanyKeyLinkedElsewhere) {
            std::map<std::wstring, std::wstring> linkedAfter;
            AddTree(hive, linkedKey, linkedAfter);
            EXPECT_EQ(linkedAfter, linkedBefore) << "changed through the link";
            EXPECT_TRUE(std::filesystem::exists(folder + L"\\THIRD-PARTY-NOTICES.txt"));
            RemoveRegistryLink(hive, companyKey);
            CopyKey(hive, linkedKey, companyKey);
            RemoveKey(hive, linkedKey);
        }
        if (row.tamper == Tamper::RegistrationClaimsAValue) {
            EXPECT_EQ(ReadText(DefaultAppsHive(row.mode), registeredApps, L"QuarrionTestsOther"),
                      L"Other");
            ::RegDeleteKeyValueW(DefaultAppsHive(row.mode) == Hive::User ? HKEY_CURRENT_USER
                                                                         : HKEY_LOCAL_MACHINE,
                                 registeredApps.c_str(), L"QuarrionTestsOther");
            SetText(hive, ownKey, L"Registration", registration);
        }
        return;
    }
    if (row.tamper == Tamper::SchemeLinkedElsewhere) {
        std::map<std::wstring, std::wstring> linkedAfter;
        AddTree(hive, linkedKey, linkedAfter);
        EXPECT_EQ(linkedAfter, linkedBefore) << "changed through the link";
        EXPECT_EQ(RunAndWait(L"\"" + ProgramFolder() + L"quarrion_shell_setup.exe\" /S " +
                             SwitchOf(row.mode)),
                  145u)
            << "setup writes through a link";
        EXPECT_EQ(ReadText(hive, commandKey, L""), L"\"C:\\Other\\o.exe\" \"%1\"");
        RemoveRegistryLink(hive, schemeKey);
        RemoveKey(hive, linkedKey);
        EXPECT_FALSE(KeyExists(hive, uninstallKey));
        return;
    }
    EXPECT_FALSE(KeyExists(hive, schemeKey));
    EXPECT_FALSE(KeyExists(hive, uninstallKey));
    EXPECT_FALSE(std::filesystem::exists(ShellOf(row.mode)));
    EXPECT_EQ(std::filesystem::exists(folder + L"\\THIRD-PARTY-NOTICES.txt"),
              row.tamper == Tamper::NoticesChanged)
        << "a file the player changed is theirs";
}

INSTANTIATE_TEST_SUITE_P(
    Records, Tampered,
    testing::Values(
        TamperCase{"SeparatorAtTheEnd", InstallMode::AllUsers, Tamper::InstallLocationRespelt,
                   L"{}\\", 0},
        TamperCase{"DotAtTheEnd", InstallMode::CurrentUser, Tamper::InstallLocationRespelt,
                   L"{}\\.", 0},
        TamperCase{"DotDot", InstallMode::AllUsers, Tamper::InstallLocationRespelt, L"{}\\x\\..",
                   0},
        TamperCase{"ShortNames", InstallMode::CurrentUser, Tamper::InstallLocationRespelt, L"{8.3}",
                   0},
        TamperCase{"UserEntryNamesTheMachineCopy", InstallMode::AllUsers,
                   Tamper::OtherEntryNamesThisCopy, L"", 0},
        TamperCase{"RecordClaimsAFolderThatWasThere", InstallMode::AllUsers,
                   Tamper::RecordClaimsAFolder, L"", 0},
        TamperCase{"RecordClaimsAnotherProgramsValue", InstallMode::CurrentUser,
                   Tamper::RecordClaimsAValue, L"", 1605},
        TamperCase{"NoticesChangedByThePlayer", InstallMode::CurrentUser, Tamper::NoticesChanged,
                   L"", 0},
        TamperCase{"UninstallerCopiedToAnotherProgramsFolder", InstallMode::AllUsers,
                   Tamper::UninstallerCopiedElsewhere, L"", 1605},
        TamperCase{"AppsEntryLost", InstallMode::AllUsers, Tamper::AppsEntryLost, L"", 0},
        TamperCase{"InstallLocationOnADriveGone", InstallMode::CurrentUser,
                   Tamper::InstallLocationGone, L"", 0},
        TamperCase{"RecordMarkedUtf8", InstallMode::AllUsers, Tamper::RecordMarkedUtf8, L"", 0},
        TamperCase{"RegistrationClaimsAnotherProgramsValue", InstallMode::AllUsers,
                   Tamper::RegistrationClaimsAValue, L"", 1605},
        TamperCase{"SchemeLinkedToAnotherProgramsKey", InstallMode::CurrentUser,
                   Tamper::SchemeLinkedElsewhere, L"", 0},
        TamperCase{"CompanyKeyLinkedToAnotherProgramsKey", InstallMode::CurrentUser,
                   Tamper::CompanyKeyLinkedElsewhere, L"", 145},
        TamperCase{"NoteOfARecordBeingWrittenNamesAnotherFile", InstallMode::AllUsers,
                   Tamper::NoteNamesAnotherFile, L"", 0},
        TamperCase{"MovedWhileTheAppsEntryNamesACopy", InstallMode::CurrentUser,
                   Tamper::InstallLocationNamesACopy, L"", 0}),
    CaseName<TamperCase>);

// A key setup's plan names: where it is, and whether it is one of ours that the uninstall
// removes whole.
struct PlannedKey {
    Hive hive;
    std::wstring key;
    bool own;
    bool onTheWay = false; // not named itself, only on the way to one that is
};

// Every key of setup's plan in this mode, as setup hands it to its record keeper (the crash
// tests' build copies it), each key on the way to one (but Software and Software\Classes, the
// system's), and our company's key, which holds the record; nothing is changed.
std::vector<PlannedKey> KeysOfThePlan(InstallMode mode) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring copy = std::wstring(temp) + L"quarrion-plan.txt";
    ::SetEnvironmentVariableW(L"QUARRION_PLAN_COPY", copy.c_str());
    StoppedAfter(L"may-install:start", [mode] { RunCrashingSetup(L"/S " + SwitchOf(mode)); });
    ::SetEnvironmentVariableW(L"QUARRION_PLAN_COPY", nullptr);
    const std::string bytes = Bytes(copy);
    std::wstring text(bytes.size() / 2, L'\0');
    std::copy_n(bytes.data(), text.size() * 2, reinterpret_cast<char*>(text.data()));
    std::vector<PlannedKey> keys{{HiveOf(mode), companyKey + L"\\" QUARRION_FOLDER, false}};
    std::wistringstream lines(text);
    for (std::wstring line; std::getline(lines, line);) {
        if (line.ends_with(L'\r')) {
            line.pop_back();
        }
        std::vector<std::wstring> fields;
        std::wistringstream split(line);
        for (std::wstring field; std::getline(split, field, L'\t');) {
            fields.push_back(field);
        }
        if (fields.size() < 3) {
            continue;
        }
        const Hive hive = fields[1] == L"64" && mode == InstallMode::AllUsers ? Hive::NativeMachine
                                                                              : HiveOf(mode);
        // The key, and each on the way to it but the system's own.
        for (auto at = fields[2].find(L'\\'); at != std::wstring::npos;
             at = at + 1 < fields[2].size() ? fields[2].find(L'\\', at + 1) : std::wstring::npos) {
            const std::wstring above = fields[2].substr(0, at);
            if (above != L"Software" && above != L"Software\\Classes") {
                keys.push_back({hive, above, false, true});
            }
        }
        keys.push_back({hive, fields[2], fields[0] == L"own"});
    }
    // Each once, as the plan names it first or its own line says.
    std::vector<PlannedKey> once;
    for (const auto& key : keys) {
        const auto known = std::find_if(once.begin(), once.end(), [&](const PlannedKey& one) {
            return one.hive == key.hive && one.key == key.key;
        });
        if (known == once.end()) {
            once.push_back(key);
        } else {
            known->own = known->own || key.own;
            known->onTheWay = known->onTheWay && key.onTheWay;
        }
    }
    return once;
}

struct GateCase {
    const char* name;
    InstallMode mode;
    bool whole; // every key; otherwise those the plan names whose parent it does not name
};

// A registry link at any key of setup's plan, to another program's key: setup refuses (145)
// before changing anything, and the uninstall of a copy whose key of ours became one removes
// nothing through it. Added to the plan, a key is in this table.
class Gate : public testing::TestWithParam<GateCase> {
  protected:
    void SetUp() override { RemoveEveryInstall(); }
    void TearDown() override { RemoveEveryInstall(); }
};

TEST_P(Gate, NoKeyOfThePlanIsWrittenOrRemovedThroughALink) {
    const InstallMode mode = GetParam().mode;
    const auto keys = KeysOfThePlan(mode);
    ASSERT_GT(keys.size(), 10u) << "no plan copied";
    const std::wstring theirs = L"Software\\QuarrionTestsLinked";
    const auto there = [](Hive hive, const std::wstring& key) {
        std::map<std::wstring, std::wstring> tree;
        AddTree(hive, key, tree);
        return !tree.empty();
    };
    int tried = 0;
    for (const auto& planned : keys) {
        const Hive hive = planned.hive;
        const std::wstring& key = planned.key;
        const std::wstring parent = key.substr(0, key.rfind(L'\\'));
        const bool parentPlanned = std::any_of(keys.begin(), keys.end(), [&](const auto& one) {
            return one.hive == hive && one.key == parent && !one.onTheWay;
        });
        if ((!GetParam().whole && (parentPlanned || planned.onTheWay)) || there(hive, key)) {
            continue; // a key there before cannot become a link here
        }
        ++tried;
        SCOPED_TRACE(Utf8(key));
        // Another program's key, as the native view names it.
        const Hive targetHive = hive == Hive::User ? Hive::User : Hive::NativeMachine;
        SetText(targetHive, theirs, L"x", L"theirs");
        SetText(targetHive, theirs + L"\\Inner", L"", L"theirs too");
        std::map<std::wstring, std::wstring> before;
        AddTree(targetHive, theirs, before);
        // The outermost key the link makes on its way, removed with it.
        std::wstring made = key;
        while (made.find(L'\\') != std::wstring::npos &&
               !there(hive, made.substr(0, made.rfind(L'\\')))) {
            made.resize(made.rfind(L'\\'));
        }
        const auto linkAndCheck = [&](const char* when) {
            std::map<std::wstring, std::wstring> after;
            AddTree(targetHive, theirs, after);
            EXPECT_EQ(after, before) << "changed through the link " << when;
            RemoveRegistryLink(hive, key);
            if (made != key) {
                RemoveKey(hive, made);
            }
        };
        MakeRegistryLink(hive, key, theirs);
        EXPECT_EQ(RunAndWait(L"\"" + ProgramFolder() + L"quarrion_shell_setup.exe\" /S " +
                             SwitchOf(mode)),
                  145u);
        EXPECT_FALSE(std::filesystem::exists(ShellOf(mode))) << "installed anyway";
        linkAndCheck("by setup");
        if (planned.own) {
            InstallProduct(mode);
            RemoveKey(hive, key);
            MakeRegistryLink(hive, key, theirs);
            UninstallStatus(InstallFolder(mode));
            linkAndCheck("by the uninstall");
            RemoveEveryInstall();
        }
        RemoveKey(targetHive, theirs);
    }
    EXPECT_GT(tried, 3);
}

INSTANTIATE_TEST_SUITE_P(Links, Gate,
                         testing::Values(GateCase{"ForOneUser", InstallMode::CurrentUser, false}),
                         CaseName<GateCase>);
INSTANTIATE_TEST_SUITE_P(GateTable, Gate,
                         testing::Values(GateCase{"ForEveryone", InstallMode::AllUsers, true},
                                         GateCase{"ForOneUser", InstallMode::CurrentUser, true}),
                         CaseName<GateCase>);

// A copy as builds before the record left it: their uninstaller, known by the company and the
// name they went by; their values, the list of registered applications' named after that name;
// the handler they took over kept under the company's key; the folders they made in the Apps
// entry. Setup run over it upgrades it in place, whatever the display name is now, and its
// uninstall then takes it all away and gives the scheme back.
class EarlierCopy : public testing::TestWithParam<ModeCase> {
  protected:
    void SetUp() override { RemoveEveryInstall(); }
    void TearDown() override {
        RemoveKey(HiveOf(GetParam().mode), schemeKey);
        std::filesystem::remove_all(otherFolder);
    }
};

TEST_P(EarlierCopy, IsUpgradedInPlaceAndRemovedWhole) {
    const InstallMode mode = GetParam().mode;
    const Hive hive = HiveOf(mode);
    const std::wstring folder = InstallFolder(mode);
    const std::wstring company = std::filesystem::path(folder).parent_path().wstring();
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(ProgramFolder() + L"quarrion_shell.exe", ShellOf(mode));
    std::filesystem::copy_file(ProgramFolder() + L"earlier_uninstaller.exe",
                               folder + L"\\uninstall.exe");
    std::ofstream(std::filesystem::path(folder) / "THIRD-PARTY-NOTICES.txt") << "notices\n";
    const std::wstring theirs = L"\"C:\\Other\\other.exe\" \"%1\"";
    InstallStandInGame(L"C:\\Other\\other.exe");
    const std::wstring kept = companyKey + L"\\" QUARRION_FOLDER L"\\PreviousHandler";
    SetText(hive, kept, L"Command", theirs);
    SetText(hive, kept, L"Name", L"URL:Other Protocol");
    SetText(hive, kept, L"Icon", L"");
    SetText(hive, schemeKey, L"", L"URL:Quarrion Protocol");
    SetText(hive, schemeKey, L"URL Protocol", L"");
    SetText(hive, commandKey, L"", OpenCommandOf(mode));
    // The other program's, which those builds never set: setup removes it, the uninstall gives
    // it back.
    const std::wstring delegate = L"{4F2E6C4A-0D3B-4C1E-9A55-3B1A0E7D2C11}";
    SetText(hive, commandKey, L"DelegateExecute", delegate);
    SetText(hive, applicationKey, L"FriendlyAppName", earlierName);
    SetText(DefaultAppsHive(mode), registeredApps, earlierName, capabilitiesKey);
    SetText(DefaultAppsHive(mode), capabilitiesKey, L"ApplicationName", earlierName);
    SetText(hive, uninstallKey, L"DisplayName", earlierName);
    SetText(hive, uninstallKey, L"InstallLocation", folder);
    SetText(hive, uninstallKey, L"CreatedFolders", folder + L"|" + company + L"|");
    if (mode == InstallMode::CurrentUser) {
        // An upgrade that fails (the program in use) leaves that build's uninstaller in place,
        // which knows its copy as it is.
        const std::string earlierUninstaller = Bytes(folder + L"\\uninstall.exe");
        const UniqueHandle inUse(::CreateFileW(ShellOf(mode).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(RunAndWait(L"\"" + ProgramFolder() + L"quarrion_shell_setup.exe\" " +
                             GetParam().switches),
                  32u);
        EXPECT_EQ(Bytes(folder + L"\\uninstall.exe"), earlierUninstaller);
        EXPECT_EQ(ReadText(hive, commandKey, L""), OpenCommandOf(mode));
    }

    RunSetup(GetParam().switches);
    EXPECT_EQ(EntriesNamed(hive, product), 1);
    EXPECT_EQ(ReadText(hive, uninstallKey, L"InstallLocation"), folder);
    EXPECT_EQ(ReadText(DefaultAppsHive(mode), registeredApps, registeredName), capabilitiesKey);
    if (earlierName != registeredName) {
        EXPECT_EQ(ReadText(DefaultAppsHive(mode), registeredApps, earlierName), std::nullopt);
    }
    EXPECT_EQ(ReadText(hive, commandKey, L""), OpenCommandOf(mode));

    UninstallProduct(mode);
    EXPECT_EQ(ReadText(hive, commandKey, L""), theirs) << "the handler it had taken over";
    EXPECT_EQ(ReadText(hive, schemeKey, L""), L"URL:Other Protocol");
    EXPECT_EQ(ReadText(hive, commandKey, L"DelegateExecute"), delegate);
    EXPECT_FALSE(std::filesystem::exists(company)) << "the folders it made";
    for (const auto& key : {uninstallKey, companyKey, applicationKey}) {
        EXPECT_FALSE(KeyExists(hive, key)) << testing::PrintToString(key);
    }
    EXPECT_EQ(ReadText(DefaultAppsHive(mode), registeredApps, earlierName), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, EarlierCopy,
    testing::Values(ModeCase{"AllUsers", InstallMode::AllUsers, L"/S /AllUsers"},
                    ModeCase{"CurrentUser", InstallMode::CurrentUser, L"/S /CurrentUser"}),
    CaseName<ModeCase>);

struct EarlierBuildCase {
    const char* name;
    const char* commit;
    InstallMode mode;
    unsigned long exitCode; // of its setup, run over this build's copy
    // Its copy tells which folders it made; the first day's builds kept no note of them, so the
    // folder they made is not provably ours and stays, empty.
    bool foldersKnown = true;
};

// An earlier build's setup run over this build's copy, which took another program's handler
// over: it stops before it changes anything (145: this build's uninstaller is not one it knows),
// or, for the first day's builds, which check nothing, its uninstall still gives the handler
// back. This build's setup and uninstall then leave the machine as before.
class EarlierBuild : public testing::TestWithParam<EarlierBuildCase> {
  protected:
    void SetUp() override { RemoveEveryInstall(); }
    void TearDown() override {
        RemoveEveryInstall();
        CleanAfter(Stopped("", GetParam().mode, Journey::None, L""));
        for (const Hive list : {HiveOf(GetParam().mode), DefaultAppsHive(GetParam().mode)}) {
            HKEY opened = nullptr;
            if (::RegOpenKeyExW(RootOf(list), registeredApps.c_str(), 0,
                                KEY_SET_VALUE | ViewOf(list), &opened) == ERROR_SUCCESS) {
                ::RegDeleteValueW(opened, L"QuarrionTestsOther");
                ::RegCloseKey(opened);
            }
        }
        RemoveKey(HiveOf(GetParam().mode), otherAppsEntry);
    }
};

// Another program's handler, its value in the list of registered applications (in both views)
// and its Apps entry, as on any Windows; the folders to compare.
std::vector<std::wstring> OtherProgramsThere(InstallMode mode) {
    for (const auto& value : otherHandler) {
        SetText(HiveOf(mode), value.key, value.name, value.text);
    }
    for (const Hive hive : {HiveOf(mode), DefaultAppsHive(mode)}) {
        SetText(hive, registeredApps, L"QuarrionTestsOther", L"Software\\Other\\Capabilities");
    }
    SetText(HiveOf(mode), otherAppsEntry, L"DisplayName", L"Other");
    InstallStandInGame(otherProgram);
    return {otherFolder, std::filesystem::path(InstallFolder(mode)).parent_path()};
}

std::wstring EarlierSetup(const char* commit) {
    std::wstring setup =
        Wide(QUARRION_EARLIER_SETUPS "/") + Wide(commit) + L"/quarrion_shell_setup.exe";
    std::replace(setup.begin(), setup.end(), L'/', L'\\');
    return L"\"" + setup + L"\" /S ";
}

TEST_P(EarlierBuild, RunOverThisOneLosesNothing) {
    const EarlierBuildCase& row = GetParam();
    const Hive hive = HiveOf(row.mode);
    const auto roots = OtherProgramsThere(row.mode);
    const auto before = Snapshot(roots);
    InstallProduct(row.mode);
    const auto installed = Snapshot(roots);
    EXPECT_EQ(RunAndWait(EarlierSetup(row.commit) + SwitchOf(row.mode)), row.exitCode);
    if (row.exitCode != 0) {
        EXPECT_EQ(Changes(installed, Snapshot(roots)), "") << "changed before it stopped";
    } else {
        UninstallCopyIn(InstallFolder(row.mode)); // the earlier build's uninstaller
        EXPECT_EQ(ReadText(hive, commandKey, L""), otherHandler.back().text);
        EXPECT_EQ(ReadText(hive, schemeKey, L""), otherHandler.front().text);
    }
    RunSetup(L"/S " + SwitchOf(row.mode));
    UninstallCopyIn(InstallFolder(row.mode));
    EXPECT_EQ(Changes(before, Snapshot(roots)), "");
}

// The other way: this build's setup over the earlier build's copy, then this build's uninstall.
TEST_P(EarlierBuild, ThisOneRunOverItLosesNothing) {
    const EarlierBuildCase& row = GetParam();
    const auto roots = OtherProgramsThere(row.mode);
    const auto before = Snapshot(roots);
    ASSERT_EQ(RunAndWait(EarlierSetup(row.commit) + SwitchOf(row.mode)), 0u);
    RunSetup(L"/S " + SwitchOf(row.mode));
    UninstallCopyIn(InstallFolder(row.mode));
    if (!row.foldersKnown) {
        EXPECT_EQ(FilesLeftIn(InstallFolder(row.mode)), L"(the folder itself)");
        std::filesystem::remove(InstallFolder(row.mode));
        std::filesystem::remove(std::filesystem::path(InstallFolder(row.mode)).parent_path());
    }
    EXPECT_EQ(Changes(before, Snapshot(roots)), "");
}

INSTANTIATE_TEST_SUITE_P(
    Commits, EarlierBuild,
    testing::Values(
        EarlierBuildCase{"FirstDayForEveryone", "630380a", InstallMode::AllUsers, 0, false},
        EarlierBuildCase{"FirstDayForOneUser", "630380a", InstallMode::CurrentUser, 0, false},
        EarlierBuildCase{"ForeignFileCheck", "ce2ae15", InstallMode::AllUsers, 145},
        EarlierBuildCase{"RecordInTheFolderForEveryone", "4a701fa", InstallMode::AllUsers, 145},
        EarlierBuildCase{"RecordInTheFolderForOneUser", "4a701fa", InstallMode::CurrentUser, 145},
        EarlierBuildCase{"RegistrationInTheHive", "afb284c", InstallMode::CurrentUser, 145}),
    CaseName<EarlierBuildCase>);

// Both installed: the user's own registration applies to them. Removing either leaves the other
// whole, and links keep working through it.
class SideBySide : public testing::TestWithParam<ModeCase> {
  protected:
    static void SetUpTestSuite() { InstallStandInGame(game); }
    void SetUp() override {
        RemoveEveryInstall();
        InstallProduct(InstallMode::AllUsers);
        InstallProduct(InstallMode::CurrentUser);
        SetInstallPath(game);
    }
    void TearDown() override { RemoveMachineKey(gameKey); }
};

TEST_P(SideBySide, RemovingOneSparesTheOther) {
    EXPECT_EQ(HandlerOfLinks(), ExpectedHandlerOfBoth());
    const InstallMode removed = GetParam().mode;
    const InstallMode kept = OtherMode(removed);
    UninstallProduct(removed);

    EXPECT_FALSE(KeyExists(HiveOf(removed), schemeKey));
    EXPECT_TRUE(std::filesystem::exists(ShellOf(kept)));
    EXPECT_EQ(ReadText(HiveOf(kept), commandKey, L""), OpenCommandOf(kept));
    EXPECT_EQ(ReadText(HiveOf(kept), uninstallKey, L"InstallLocation"), InstallFolder(kept));
    EXPECT_NE(ReadText(DefaultAppsHive(kept), registeredApps, registeredName), std::nullopt);
    EXPECT_EQ(ReadText(HiveOf(kept), applicationKey, L"FriendlyAppName"), product);
    if (DispatchSees(kept)) {
        EXPECT_EQ(HandlerOfLinks(), ShellOf(kept));
    }

    const ShellRun run = OpenLinkAs(kept, L"quarrion://h/p");
    ASSERT_TRUE(run.game) << "the game was not started";
    EXPECT_EQ(run.game->commandLine, game + L" +connect h +pass p");
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SideBySide,
    testing::Values(ModeCase{"RemovingForOneUser", InstallMode::CurrentUser, L""},
                    ModeCase{"RemovingForEveryone", InstallMode::AllUsers, L""}),
    CaseName<ModeCase>);

} // namespace
