#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

// Throws std::runtime_error unless this process runs under Wine in the private prefix that the
// test set-up made (it leaves a value naming itself there). Every write below calls it first, so
// the tests never touch a real user's registry or files.
void RequirePrivatePrefix();

// Copies the stand-in game to programPath (a full path in the prefix), making its folders.
void InstallStandInGame(const std::wstring& programPath);

// A batch file at batchPath that starts the stand-in game beside it, as quarrion.exe, with the
// batch's own arguments: a wrapper script that a player or a mod manager put in the game's place.
void InstallBatchStandIn(const std::wstring& batchPath);

// The two hives a program's keys go to: HKEY_LOCAL_MACHINE for everyone, HKEY_CURRENT_USER for one.
// NativeMachine is HKEY_LOCAL_MACHINE as 64-bit programs see it, the shell among them: on 64-bit
// Windows a 32-bit program's HKLM\Software is WOW6432Node there. Elsewhere it is Machine.
enum class Hive { Machine, User, NativeMachine };

// True when this 32-bit program runs on 64-bit Windows, under WoW64, with two registry views.
bool UnderWow64();

// A text value (an expandable one as it is kept), or nothing when it is absent or not text.
std::optional<std::wstring> ReadText(Hive hive, const std::wstring& key, const std::wstring& name);
inline std::optional<std::wstring> ReadMachineText(const std::wstring& key,
                                                   const std::wstring& name) {
    return ReadText(Hive::Machine, key, name);
}

// A REG_DWORD value, or nothing.
std::optional<unsigned long> ReadNumber(Hive hive, const std::wstring& key,
                                        const std::wstring& name);

// The names of a key's subkeys, or of its values; none when the key is absent.
std::set<std::wstring> Names(Hive hive, const std::wstring& key, bool values);

// Every key and value (type and bytes) from `key` down, added to `tree` by path.
void AddTree(Hive hive, const std::wstring& key, std::map<std::wstring, std::wstring>& tree);

// Writes or removes values and keys in the private prefix.
void SetValue(Hive hive, const std::wstring& key, const std::wstring& name, unsigned long type,
              const void* data, unsigned long size);
void SetText(Hive hive, const std::wstring& key, const std::wstring& name,
             const std::wstring& text);
inline void SetMachineValue(const std::wstring& key, const std::wstring& name, unsigned long type,
                            const void* data, unsigned long size) {
    SetValue(Hive::Machine, key, name, type, data, size);
}
inline void SetMachineText(const std::wstring& key, const std::wstring& name,
                           const std::wstring& text) {
    SetText(Hive::Machine, key, name, text);
}
void RemoveMachineValue(const std::wstring& key, const std::wstring& name);
void RemoveKey(Hive hive, const std::wstring& key);
inline void RemoveMachineKey(const std::wstring& key) {
    RemoveKey(Hive::Machine, key);
}

// HKLM\SOFTWARE\Dunmarch\Quarrion\InstallPath, where the program finds the game.
inline const std::wstring gameKey = L"SOFTWARE\\Dunmarch\\Quarrion";
inline void SetInstallPath(const std::wstring& text) {
    SetMachineText(gameKey, L"InstallPath", text);
}
