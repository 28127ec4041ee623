#include "product.hpp"

#include "private_prefix.hpp"
#include "shell_run.hpp"

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <stdexcept>

std::wstring InstallFolder() {
    wchar_t programFiles[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles);
    return std::wstring(programFiles) + L"\\Tabrix\\Quarrion Shell";
}

void InstallProduct() {
    RequirePrivatePrefix();
    const auto status = RunAndWait(L"\"" + ProgramFolder() + L"quarrion_shell_setup.exe\" /S");
    if (status != 0) {
        throw std::runtime_error("setup failed with " + std::to_string(status));
    }
}

void UninstallProduct() {
    RequirePrivatePrefix();
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring copy = std::wstring(temp) + L"quarrion-uninstall.exe";
    std::filesystem::copy_file(InstallFolder() + L"\\uninstall.exe", copy,
                               std::filesystem::copy_options::overwrite_existing);
    const auto status = RunAndWait(L"\"" + copy + L"\" /S _?=" + InstallFolder());
    std::filesystem::remove(copy);
    if (status != 0) {
        throw std::runtime_error("uninstall failed with " + std::to_string(status));
    }
}
