#pragma once

// The registry places quarrion_record.exe knows, and small helpers its commands share.

#include "record.hpp"

#include <windows.h>

#include <string>
#include <vector>

namespace record {

// The folder's record. Builds before the registration's record was kept in the hive named it
// uninstall.dat, and read this one's as theirs: under its own name, they stop (145: a file they
// do not know) before changing a copy they would misread.
inline const std::wstring recordName = L"quarrion_record.dat";
inline const std::wstring earlierRecordName = L"uninstall.dat";
inline const std::wstring appsEntryKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" QUARRION_ID;
inline const std::wstring schemeKey = L"Software\\Classes\\quarrion";
inline const std::wstring commandKey = schemeKey + L"\\shell\\open\\command";
// Our company's key in the mode's hive, and ours in it: the registration's record and the
// folders being made.
inline const std::wstring companyKey = L"Software\\" QUARRION_COMPANY;
inline const std::wstring ownKey = companyKey + L"\\" QUARRION_FOLDER;
// Where builds before the record kept the handler they took over, and gave it back from.
inline const std::wstring previousHandlerKey = ownKey + L"\\PreviousHandler";

HKEY HiveOf(const std::wstring& mode);
std::wstring OtherMode(const std::wstring& mode);
// A text value's text, without its terminating nulls; empty for anything else.
std::wstring TextOf(const ValueState& state);
std::wstring PathIn(const std::wstring& folder, const std::wstring& name);
bool InScheme(const std::wstring& key);
// The only places setup shares with other programs: a key in one, or on the way to one.
std::vector<std::wstring> SharedPlaces();
bool InSharedPlace(const std::wstring& key);
bool OnTheWayToASharedPlace(const std::wstring& key);
// The non-empty parts of a text between separators.
std::vector<std::wstring> SplitAt(const std::wstring& text, wchar_t separator);
// The folder the mode's Apps entry names.
std::wstring InstallLocation(const std::wstring& mode);

} // namespace record
