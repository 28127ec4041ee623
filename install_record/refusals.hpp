#pragma once

// How quarrion_record.exe's commands end when they refuse: a Windows error number each, which
// setup and its uninstaller turn into their own exit code and message.

#include "record.hpp"

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

} // namespace record
