#pragma once

#include "linux_files.hpp"

#include <string>
#include <vector>

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
    // Our own folder's data home: dataHome, or in a Flatpak sandbox the sandbox's own, which
    // the host and every run of the app reach at the same path.
    std::string ownData;
    std::string app;       // the Flatpak app whose sandbox this runs in, or empty
    std::string ungranted; // why the sandbox may not write the host's folders, or empty
    // Whether the prefix is in a Flatpak launcher's own folder, and this runs outside its
    // sandbox: registered as the sandbox registers it.
    bool inLauncher = false;
    std::string launchers;      // ~/.var/app/, home resolved
    std::string launchersFound; // where that leads
    // The defaults we write: $XDG_CONFIG_HOME/mimeapps.list, or for a Flatpak launcher's prefix
    // the one in the folder of entries, which its sandbox may be granted, and which desktops
    // read too, after those in $XDG_CONFIG_HOME.
    std::string defaults;
    // The lists desktops read before that one, in their order, where a default of another
    // program would come first.
    std::vector<std::string> before;
    // Where desktops find installed entries, as far as this can see: the data home's, and
    // outside a sandbox the system's ($XDG_DATA_DIRS).
    std::vector<std::string> entryFolders;
    // Where earlier versions wrote the defaults of a launcher's prefix ($XDG_CONFIG_HOME's); empty
    // when that is `defaults`. From the sandbox it is a single granted file, which nothing can be
    // renamed over: only outside it (inLauncher) is it changed.
    std::string earlierDefaults;

    // In a Flatpak sandbox the data and configuration homes are the sandbox's own, which no
    // browser reads: the host's, and whether the player let the sandbox reach them.
    void EnterSandbox(const LinuxFiles& files, const std::string& home);

    // Whether our defaults go to the launchers' list in the folder of entries, which the records
    // of every launcher (and the host's for their prefixes) share.
    [[nodiscard]] bool ForLauncher() const { return !app.empty() || inLauncher; }

    // The defaults and the lists before them, for the desktops named in XDG_CURRENT_DESKTOP.
    void FindDefaults();

    // A resolved path as a launcher's sandbox names it: in ~/.var/app/, where that leads to
    // another disk (a Steam Deck's card), so that the host and the sandbox make one id of it.
    [[nodiscard]] std::string Canonical(const std::string& resolved) const;

    // Whether our folder in the data home `data` holds a registration of this prefix.
    [[nodiscard]] bool RegisteredIn(const LinuxFiles& files, const std::string& data) const;

    // A folder holding a Wine prefix, which Windows programs reach as itself: one named like a
    // device (nul, aux.wine) they reach as that device, so that every spelling of such a prefix
    // would be one registration, and none would work.
    void RequireUsablePrefix(const LinuxFiles& files) const;

    explicit LinuxSide(const LinuxFiles& files);
};

} // namespace desktop
