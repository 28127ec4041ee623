#pragma once

#include "private_prefix.hpp"

#include <string>
#include <vector>

// The installed product in the private prefix: quarrion_shell_setup.exe run silently, as an
// administrator deploying it, or a player installing it for themselves, would.

enum class InstallMode { AllUsers, CurrentUser };

// The hive the mode's keys go to.
inline Hive HiveOf(InstallMode mode) {
    return mode == InstallMode::AllUsers ? Hive::Machine : Hive::User;
}

// The setup's switch for the mode: /AllUsers or /CurrentUser.
inline std::wstring SwitchOf(InstallMode mode) {
    return mode == InstallMode::AllUsers ? L"/AllUsers" : L"/CurrentUser";
}

// Where the installer puts the program: the 32-bit Program Files for everyone, the user's
// %LOCALAPPDATA%\Programs for one user, each under the company's folder.
std::wstring InstallFolder(InstallMode mode = InstallMode::AllUsers);

// Runs quarrion_shell_setup.exe with these switches and waits; throws std::runtime_error when it
// fails. InstallProduct gives /S and the mode's own switch.
void RunSetup(const std::wstring& switches);
void InstallProduct(InstallMode mode = InstallMode::AllUsers);
// The crash tests' build of setup, whose record keeper stops dead after the step
// QUARRION_CRASH_AFTER names; its exit status.
unsigned long RunCrashingSetup(const std::wstring& switches);
// Runs a copy of the mode's uninstaller from the temp folder, as it would copy itself, but waits
// for it. It is given no mode: it must find its own.
void UninstallProduct(InstallMode mode = InstallMode::AllUsers);
// The same for the uninstaller of the copy in that folder; UninstallStatus returns its exit
// status instead of throwing when it is not 0.
void UninstallCopyIn(const std::wstring& folder);
unsigned long UninstallStatus(const std::wstring& folder);
// The same, not silent: clicked through as ClickThroughWizard does; returns the pages' texts.
std::vector<std::wstring> UninstallInteractively(const std::wstring& folder);
