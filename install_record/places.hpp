#pragma once

// The registry places quarrion_record.exe knows, and small helpers its commands share.

#include "record.hpp"

#include <windows.h>

#include <string>

namespace record {

constexpr int exitInUse = 32;         // ERROR_SHARING_VIOLATION: a file of ours is in use
constexpr int exitCannotWrite = 82;   // ERROR_CANNOT_MAKE
constexpr int exitNotOurs = 145;      // ERROR_DIR_NOT_EMPTY: a link where our files or keys go
constexpr int exitOtherMode = 183;    // ERROR_ALREADY_EXISTS: the other mode's copy is here
constexpr int exitUnknownCopy = 1605; // ERROR_UNKNOWN_PRODUCT: no installed copy here
constexpr int exitBadRecord = 1610;   // ERROR_BAD_CONFIGURATION: a record that cannot be read

// Stops a command with a Windows error number and the reason (or, for 145, the name in the way).
struct Refusal : Failure {
    Refusal(int code, const std::string& reason) : Failure(reason), exitCode(code) {}
    int exitCode;
};

inline const std::wstring recordName = L"uninstall.dat";
inline const std::wstring appsEntryKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" QUARRION_ID;
inline const std::wstring schemeKey = L"Software\\Classes\\quarrion";
inline const std::wstring commandKey = schemeKey + L"\\shell\\open\\command";
// Our company's key in the mode's hive: the registration's record and the folders being made.
inline const std::wstring ownKey = L"Software\\" QUARRION_COMPANY L"\\" QUARRION_FOLDER;

HKEY HiveOf(const std::wstring& mode);
std::wstring OtherMode(const std::wstring& mode);
// A text value's text, without its terminating nulls; empty for anything else.
std::wstring TextOf(const ValueState& state);
std::wstring PathIn(const std::wstring& folder, const std::wstring& name);
bool InScheme(const std::wstring& key);
// The only places setup shares with other programs: a key in one, or on the way to one.
bool InSharedPlace(const std::wstring& key);
bool OnTheWayToASharedPlace(const std::wstring& key);
// The folder the mode's Apps entry names.
std::wstring InstallLocation(const std::wstring& mode);

} // namespace record
