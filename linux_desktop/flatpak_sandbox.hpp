#pragma once

// A Flatpak sandbox as it describes itself to the programs in it, in /.flatpak-info (an ini file:
// [Application] name=, [Context] filesystems=), as text. No platform calls.

#include <string>
#include <string_view>
#include <vector>

namespace desktop {

struct FlatpakInfo {
    std::string app;                      // the app id, from [Application] name=
    std::vector<std::string> filesystems; // [Context] filesystems=, each as listed
};
FlatpakInfo ParseFlatpakInfo(std::string_view text);

// Whether `app` has the form of a Flatpak app id: dotted names of letters, digits, '_' and '-'.
// Such an id is one argument of a command line wherever it goes.
bool IsFlatpakAppId(std::string_view app);

// The host's folders that the filesystems' keywords name (home, xdg-data, xdg-config).
struct HostFolders {
    std::string home;
    std::string data;   // the host's XDG_DATA_HOME
    std::string config; // the host's XDG_CONFIG_HOME
};

enum class Access { none, reading, writing };

// What the filesystems let the sandbox do with `path`, a host path that the sandbox shows at the
// same path: the most specific entry that covers it decides; one ending in :ro grants reading,
// and one starting with ! nothing.
Access GrantedAccess(const std::vector<std::string>& filesystems, const HostFolders& host,
                     std::string_view path);

// The command the player runs on the host to grant what a registration needs, and no more: the
// folder of desktop entries, which holds the defaults we write, and a look at the defaults that
// desktops read before those.
std::string GrantCommand(std::string_view app);

} // namespace desktop
