// libFuzzer target over the install's record (quarrion_record.dat, and the registration's in the
// hive): what the writer writes reads back as it was, and any other text is read whole or refused
// whole.
//
// Input: the units of a text to read (see fuzz::Units); the same units, cut at NULs, also make a
// record to write: each piece one line of it, its first unit the kind, its fields cut at U+0001.

#include "fuzz_input.hpp"
#include "record.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace {

using fuzz::Require;

// Fields as the writer gets them: paths and registry names never hold a tab or a line end.
std::vector<std::wstring> Fields(std::wstring_view piece) {
    auto fields = fuzz::Pieces(piece, L'\x01');
    for (auto& field : fields) {
        std::erase_if(field,
                      [](wchar_t unit) { return unit == L'\t' || unit == L'\n' || unit == L'\r'; });
    }
    fields.resize(std::max<std::size_t>(fields.size(), 5));
    return fields;
}

record::ValueState State(std::wstring_view field) {
    if (field.empty()) {
        return {};
    }
    record::ValueState state{true, static_cast<std::uint32_t>(field.front()) * 65599U, {}};
    for (const wchar_t unit : field.substr(1)) {
        state.data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    return state;
}

std::wstring Sha256(std::wstring_view field) {
    std::wstring hex;
    for (std::size_t at = 0; at < 64; ++at) {
        const auto unit = field.empty() ? 0U : static_cast<unsigned>(field[at % field.size()]);
        hex += L"0123456789abcdef"[(unit + at) % 16];
    }
    return hex;
}

record::Record RecordFrom(std::wstring_view units) {
    record::Record made;
    made.mode = L"AllUsers";
    for (const auto& piece : fuzz::Pieces(units, L'\0')) {
        if (piece.empty()) {
            continue;
        }
        const auto fields = Fields(std::wstring_view(piece).substr(1));
        switch (piece.front() % 7) {
        case 0:
            made.mode = fields[0].empty() ? L"AllUsers" : L"CurrentUser";
            break;
        case 1:
            if (!fields[0].empty()) {
                made.copy = {fields[0], fields[1], fields[2]};
            }
            break;
        case 2:
            made.removal =
                std::vector<record::Removal>{record::Removal::GiveBack, record::Removal::Drop,
                                             record::Removal::Keep}[fields[0].size() % 3];
            break;
        case 3:
            made.folders.push_back({fields[0], fields[1], fields[2]});
            break;
        case 4:
            made.files.push_back({fields[0], Sha256(fields[1])});
            break;
        case 5:
            made.keys.push_back({fields[0], fields[1]});
            break;
        default:
            made.values.push_back(
                {fields[0], fields[1], fields[2], State(fields[3]), State(fields[4]), {}});
            for (std::size_t at = 5; at < fields.size(); ++at) {
                made.values.back().alsoOurs.push_back(State(fields[at]));
            }
        }
    }
    return made;
}

std::wstring WrittenOnWindows(std::wstring_view text) {
    std::wstring edited = L"\xFEFF";
    for (const wchar_t unit : text) {
        edited += unit == L'\n' ? L"\r\n" : std::wstring(1, unit);
    }
    return edited;
}

void CheckWriting(const record::Record& made) {
    const std::wstring text = record::FormatRecord(made);
    try {
        const auto read = record::ParseRecord(text);
        Require(read == made, "a record written reads back as it was");
        Require(record::FormatRecord(read) == text, "a record read back writes the same text");
        Require(record::ParseRecord(WrittenOnWindows(text)) == made,
                "a record an editor marked and gave CR LF reads back as it was");
    } catch (const record::Failure&) {
        Require(false, "the reader refuses nothing the writer writes");
    }
}

void CheckReading(std::wstring_view text) {
    record::Record read;
    try {
        read = record::ParseRecord(text);
    } catch (const record::Failure&) {
        return;
    }
    const std::wstring written = record::FormatRecord(read);
    try {
        Require(record::ParseRecord(written) == read,
                "a record read, written and read is the same");
    } catch (const record::Failure&) {
        Require(false, "a record read is written so that it reads again");
    }
    if (text.starts_with(L'\xFEFF')) {
        text.remove_prefix(1);
    }
    Require(fuzz::SortedLines<wchar_t>(written) == fuzz::SortedLines(text),
            "every line of a record read is kept whole: none left out, none half-used");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring units = fuzz::Units(data, size);
    CheckReading(units);
    CheckWriting(RecordFrom(units));
    return 0;
}
