// libFuzzer target over a Flatpak sandbox's /.flatpak-info and its grants: a read-only or a
// withdrawn entry added anywhere never grants more than the grants without it.
//
// Input, cut at NULs: the file's text, the name of the entry to add, the path asked about (one of
// ours when it is not absolute) and the byte that says where the entry goes.

#include "flatpak_sandbox.hpp"
#include "fuzz_input.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using desktop::Access;
using fuzz::Require;

std::vector<std::string> With(std::vector<std::string> grants, std::size_t at, std::string entry) {
    grants.insert(grants.begin() + static_cast<std::ptrdiff_t>(at % (grants.size() + 1)),
                  std::move(entry));
    return grants;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto pieces = fuzz::Pieces<char>(fuzz::Bytes(data, size), '\0');
    pieces.resize(std::max<std::size_t>(pieces.size(), 4));
    const auto info = desktop::ParseFlatpakInfo(pieces[0]);
    for (const auto& grant : info.filesystems) {
        Require(!grant.empty() && grant.find(';') == std::string::npos,
                "each grant is one item of the list");
    }
    const desktop::HostFolders host{"/home/p", "/home/p/.local/share", "/home/p/.config"};
    const std::vector<std::string> ours{"/home/p/.config/mimeapps.list",
                                        "/home/p/.local/share/applications",
                                        "/home/p/.local/share/applications/q.desktop"};
    const std::string path =
        pieces[2].starts_with('/') ? pieces[2] : ours[pieces[2].size() % ours.size()];
    const std::size_t at = pieces[3].size();

    const Access before = desktop::GrantedAccess(info.filesystems, host, path);
    const Access denied =
        desktop::GrantedAccess(With(info.filesystems, at, "!" + pieces[1]), host, path);
    Require(denied <= before, "a withdrawn entry never grants more");
    const Access reading =
        desktop::GrantedAccess(With(info.filesystems, at, pieces[1] + ":ro"), host, path);
    Require(reading <= std::max(before, Access::reading),
            "a read-only entry never grants writing that was not granted");
    if (desktop::IsFlatpakAppId(info.app)) {
        Require(info.app.find_first_of(" \t\n\"'$;&|<>`\\/") == std::string::npos &&
                    !info.app.starts_with('-'),
                "an app id is one argument of a command line");
    }
    return 0;
}
