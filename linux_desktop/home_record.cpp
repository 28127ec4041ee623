#include "home_record.hpp"

#include "desktop_text.hpp"

#include <utility>

namespace desktop {

std::string HomeRecordText(const HomeRecord& record) {
    std::string text;
    const std::pair<bool, const char*> facts[] = {{record.added.line, "added-line"},
                                                  {record.added.group, "added-group"},
                                                  {record.added.newline, "added-newline"},
                                                  {record.mimeapps, "made-mimeapps.list"},
                                                  {record.cache, "made-mimeinfo.cache"}};
    for (const auto& [fact, word] : facts) {
        if (fact) {
            text += std::string(word) + "\n";
        }
    }
    for (const auto& folder : record.folders) {
        text.append("made-folder ").append(folder).append("\n");
    }
    return text;
}

HomeRecord ParseHomeRecord(std::string_view text) {
    HomeRecord record;
    for (const auto& found : Lines(text)) {
        const std::string_view line = std::string_view(found).substr(0, found.find('\n'));
        record.added.line = record.added.line || line == "added-line";
        record.added.group = record.added.group || line == "added-group";
        record.added.newline = record.added.newline || line == "added-newline";
        record.mimeapps = record.mimeapps || line == "made-mimeapps.list";
        record.cache = record.cache || line == "made-mimeinfo.cache";
        if (line.starts_with("made-folder /")) {
            record.folders.emplace_back(line.substr(std::string_view("made-folder ").size()));
        }
    }
    return record;
}

} // namespace desktop
