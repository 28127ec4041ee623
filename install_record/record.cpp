#include "record.hpp"

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace record {

namespace {

constexpr std::wstring_view header = L"quarrion-record\t1";

std::vector<std::wstring_view> Split(std::wstring_view text, wchar_t separator) {
    std::vector<std::wstring_view> parts;
    std::size_t start = 0;
    std::size_t end = text.find(separator);
    for (; end != std::wstring_view::npos; end = text.find(separator, start)) {
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

// Lines without their ends (LF or CR LF); none for an empty text.
std::vector<std::wstring_view> Lines(std::wstring_view text) {
    std::vector<std::wstring_view> lines;
    for (auto line : Split(text, L'\n')) {
        if (!line.empty() && line.back() == L'\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
    }
    if (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

constexpr std::wstring_view digits = L"0123456789abcdef";

// "-" for an absent value; otherwise its type, ":" and its bytes in hexadecimal.
std::wstring FormatState(const ValueState& state) {
    if (!state.present) {
        return L"-";
    }
    std::wstring text = std::to_wstring(state.type) + L":";
    for (const auto byte : state.data) {
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

ValueState ParseState(std::wstring_view text) {
    if (text == L"-") {
        return {};
    }
    const auto colon = text.find(L':');
    if (colon == 0 || colon == std::wstring_view::npos || colon > 10 ||
        (text.size() - colon - 1) % 2 != 0) {
        throw Failure("a value in the record is not readable");
    }
    std::uint64_t type = 0;
    for (const wchar_t unit : text.substr(0, colon)) {
        if (unit < L'0' || unit > L'9') {
            throw Failure("a value type in the record is not a number");
        }
        type = type * 10 + static_cast<std::uint64_t>(unit - L'0');
    }
    // Only as the writer writes a type: another one is a damaged record, not a type to guess.
    if (type > 0xFFFFFFFFu || std::to_wstring(type) != text.substr(0, colon)) {
        throw Failure("a value type in the record is not one this program writes");
    }
    ValueState state{true, static_cast<std::uint32_t>(type), {}};
    const auto nibble = [](wchar_t unit) {
        const auto at = digits.find(unit);
        if (at == std::wstring_view::npos) {
            throw Failure("a value in the record is not hexadecimal");
        }
        return static_cast<std::uint8_t>(at);
    };
    for (std::size_t at = colon + 1; at < text.size(); at += 2) {
        state.data.push_back(
            static_cast<std::uint8_t>(nibble(text[at]) << 4 | nibble(text[at + 1])));
    }
    return state;
}

// A DWORD in decimal, or in hexadecimal after "0x" as the registry's tools write one; nothing
// else.
std::uint32_t ParseNumber(std::wstring_view text) {
    const bool hexadecimal = text.starts_with(L"0x") || text.starts_with(L"0X");
    const std::uint64_t base = hexadecimal ? 16 : 10;
    if (hexadecimal) {
        text.remove_prefix(2);
    }
    std::uint64_t number = 0;
    for (const wchar_t unit : text) {
        const auto at = digits.find(unit >= L'A' && unit <= L'F' ? unit - L'A' + L'a' : unit);
        if (at == std::wstring_view::npos || at >= base) {
            throw Failure("a number in setup's plan is not readable");
        }
        number = number * base + at;
        if (number > 0xFFFFFFFFu) {
            throw Failure("a number in setup's plan is beyond 32 bits");
        }
    }
    if (text.empty()) {
        throw Failure("a number in setup's plan is not readable");
    }
    return static_cast<std::uint32_t>(number);
}

constexpr std::pair<Removal, std::wstring_view> removals[]{
    {Removal::GiveBack, L"give-back"}, {Removal::Drop, L"drop"}, {Removal::Keep, L"keep"}};

std::wstring_view RemovalText(Removal removal) {
    for (const auto& [kind, text] : removals) {
        if (kind == removal) {
            return text;
        }
    }
    return {};
}

std::wstring Join(std::initializer_list<std::wstring_view> fields) {
    std::wstring line;
    for (const auto field : fields) {
        line.append(line.empty() ? L"" : L"\t").append(field);
    }
    return line + L"\n";
}

} // namespace

ValueState NumberValue(std::uint32_t number) {
    constexpr std::uint32_t regDword = 4;
    ValueState state{true, regDword, {}};
    for (int shift = 0; shift < 32; shift += 8) {
        state.data.push_back(static_cast<std::uint8_t>(number >> shift & 0xFF));
    }
    return state;
}

ValueState TextValue(std::wstring_view text) {
    constexpr std::uint32_t regSz = 1;
    ValueState state{true, regSz, {}};
    // REG_SZ holds UTF-16LE units with their terminating null.
    for (std::size_t at = 0; at <= text.size(); ++at) {
        const auto value = at < text.size() ? static_cast<std::uint16_t>(text[at]) : 0U;
        state.data.push_back(static_cast<std::uint8_t>(value & 0xFF));
        state.data.push_back(static_cast<std::uint8_t>(value >> 8 & 0xFF));
    }
    return state;
}

std::wstring FormatRecord(const Record& record) {
    std::wstring text = std::wstring(header) + L"\n" + Join({L"mode", record.mode});
    // Its number last, and only when known: a record without it reads as before.
    const auto folderLine = [](std::wstring_view kind, const CreatedFolder& folder) {
        return folder.id.empty() ? Join({kind, folder.identity, folder.path})
                                 : Join({kind, folder.identity, folder.path, folder.id});
    };
    if (!record.copy.path.empty()) {
        text += folderLine(L"copy", record.copy);
    }
    if (record.removal != Removal::Undecided) {
        text += Join({L"removal", RemovalText(record.removal)});
    }
    for (const auto& folder : record.folders) {
        text += folderLine(L"folder", folder);
    }
    for (const auto& file : record.files) {
        text += Join({L"file", file.name, file.sha256});
    }
    for (const auto& key : record.keys) {
        text += Join({L"key", key.view, key.key});
    }
    for (const auto& value : record.values) {
        text += Join({L"value", value.view, value.key, value.name, FormatState(value.ours),
                      FormatState(value.previous)});
        for (const auto& also : value.alsoOurs) {
            text += Join({L"ours", value.view, value.key, value.name, FormatState(also)});
        }
    }
    return text;
}

Record ParseRecord(std::wstring_view text) {
    // Written back by an editor that marks UTF-8, it is still the record.
    if (text.starts_with(L'\xFEFF')) {
        text.remove_prefix(1);
    }
    const auto lines = Lines(text);
    if (lines.empty() || lines.front() != header) {
        throw Failure("not a record of this program's install");
    }
    Record record;
    for (std::size_t at = 1; at < lines.size(); ++at) {
        // Its last field would lose the CR when written again.
        if (lines[at].ends_with(L'\r')) {
            throw Failure("a line of the record ends in a carriage return");
        }
        const auto fields = Split(lines[at], L'\t');
        const auto kind = fields.front();
        const auto expect = [&fields](std::size_t count) {
            if (fields.size() != count) {
                throw Failure("a line of the record has the wrong number of fields");
            }
        };
        // A folder's line: its final path, its path, and its number when known (not empty: the
        // writer leaves the field out).
        const auto folder = [&fields]() {
            if ((fields.size() != 3 && fields.size() != 4) ||
                (fields.size() == 4 && fields[3].empty())) {
                throw Failure("a folder's line in the record has the wrong number of fields");
            }
            return CreatedFolder{std::wstring(fields[2]), std::wstring(fields[1]),
                                 fields.size() == 4 ? std::wstring(fields[3]) : std::wstring()};
        };
        // Two lines of what a record holds once: which one to believe is a guess.
        const auto once = [](bool held) {
            if (held) {
                throw Failure("the record names its mode, copy or removal twice");
            }
        };
        if (kind == L"mode") {
            expect(2);
            once(!record.mode.empty());
            if (fields[1] != L"AllUsers" && fields[1] != L"CurrentUser") {
                throw Failure("the record names an unknown install mode");
            }
            record.mode = fields[1];
        } else if (kind == L"copy") {
            once(!record.copy.path.empty());
            record.copy = folder();
            if (record.copy.path.empty()) {
                throw Failure("the record names a copy without its folder");
            }
        } else if (kind == L"removal") {
            expect(2);
            once(record.removal != Removal::Undecided);
            const auto* known =
                std::find_if(std::begin(removals), std::end(removals),
                             [&fields](const auto& one) { return one.second == fields[1]; });
            if (known == std::end(removals)) {
                throw Failure("the record names an unknown way to end the registration");
            }
            record.removal = known->first;
        } else if (kind == L"folder") {
            record.folders.push_back(folder());
        } else if (kind == L"file") {
            expect(3);
            if (fields[2].size() != 64 ||
                fields[2].find_first_not_of(digits) != std::wstring_view::npos) {
                throw Failure("a file's SHA-256 in the record is not readable");
            }
            record.files.push_back({std::wstring(fields[1]), std::wstring(fields[2])});
        } else if (kind == L"key") {
            expect(3);
            record.keys.push_back({std::wstring(fields[1]), std::wstring(fields[2])});
        } else if (kind == L"value") {
            expect(6);
            record.values.push_back({std::wstring(fields[1]),
                                     std::wstring(fields[2]),
                                     std::wstring(fields[3]),
                                     ParseState(fields[4]),
                                     ParseState(fields[5]),
                                     {}});
        } else if (kind == L"ours") {
            expect(5);
            if (record.values.empty() || record.values.back().view != fields[1] ||
                record.values.back().key != fields[2] || record.values.back().name != fields[3]) {
                throw Failure("an earlier state of ours in the record follows no value of its own");
            }
            record.values.back().alsoOurs.push_back(ParseState(fields[4]));
        } else {
            throw Failure("the record holds a line this program does not know");
        }
    }
    if (record.mode.empty()) {
        throw Failure("the record names no install mode");
    }
    return record;
}

Plan ParsePlan(std::wstring_view text) {
    Plan plan;
    for (auto line : Lines(text)) {
        if (!line.empty() && line.front() == L'\xFEFF') {
            line.remove_prefix(1);
        }
        if (line.ends_with(L'\r')) {
            throw Failure("a line of setup's plan ends in a carriage return");
        }
        const auto fields = Split(line, L'\t');
        const auto change = [&fields](ValueState ours) {
            return ValueChange{std::wstring(fields[1]),
                               std::wstring(fields[2]),
                               std::wstring(fields[3]),
                               std::move(ours),
                               {},
                               {}};
        };
        const auto key = [&fields](std::vector<CreatedKey>& keys) {
            const CreatedKey named{std::wstring(fields[1]), std::wstring(fields[2])};
            if (named.key.empty()) {
                throw Failure("setup's plan names a key without its name");
            }
            if (std::find(keys.begin(), keys.end(), named) == keys.end()) {
                keys.push_back(named);
            }
        };
        if (fields.size() == 5 && fields[0] == L"set") {
            plan.values.push_back(change(TextValue(fields[4])));
        } else if (fields.size() == 5 && fields[0] == L"number") {
            plan.values.push_back(change(NumberValue(ParseNumber(fields[4]))));
        } else if (fields.size() == 4 && fields[0] == L"remove") {
            plan.values.push_back(change({}));
        } else if (fields.size() == 3 && fields[0] == L"own") {
            key(plan.own);
        } else if (fields.size() == 3 && fields[0] == L"retired") {
            key(plan.retired);
        } else {
            throw Failure("a line of setup's plan is not readable");
        }
    }
    return plan;
}

std::vector<std::wstring> ProgramCandidates(std::wstring_view command) {
    if (command.starts_with(L'"')) {
        const auto rest = command.substr(1);
        return {std::wstring(rest.substr(0, rest.find(L'"')))};
    }
    std::vector<std::wstring> candidates;
    for (std::size_t at = 0; at <= command.size(); ++at) {
        if (at == command.size() || command[at] == L' ') {
            if (at > 0) {
                candidates.emplace_back(command.substr(0, at));
            }
        }
    }
    return candidates;
}

} // namespace record
