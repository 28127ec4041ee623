#pragma once

// Registry values read and written exactly (type and bytes, of any length), in the mode's hive and
// the view a record names.

#include "record.hpp"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace record {

class Registry {
  public:
    explicit Registry(HKEY hive) noexcept : hive_(hive) {}

    [[nodiscard]] ValueState Read(const std::wstring& view, const std::wstring& key,
                                  const std::wstring& name) const;
    // Sets the value to `state`, or removes it when `state` is absent; throws Failure.
    void Write(const std::wstring& view, const std::wstring& key, const std::wstring& name,
               const ValueState& state) const;
    [[nodiscard]] bool Exists(const std::wstring& view, const std::wstring& key) const;
    // Whether the key is a registry link: what is written or removed through it lands in the
    // key it leads to, another program's.
    [[nodiscard]] bool IsLink(const std::wstring& view, const std::wstring& key) const;
    // Whether the key holds this one value and nothing else.
    [[nodiscard]] bool HoldsOnly(const std::wstring& view, const std::wstring& key,
                                 const std::wstring& name) const;
    // The first link anywhere inside the key (not the key itself), by its full name.
    [[nodiscard]] std::optional<std::wstring> FirstLinkInside(const std::wstring& view,
                                                              const std::wstring& key) const;
    // Removes the key when it holds no value and no subkey; whether it did.
    bool RemoveIfEmpty(const std::wstring& view, const std::wstring& key) const;
    // Removes the key with all it holds but a link, which stays with the keys on the way to it;
    // whether the key is gone. Neither ever follows a link inside the key; callers check the
    // keys on the way to it.
    bool RemoveTree(const std::wstring& view, const std::wstring& key) const;

  private:
    HKEY hive_;
};

// The keys on the way to `key`, outermost first: Software, Software\Classes, ...
std::vector<std::wstring> KeysOnThePath(const std::wstring& key);

} // namespace record
