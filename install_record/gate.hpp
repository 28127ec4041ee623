#pragma once

// The one place that says which registry keys setup may write in and the uninstall may remove:
// those setup's plan names. Each is checked for a registry link, with every key on the way to it
// but the system's (Software, Software\Classes), so a key added to the plan is checked without
// anyone remembering to; and nothing is ever removed through a link.

#include "record.hpp"
#include "registry.hpp"

#include <optional>
#include <string>
#include <vector>

namespace record {

class Gate {
  public:
    Gate(HKEY hive, const Plan& plan);

    // The first key setup would write in or the uninstall remove through a link: a key of the
    // plan, one on the way to it, or one anywhere inside a key of our own.
    [[nodiscard]] std::optional<CreatedKey> FirstLink() const;
    // Whether writing or removing at `key` would go through a link on the way to it.
    [[nodiscard]] bool ThroughALink(const std::wstring& view, const std::wstring& key) const;
    // Removes a key of ours with all it holds, except a link anywhere in it: the link stays, and
    // the keys on the way to it. Whether the key is gone.
    bool RemoveWhole(const CreatedKey& key) const;

  private:
    // The keys on the way to `key` and itself, outermost first, but the system's.
    [[nodiscard]] static std::vector<std::wstring> OnTheWay(const std::wstring& key);

    Registry registry_;
    const Plan& plan_;
};

} // namespace record
