#include "linux_side.hpp"

#include "desktop_text.hpp"
#include "entry_ids.hpp"
#include "flatpak_sandbox.hpp"
#include "../windows/text.hpp"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace desktop {

LinuxSide::LinuxSide(const LinuxFiles& files) {
    // Wine gives its own folders as \??\Z:\... names; a default prefix has no WINEPREFIX.
    const auto unixOf = [&files](std::wstring name) {
        if (name.starts_with(L"\\??\\")) {
            name.erase(0, 4);
        }
        return name.empty() ? std::string() : files.UnixPath(name);
    };
    config = Environment(L"WINECONFIGDIR");
    if (config.starts_with(L"\\??\\")) {
        config.erase(0, 4);
    }
    prefix = Utf8(Environment(L"WINEPREFIX"));
    if (prefix.empty()) {
        prefix = unixOf(config);
    }
    loader = Utf8(Environment(L"WINELOADER"));
    const std::string home = unixOf(Environment(L"WINEHOMEDIR"));
    dataHome = Utf8(Environment(L"XDG_DATA_HOME"));
    configHome = Utf8(Environment(L"XDG_CONFIG_HOME"));
    // Desktops ignore a relative one, and so does this.
    if (!dataHome.starts_with('/')) {
        dataHome = home + "/.local/share";
    }
    if (!configHome.starts_with('/')) {
        configHome = home + "/.config";
    }
    if (!prefix.starts_with('/') || !loader.starts_with('/') || !home.starts_with('/')) {
        throw Failure("Wine did not say where its prefix, its loader or the home folder is");
    }
    ownData = dataHome;
    EnterSandbox(files, home);
    for (const auto* path : {&prefix, &dataHome, &configHome, &ownData}) {
        if (path->find('\\') != std::string::npos) {
            throw Failure(*path + " holds a backslash, which Windows programs such as this "
                                  "one cannot name");
        }
    }
    // Wine gives a byte outside UTF-8 in the environment as U+FFFD: a path holding it names
    // one file here and another for the Linux programs that make our links.
    for (const auto* path : {&prefix, &loader, &dataHome, &configHome, &ownData}) {
        if (path->find("\xEF\xBF\xBD") != std::string::npos) {
            throw Failure(*path + " holds a byte that is not UTF-8, where Wine gives Linux "
                                  "programs another name: use a folder whose name is UTF-8");
        }
    }
    while (prefix.size() > 1 && prefix.ends_with('/')) {
        prefix.pop_back();
    }
    given = prefix;
    // A prefix moved or deleted since is left as given: an uninstall then finds nothing.
    prefix = files.Resolved(prefix).value_or(prefix);
    dataHome = files.RealPath(dataHome);
    configHome = files.RealPath(configHome);
    ownData = files.RealPath(ownData);
    // Launchers' folders as their sandboxes see them, even when ~/.var leads to another disk.
    launchers = files.RealPath(home) + "/.var/app/";
    launchersFound = files.RealPath(launchers.substr(0, launchers.size() - 1)) + "/";
    prefix = Canonical(prefix);
    // A prefix in a Flatpak launcher's own folder is registered where that launcher's sandbox
    // keeps its registrations, whether setup runs in the sandbox or on the host: one lock, one
    // record, one registration. One that an earlier version registered in the host's folders
    // stays there.
    if (app.empty() && prefix.starts_with(launchers) && !RegisteredIn(files, ownData)) {
        const std::string launcher =
            prefix.substr(launchers.size(), prefix.find('/', launchers.size()) - launchers.size());
        if (IsFlatpakAppId(launcher)) {
            ownData = files.RealPath(launchers + launcher + "/data");
            inLauncher = true;
        }
    }
    FindDefaults();
}

std::string LinuxSide::Canonical(const std::string& resolved) const {
    if (launchersFound != launchers && resolved.starts_with(launchersFound)) {
        return launchers + resolved.substr(launchersFound.size());
    }
    return resolved;
}

