#pragma once

// What copies of this program left in the registry: a scheme that starts one, known by its
// version block, and the handler builds before the record kept under our company's key.

#include "record.hpp"
#include "registry.hpp"

#include <optional>
#include <string>
#include <vector>

namespace record {

// Whether the command starts a copy of this program, by the identity its version block carries.
bool StartsACopyOfOurs(const std::wstring& command);

// What a scheme value held before an earlier version of this program took the scheme over: that
// version kept the other program's command, name and icon under our company's key. Nothing when
// it kept none; `current` for a value those versions never set.
std::optional<ValueState> KeptByAnEarlierVersion(const Registry& registry,
                                                 const ValueChange& change,
                                                 const ValueState& current);

// Keeps what the scheme's values held before us where those versions look for it, so that one of
// them run over this copy, and its uninstall, still give the scheme back: the command, name and
// icon, while another program's command was there; otherwise nothing.
void KeepForEarlierVersions(const Registry& registry, const std::vector<ValueChange>& values);

} // namespace record
