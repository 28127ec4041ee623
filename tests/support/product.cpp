#include "product.hpp"

#include "shell_run.hpp"

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <stdexcept>

std::wstring InstallFolder(InstallMode mode) {
    wchar_t root[MAX_PATH] = {};
    const bool everyone = mode == InstallMode::AllUsers;
    ::SHGetFolderPathW(nullptr, everyone ? CSIDL_PROGRAM_FILES : CSIDL_LOCAL_APPDATA, nullptr,
                       SHGFP_TYPE_CURRENT, root);
    return std::wstring(root) + (everyone ? L"" : L"\\Programs") +
           L"\\" QUARRION_COMPANY L"\\" QUARRION_FOLDER;
}

void RunSetup(const std::wstring& switches) {
    RequirePrivatePrefix();
    const auto status =
        RunAndWait(L"\"" + ProgramFolder() + L"quarrion_shell_setup.exe\" " + switches);
    if (status != 0) {
        throw std::runtime_error("setup failed with " + std::to_string(status));
    }
}

unsigned long RunCrashingSetup(const std::wstring& switches) {
    RequirePrivatePrefix();
    return RunAndWait(L"\"" + ProgramFolder() + L"quarrion_shell_setup_crashing.exe\" " + switches);
}

void InstallProduct(InstallMode mode) {
    RunSetup(L"/S " + SwitchOf(mode));
}

void UninstallProduct(InstallMode mode) {
    UninstallCopyIn(InstallFolder(mode));
}

namespace {

// Runs a copy of the uninstaller from the temp folder, as it would copy itself, and removes it.
template <class Run> auto RunUninstallerCopy(const std::wstring& folder, Run run) {
    RequirePrivatePrefix();
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring copy = std::wstring(temp) + L"quarrion-uninstall.exe";
    std::filesystem::copy_file(folder + L"\\uninstall.exe", copy,
                               std::filesystem::copy_options::overwrite_existing);
    auto result = run(L"\"" + copy + L"\" ");
    std::filesystem::remove(copy);
    return result;
}

} // namespace

unsigned long UninstallStatus(const std::wstring& folder) {
    return RunUninstallerCopy(folder, [&folder](const std::wstring& program) {
        return RunAndWait(program + L"/S _?=" + folder);
    });
}

void UninstallCopyIn(const std::wstring& folder) {
    const auto status = UninstallStatus(folder);
    if (status != 0) {
        throw std::runtime_error("uninstall failed with " + std::to_string(status));
    }
}

std::vector<std::wstring> UninstallInteractively(const std::wstring& folder) {
    return RunUninstallerCopy(folder, [&folder](const std::wstring& program) {
        return ClickThroughWizard(program + L"_?=" + folder);
    });
}