bool LinuxSide::RegisteredIn(const LinuxFiles& files, const std::string& data) const {
    const std::string shared = data + "/quarrion-shell";
    const auto names = files.Names(shared);
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        const auto leadsTo = files.Resolved(shared + "/" + name + "/prefix");
        return IsEntryId(name) && leadsTo && Canonical(*leadsTo) == prefix;
    });
}

namespace {

// The absolute folders of a colon-separated list in the environment (or its default when unset),
// without trailing slashes.
std::vector<std::string> SystemFolders(const wchar_t* variable, const char* otherwise) {
    std::string list = Utf8(Environment(variable));
    if (list.empty()) {
        list = otherwise;
    }
    std::vector<std::string> folders;
    for (auto folder : Fields(list, ':')) {
        while (folder.size() > 1 && folder.ends_with('/')) {
            folder.remove_suffix(1);
        }
        if (folder.starts_with('/')) {
            folders.emplace_back(folder);
        }
    }
    return folders;
}

} // namespace

void LinuxSide::FindDefaults() {
    // Desktops read their own list before the common one, in each folder (the order of
    // XDG_CURRENT_DESKTOP, names in lower case).
    std::string names = Utf8(Environment(L"XDG_CURRENT_DESKTOP"));
    std::transform(names.begin(), names.end(), names.begin(), Lower);
    std::vector<std::string_view> desktops = Fields(names, ':');
    std::erase_if(desktops,
                  [](std::string_view name) { return name.find('/') != std::string_view::npos; });
    const auto lists = [&desktops](const std::string& folder, bool common) {
        std::vector<std::string> paths;
        paths.reserve(desktops.size() + 1);
        for (const auto& name : desktops) {
            paths.push_back(folder);
            paths.back().append("/").append(name).append("-mimeapps.list");
        }
        if (common) {
            paths.push_back(folder + "/mimeapps.list");
        }
        return paths;
    };
    const std::string entries = dataHome + "/applications";
    entryFolders = {entries};
    if (app.empty()) {
        const auto system = SystemFolders(L"XDG_DATA_DIRS", "/usr/local/share/:/usr/share/");
        std::transform(system.begin(), system.end(), std::back_inserter(entryFolders),
                       [](const std::string& dir) { return dir + "/applications"; });
    }
    before = lists(configHome, ForLauncher());
    if (!ForLauncher()) {
        defaults = configHome + "/mimeapps.list";
        return;
    }
    // The system's, which a sandbox cannot see, come before the list in the folder of entries.
    if (inLauncher) {
        for (const auto& dir : SystemFolders(L"XDG_CONFIG_DIRS", "/etc/xdg")) {
            const auto system = lists(dir, true);
            before.insert(before.end(), system.begin(), system.end());
        }
    }
    defaults = entries + "/mimeapps.list";
    earlierDefaults = configHome + "/mimeapps.list";
    const auto own = lists(entries, false);
    before.insert(before.end(), own.begin(), own.end());
}

void LinuxSide::RequireUsablePrefix(const LinuxFiles& files) const {
    for (const auto* path : {&given, &prefix}) {
        const std::string name = path->substr(path->find_last_of('/') + 1);
        if (const auto why = desktop::UnusableInWindows(name); !why.empty()) {
            throw Failure("the Wine prefix " + *path +
                          " cannot be used by Windows programs: its folder's name " + why +
                          "; rename the folder");
        }
    }
    const std::string registry = prefix + "/system.reg";
    if (files.KindOf(prefix) == Kind::absent) {
        throw Failure("the Wine prefix " + given + " is not there");
    }
    // The one this program runs in is, though Wine writes system.reg to disk only later in
    // a prefix that the command running setup created.
    const bool running = !config.empty() && files.Resolved(files.UnixPath(config)) == prefix;
    if (!files.IsFolder(prefix) ||
        (!running && (files.KindOf(registry) == Kind::absent || files.IsFolder(registry)))) {
        throw Failure(prefix + " is not a Wine prefix: it is not a folder holding system.reg");
    }
}

} // namespace desktop
