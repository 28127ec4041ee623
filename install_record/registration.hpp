#pragma once

// The registration of a mode: the values setup sets in places it shares with other programs,
// what each held before, and the copy they start. Its record is kept in the mode's hive, not in
// an install folder, so that a move, a move back or a lost Apps entry never loses what another
// program had. It is written before each change it describes, so a run stopped at any point is
// finished, or given back, by the next.

#include "record.hpp"

#include <optional>
#include <string>
#include <vector>

namespace record {

// Setup's plan of shared values, as setup and its uninstaller write it (UTF-16).
Plan ReadPlan(const std::wstring& planFile);

// Refuses (1610) a record naming a value the plan does not set, or a key on the way to none.
void CheckNamesOnly(const Record& found, const Plan& plan);

// Refuses (145) a registry link at a key the plan writes in or removes (see Gate).
void RefuseLinks(const std::wstring& mode, const Plan& plan);

// The mode's registration; nothing when there is none. Refuses (1610) one it cannot read.
std::optional<Record> RegistrationOf(const std::wstring& mode, const Plan& plan);

bool RegistersCopyIn(const Record& registration, const std::wstring& folder);

// Sets the plan's values for the copy in `folder`, keeping what each held before us, and notes
// the keys on the way to the plan's that it or setup makes after it; then removes the keys
// earlier builds made. `earlier` is an earlier build's record of a folder, which held the
// registration itself.
void Register(const std::wstring& mode, const std::wstring& folder, const Plan& plan,
              const std::optional<Record>& earlier);

// Gives back what the registration of the copy in `folder` took over, while it is still ours;
// `earlier` is an earlier build's record of the folder, which held the registration itself.
// Then removes the plan's keys of our own and the keys the registration made, never through a
// link. Throws Failure when a value cannot be given back; every key and the record then stay,
// to run again.
void Unregister(const std::wstring& folder, const Record& earlier, const Plan& plan);

} // namespace record
