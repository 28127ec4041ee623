// Setup run by a launcher installed as a Flatpak (Bottles, Lutris, Heroic): the sandbox's data
// and configuration homes are its own, which no browser reads. The registration goes to the
// host's, which the sandbox shows at their own paths where the player granted them.

#include "flatpak_sandbox.hpp"
#include "linux_side.hpp"
#include "../windows/text.hpp"

#include <utility>

namespace desktop {
namespace {

constexpr std::string_view infoFile = "/.flatpak-info";

// Flatpak hands the sandbox the host's XDG homes under these names, when the host had them.
std::string HostHome(const wchar_t* variable, const std::string& otherwise) {
    std::string path = Utf8(Environment(variable));
    return path.starts_with('/') ? path : otherwise;
}

} // namespace

void LinuxSide::EnterSandbox(const LinuxFiles& files, const std::string& home) {
    const std::string info(infoFile);
    if (files.KindOf(info) == Kind::absent) {
        return;
    }
    const FlatpakInfo sandbox = ParseFlatpakInfo(files.Read(info));
    if (!IsFlatpakAppId(sandbox.app)) {
        throw Failure(info + " names no Flatpak app: '" + sandbox.app + "'");
    }
    app = sandbox.app;
    const HostFolders host{home, HostHome(L"HOST_XDG_DATA_HOME", home + "/.local/share"),
                           HostHome(L"HOST_XDG_CONFIG_HOME", home + "/.config")};
    dataHome = host.data;
    configHome = host.config;
    const std::string entries = host.data + "/applications";
    const std::string defaults = host.config + "/mimeapps.list";
    const std::string where = "setup and the uninstall run in the Flatpak sandbox of " + app;
    const auto granted = [&](const std::string& path) {
        return GrantsWriting(sandbox.filesystems, host, path);
    };
    if (!granted(entries) || !granted(defaults)) {
        ungranted = where + ", which may not write " + entries + " and " + defaults +
                    ", where Linux programs look for the handler of links. On the host, run\n  " +
                    GrantCommand(app) + "\n(Flatpak shares only what is there: create " + defaults +
                    " first if it is not.)";
        return;
    }
    // What Flatpak did not find on the host it does not share: made here, it would be the
    // sandbox's alone.
    const bool defaultsShown = files.KindOf(defaults) != Kind::absent ||
                               (granted(host.config) && files.IsFolder(host.config));
    for (const auto& [path, shown] :
         {std::pair{entries, files.IsFolder(entries)}, std::pair{defaults, defaultsShown}}) {
        if (!shown) {
            ungranted = where;
            ungranted.append(", which is allowed to write ")
                .append(path)
                .append(" on the host, but Flatpak shares only what is there, and it is not: "
                        "create it on the host (")
                .append(path == entries ? "mkdir -p " : "touch ")
                .append(path)
                .append(").");
            return;
        }
    }
}

} // namespace desktop
