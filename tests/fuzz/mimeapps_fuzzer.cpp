// libFuzzer target over the editing of mimeapps.list: adding our default and taking it out again
// leave every other program's line byte for byte in its place, give the file back exactly, and
// change nothing more when done twice.
//
// Input: the file's bytes.

#include "desktop_text.hpp"
#include "fuzz_input.hpp"
#include "mimeapps.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace {

using desktop::Additions;
using fuzz::Require;

constexpr std::string_view ours = "q.desktop";

// The file's lines with their endings, but for our key's lines in a group of defaults: the lines
// of other programs, which no edit of ours may touch.
std::vector<std::string> OthersLines(std::string_view text) {
    std::vector<std::string> others;
    bool inDefaults = false;
    auto lines = fuzz::Pieces(text, '\n');
    for (std::size_t at = 0; at < lines.size(); ++at) {
        std::string& line = lines[at];
        if (at + 1 < lines.size()) {
            line += '\n';
        }
        std::string_view seen = line;
        if (at == 0 && seen.starts_with("\xEF\xBB\xBF")) {
            seen.remove_prefix(3);
        }
        if (desktop::Trimmed(seen).starts_with('[')) {
            inDefaults = desktop::Trimmed(seen) == "[Default Applications]";
        }
        const auto equals = seen.find('=');
        const bool key = equals != std::string_view::npos &&
                         desktop::Trimmed(seen.substr(0, equals)) == desktop::schemeType;
        if (!(inDefaults && key) && !line.empty()) {
            others.push_back(line);
        }
    }
    return others;
}

// Every other program's line as it was and where it was; a group header added at the end, and a
// line ending given to the last line, are all that may come besides.
void CheckOthersKept(std::string_view before, std::string_view after, const Additions& added) {
    const auto was = OthersLines(before);
    auto now = OthersLines(after);
    if (added.group) {
        Require(!now.empty() && desktop::Trimmed(now.back()) == "[Default Applications]",
                "a group of defaults added comes last");
        now.pop_back();
    }
    Require(now.size() == was.size(), "no line of another program goes or comes");
    for (std::size_t at = 0; at < was.size(); ++at) {
        const bool ended = added.newline && at + 1 == was.size() && !was[at].ends_with('\n') &&
                           (now[at] == was[at] + "\n" || now[at] == was[at] + "\r\n");
        Require(now[at] == was[at] || ended, "every line of another program is kept byte for byte");
    }
}

std::vector<std::string> Others(std::vector<std::string> handlers) {
    std::erase(handlers, std::string(ours));
    return handlers;
}

void CheckAdding(const std::string& before) {
    Additions added;
    const std::string with = desktop::WithDefaultHandler(before, ours, added);
    CheckOthersKept(before, with, added);
    const auto handlers = desktop::DefaultHandlers(with);
    Require(!handlers.empty() && handlers.front() == ours, "after adding, ours is the default");
    Require(Others(handlers) == Others(desktop::DefaultHandlers(before)),
            "the other handlers follow ours in their order");
    Additions again;
    Require(desktop::WithDefaultHandler(with, ours, again) == with && again == Additions{},
            "adding twice changes nothing more");
    const std::string without = desktop::WithoutDefaultHandler(with, ours, added);
    Require(desktop::WithoutDefaultHandler(without, ours, added) == without,
            "removing twice changes nothing more");
    if (before.find(ours) == std::string::npos) {
        Require(without == before, "adding, then removing what was added, gives the file back");
    }
}

void CheckRemoving(const std::string& before) {
    const std::string without = desktop::WithoutDefaultHandler(before, ours);
    CheckOthersKept(before, without, {});
    const auto handlers = desktop::DefaultHandlers(without);
    Require(std::find(handlers.begin(), handlers.end(), ours) == handlers.end(),
            "after removing, ours is no default handler");
    Require(desktop::WithoutDefaultHandler(without, ours) == without,
            "removing twice changes nothing more");
}

void CheckCache(const std::string& cache) {
    constexpr std::string_view prefix = "quarrion-shell-";
    if (desktop::IsCacheOf(cache, prefix)) {
        Require(!desktop::IsCacheOf(cache + "\ntext/plain=editor.desktop;\n", prefix),
                "a cache that names another program's entry is not ours alone");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::Bytes(data, size);
    CheckAdding(text);
    CheckRemoving(text);
    CheckCache(text);
    return 0;
}
