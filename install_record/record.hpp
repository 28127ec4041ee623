#pragma once

// What an install changed, so that its uninstall removes or gives back only what is still as the
// install left it: the record's text (the folder's, beside the program, and the registration's,
// in the mode's hive), the plan of registry values that setup hands over, and how a registered
// command names its program. No platform calls.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace record {

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A registry value as found: absent, or its type and its bytes exactly.
struct ValueState {
    bool present = false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    bool operator==(const ValueState&) const = default;
};

// A value in the install's hive: what setup makes it (`ours`; absent for one it removes) and, in
// a record, what it was before.
struct ValueChange {
    std::wstring view; // L"64": the 64-bit view; empty: the view of a 32-bit program
    std::wstring key;
    std::wstring name;
    ValueState ours;
    ValueState previous;
    // While an install that changes `ours` is unfinished: what was ours before it, which the
    // value may still hold.
    std::vector<ValueState> alsoOurs;
    bool operator==(const ValueChange&) const = default;
};

struct CreatedKey {
    std::wstring view;
    std::wstring key;
    bool operator==(const CreatedKey&) const = default;
};

// A folder the install made, or a copy's: its path as given, its final path (see Identity), and
// the file system's own number for it (see FileIdOf), which no drive letter or link changes.
struct CreatedFolder {
    std::wstring path;
    std::wstring identity;
    std::wstring id{}; // empty in records of earlier builds
    bool operator==(const CreatedFolder&) const = default;
};

// A file may have two lines while an upgrade replaces it: the old bytes and the new are ours.
struct FileHash {
    std::wstring name; // in the install folder
    std::wstring sha256;
    bool operator==(const FileHash&) const = default;
};

// What the uninstall does with the scheme, decided once and kept in the record until it is done:
// give each value back, remove the scheme whole (the program it had before is gone), or keep out
// of it (another program took it over since, or a key of it leads elsewhere).
enum class Removal { Undecided, GiveBack, Drop, Keep };

// The folder's record holds the mode, the folders and the files; the registration's holds the
// mode, the copy it registers, the keys and the values (a record of an earlier build holds both
// in the folder's).
struct Record {
    std::wstring mode;                    // L"AllUsers" or L"CurrentUser"
    CreatedFolder copy;                   // the folder of the copy the registration is for
    Removal removal = Removal::Undecided; // what an unfinished uninstall decided for the scheme
    std::vector<CreatedFolder> folders;   // innermost first
    std::vector<FileHash> files;
    std::vector<CreatedKey> keys;    // outermost first
    std::vector<ValueChange> values; // in the order they were set
    bool operator==(const Record&) const = default;
};

std::wstring FormatRecord(const Record& record);
// Throws Failure for a text that is not a record of this format.
Record ParseRecord(std::wstring_view text);

// Every key setup writes in and the uninstall removes, in one list: the values it sets where
// other programs may have set them, which the record gives back; the keys of its own, written
// as they are and removed whole; and keys of ours that earlier builds made, which setup removes.
// Every key named here, and every key on the way to one from our own or a shared place, is
// checked for a registry link.
struct Plan {
    std::vector<ValueChange> values;
    std::vector<CreatedKey> own;
    std::vector<CreatedKey> retired;
    bool operator==(const Plan&) const = default;
};

// setup's plan, one line each, fields separated by tabs: "set", view, key, name and text;
// "number", view, key, name and a number in decimal or, as the registry's tools write it, in
// hexadecimal after "0x" (REG_DWORD); "remove", view, key and name; "own", view and key (a key
// named again is the same key); "retired", view and key.
Plan ParsePlan(std::wstring_view text);

// A REG_SZ value's state for this text, and a REG_DWORD's for this number.
ValueState TextValue(std::wstring_view text);
ValueState NumberValue(std::uint32_t number);

// The programs process creation may start for a registered command, in the order it tries them:
// a quoted one, or each blank-cut beginning of an unquoted line.
std::vector<std::wstring> ProgramCandidates(std::wstring_view command);

} // namespace record
