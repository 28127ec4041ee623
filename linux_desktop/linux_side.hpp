#pragma once

#include "linux_files.hpp"

#include <string>

namespace desktop {

// Where things are on the Linux side, as Wine passed them to this program, with symbolic links
// resolved: one prefix is one registration however its path is spelt.
struct LinuxSide {
    std::string prefix;     // WINEPREFIX
    std::string loader;     // the Wine that runs this program (Lutris' or Proton's included)
    std::string dataHome;   // XDG_DATA_HOME, by default ~/.local/share
    std::string configHome; // XDG_CONFIG_HOME, by default ~/.config
    std::string given;      // the prefix as Wine was given it
    std::wstring config;    // the prefix this program runs in, as Wine names it

    // A folder holding a Wine prefix, which Windows programs reach as itself: one named like a
    // device (nul, aux.wine) they reach as that device, so that every spelling of such a prefix
    // would be one registration, and none would work.
    void RequireUsablePrefix(const LinuxFiles& files) const;

    explicit LinuxSide(const LinuxFiles& files);
};

} // namespace desktop
