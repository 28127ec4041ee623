// Desktops read several lists of defaults, and the first that names a handler of a type wins:
// one read before ours that names another program makes ours wait behind it. It is the player's
// choice, so it is said, not changed.

#include "desktop_registration.hpp"

#include <algorithm>

namespace desktop {

std::string Registration::Shadowing() const {
    // Desktops pass over a handler whose entry is not installed.
    const auto installed = [this](const std::string& handler) {
        return std::any_of(side_.entryFolders.begin(), side_.entryFolders.end(),
                           [&](const std::string& folder) {
                               return files_.Resolved(folder + "/" + handler).has_value();
                           });
    };
    const auto takeOut = [](const std::string& handler) {
        return ". To open them with this one, take " + handler +
               " out of the x-scheme-handler/quarrion line there\n";
    };
    for (const auto& list : side_.before) {
        if (!files_.Resolved(list)) {
            continue;
        }
        if (files_.IsUnlinked(list)) {
            return list + " was replaced on the host after " + side_.app +
                   " started, and the sandbox still shows the old file: whether it names another "
                   "handler of quarrion:// links, which desktops would take first, was not "
                   "checked. To check, quit " +
                   side_.app + " (on the host: flatpak kill " + side_.app +
                   ") and run setup again\n";
        }
        std::string text;
        try {
            text = files_.Read(list);
        } catch (const Failure&) {
            // Only read, for a note: setup goes on.
            return list + " cannot be read: whether it names another handler of quarrion:// links, "
                          "which desktops would take first, was not checked\n";
        }
        for (const auto& handler : desktop::DefaultHandlers(text)) {
            if (handler == Unit()) {
                return {};
            }
            std::string note;
            if (installed(handler)) {
                note.append("quarrion:// links open ")
                    .append(handler)
                    .append(", not this program: ")
                    .append(list)
                    .append(", which desktops read before ")
                    .append(mimeapps_)
                    .append(", names it first");
                return note + takeOut(handler);
            }
            // A sandbox sees the entries of the player's own folder, not the system's.
            if (!side_.app.empty()) {
                note.append(list)
                    .append(", which desktops read before ")
                    .append(mimeapps_)
                    .append(", names ")
                    .append(handler)
                    .append(" first: if it is installed on the host (it is not in ")
                    .append(side_.entryFolders.front())
                    .append("), quarrion:// links open it, not this program");
                return note + takeOut(handler);
            }
        }
    }
    return {};
}

} // namespace desktop
