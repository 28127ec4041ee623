#pragma once

#include <optional>
#include <string>

// Throws std::runtime_error unless this process runs under Wine in the private prefix that the
// test set-up made (it leaves a value naming itself there). Every write below calls it first, so
// the tests never touch a real user's registry or files.
void RequirePrivatePrefix();

// Copies the stand-in game to programPath (a full path in the prefix), making its folders.
void InstallStandInGame(const std::wstring& programPath);

// A text value under HKEY_LOCAL_MACHINE, or nothing when it is absent or not text.
std::optional<std::wstring> ReadMachineText(const std::wstring& key, const std::wstring& name);

// Writes or removes values and keys under HKEY_LOCAL_MACHINE in the private prefix.
void SetMachineValue(const std::wstring& key, const std::wstring& name, unsigned long type,
                     const void* data, unsigned long size);
void SetMachineText(const std::wstring& key, const std::wstring& name, const std::wstring& text);
void RemoveMachineValue(const std::wstring& key, const std::wstring& name);
void RemoveMachineKey(const std::wstring& key);

// HKLM\SOFTWARE\Dunmarch\Quarrion\InstallPath, where the program finds the game.
inline const std::wstring gameKey = L"SOFTWARE\\Dunmarch\\Quarrion";
inline void SetInstallPath(const std::wstring& text) {
    SetMachineText(gameKey, L"InstallPath", text);
}
