#pragma once

#include <string>

// Throws std::runtime_error unless this process runs under Wine in the private prefix that the
// test set-up made (it leaves a value naming itself there). Called before every registry write,
// so the tests never touch a real user's registry.
void RequirePrivatePrefix();

// Copies the stand-in game to programPath (a full path in the prefix), making its folders.
void InstallStandInGame(const std::wstring& programPath);

// Writes or removes HKLM\SOFTWARE\Dunmarch\Quarrion\InstallPath in the private prefix.
void SetInstallPath(unsigned long type, const void* data, unsigned long size);
void SetInstallPath(const std::wstring& text);
void RemoveInstallPath();
void RemoveInstallPathKey();
