#pragma once

#include <string>

// The installed product in the private prefix: quarrion_shell_setup.exe run silently, as an
// administrator deploying it would.

// Where the installer puts the program: the 32-bit Program Files, under the company's folder.
std::wstring InstallFolder();

// Throw std::runtime_error when the installer or uninstaller fails.
void InstallProduct();
// Runs a copy of the uninstaller from the temp folder, as it would copy itself, but waits for it.
void UninstallProduct();
