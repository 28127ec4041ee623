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
    const std::string seen = files.Read(info);
    const FlatpakInfo sandbox = ParseFlatpakInfo(seen);
    if (!IsFlatpakAppId(sandbox.app)) {
        throw Failure(info + " names no Flatpak app: '" + sandbox.app + "'");
    }
    app = sandbox.app;
    // Every run of an app shares one Wine server for a prefix, which opens files as the run that
    // started it sees them: without the grants given since, or with another's. A Linux program
    // started from here sees this run's.
    std::string ours;
    if (files.RunToEnd({"/bin/cat", "--", info}, &ours) != 0) {
        throw Failure("a Linux program in the sandbox of " + app + " cannot read " + info);
    }
    if (ours != seen) {
        throw Failure("the Wine server of this prefix was started by another run of " + app +
                      ", which does not see the files as this one does (it may have started "
                      "before you granted them): quit " +
                      app +
                      " and every game it runs; if that is not enough, run on the host\n  "
                      "flatpak kill " +
                      app + "\nThen run setup again.");
    }
    const HostFolders host{home, HostHome(L"HOST_XDG_DATA_HOME", home + "/.local/share"),
                           HostHome(L"HOST_XDG_CONFIG_HOME", home + "/.config")};
    dataHome = host.data;
    configHome = host.config;
    const std::string entries = host.data + "/applications";
    const std::string shadowing = host.config + "/mimeapps.list";
    const std::string where = "setup and the uninstall run in the Flatpak sandbox of " + app;
    const auto access = [&](const std::string& path) {
        return GrantedAccess(sandbox.filesystems, host, path);
    };
    if (access(entries) != Access::writing || access(shadowing) == Access::none) {
        ungranted = where + ", which may not write " + entries + " and read " + shadowing +
                    ", where Linux programs look for the handler of links. On the host, run\n  " +
                    GrantCommand(app);
        return;
    }
    // What Flatpak did not find on the host it does not share: made here, it would be the
    // sandbox's alone.
    if (!files.IsFolder(entries)) {
        ungranted = where + ", which is allowed to write " + entries +
                    " on the host, but Flatpak shares only what is there, and it is not: "
                    "create it on the host (mkdir -p " +
                    entries + "), then quit " + app + " and start it again.";
    }
}

} // namespace desktop
