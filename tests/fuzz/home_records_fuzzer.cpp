// libFuzzer target over what the registrar keeps in the home: the record of what the
// registrations made (`made`), the checksums of what one wrote (`written`) and the names of new
// files written beside ours. Each record reads back as written; a temporary name is ours only
// when it is one we could have written.
//
// Input: the text of both records; the same bytes, cut at NULs, also make records to write and
// the names to check.

#include "checksums.hpp"
#include "entry_ids.hpp"
#include "fuzz_input.hpp"
#include "home_record.hpp"
#include "temporary_names.hpp"

#include <charconv>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

using fuzz::Require;

// Paths as the registrar has them: absolute, without a line end.
std::string Path(std::string piece) {
    std::erase(piece, '\n');
    return "/" + piece;
}

void CheckRecords(const std::string& text, const std::vector<std::string>& pieces) {
    const auto made = desktop::ParseHomeRecord(text);
    Require(desktop::ParseHomeRecord(desktop::HomeRecordText(made)) == made,
            "what the home's record reads writes back to the same");
    const auto written = desktop::ParseChecksums(text);
    Require(desktop::ParseChecksums(desktop::ChecksumsText(written)) == written,
            "the checksums read write back to the same");

    const auto flags = pieces.front().empty() ? 0U : static_cast<unsigned>(pieces.front()[0]);
    desktop::HomeRecord record{{(flags & 1) != 0, (flags & 2) != 0, (flags & 4) != 0},
                               (flags & 8) != 0,
                               (flags & 16) != 0,
                               {}};
    std::map<std::string, std::string> checksums;
    for (const auto& piece : pieces) {
        record.folders.push_back(Path(piece));
        std::string checksum;
        for (std::size_t at = 0; at < 64; ++at) {
            checksum += "0123456789abcdef"[(piece.size() + at * 7) % 16];
        }
        checksums[Path(piece)] = checksum;
    }
    Require(desktop::ParseHomeRecord(desktop::HomeRecordText(record)) == record,
            "the home's record reads back as written");
    Require(desktop::ParseChecksums(desktop::ChecksumsText(checksums)) == checksums,
            "the checksums read back as written");
}

bool IsOurFile(std::string_view file) {
    return file == "mimeapps.list" || file == "made" || file == "written" ||
           file == "quarrion-shell.png" ||
           (file.ends_with(".desktop") && desktop::IsEntryId(file.substr(0, file.size() - 8)));
}

// Whether the name is TemporaryName's for a file of ours and some process and attempt.
bool CouldBeOurs(std::string_view name) {
    const auto marker = name.rfind(".new-");
    const auto dash = name.rfind('-');
    if (!name.starts_with('.') || marker == std::string_view::npos || dash <= marker + 4) {
        return false;
    }
    unsigned long process = 0;
    unsigned attempt = 0;
    const auto first = name.data() + marker + 5;
    const auto [processEnd, processError] = std::from_chars(first, name.data() + dash, process);
    const auto [attemptEnd, attemptError] =
        std::from_chars(name.data() + dash + 1, name.data() + name.size(), attempt);
    const auto file = name.substr(1, marker - 1);
    return processError == std::errc() && attemptError == std::errc() && IsOurFile(file) &&
           desktop::TemporaryName(file, process, attempt) == name;
}

void CheckNames(const std::vector<std::string>& pieces) {
    for (std::size_t at = 0; at < pieces.size(); ++at) {
        const std::string& name = pieces[at];
        const auto process = static_cast<unsigned long>(at * 977 + name.size());
        const auto attempt = static_cast<unsigned>(name.size() % 5);
        const auto temporary = desktop::TemporaryName(name, process, attempt);
        Require(desktop::IsTemporaryOf(temporary, name),
                "a temporary name is known for its file's");
        Require(desktop::IsOurTemporary(temporary) == IsOurFile(name),
                "a temporary name of a file of ours is ours, of another file's not");
        Require(!desktop::IsOurTemporary(name) || CouldBeOurs(name),
                "no name is ours that we would not have written");
        Require(desktop::ClaimedTemporary(desktop::ClaimOf(temporary), name) == temporary,
                "a temporary folder's claim names it");
        Require(!desktop::ClaimedTemporary(name, name) &&
                    !desktop::ClaimedTemporary(temporary, name),
                "nothing but a claim of its temporary names one");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::Bytes(data, size);
    const auto pieces = fuzz::Pieces<char>(text, '\0');
    CheckRecords(text, pieces);
    CheckNames(pieces);
    return 0;
}
