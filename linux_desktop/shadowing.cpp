// Desktops read several lists of defaults, and the first that names a handler of a type wins:
// one read before ours that names another program makes ours wait behind it. It is the player's
// choice, so it is said, not changed.

#include "desktop_registration.hpp"

namespace desktop {

std::string Registration::Shadowing() const {
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
        const auto handlers = desktop::DefaultHandlers(files_.Read(list));
        if (!handlers.empty() && handlers.front() != Unit()) {
            return "quarrion:// links open " + handlers.front() + ", not this program: " + list +
                   ", which desktops read before " + mimeapps_ +
                   ", names it first. To open them with this one, take " + handlers.front() +
                   " out of the x-scheme-handler/quarrion line there\n";
        }
    }
    return {};
}

} // namespace desktop
