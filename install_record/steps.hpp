#pragma once

// Each change quarrion_record.exe makes to the machine is named as it is made: "<command>:start"
// before the first, then one name for each. The program as it ships does nothing more; the crash
// tests build one that stops dead after a chosen step.

#include <string>

namespace record {

void Changed(const std::wstring& step);

} // namespace record
