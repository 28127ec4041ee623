// libFuzzer target over setup's plan and the commands registered: a plan read is written back to
// the same plan, every value it names can be kept in the record, and a command's programs are
// tried as process creation tries them.
//
// Input: the units of the plan (see fuzz::Units), also taken whole as a command.

#include "fuzz_input.hpp"
#include "record.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace {

using fuzz::Require;

// The plan's line for a change, as setup writes it.
std::wstring PlanLine(const record::ValueChange& change) {
    const auto head = L"\t" + change.view + L"\t" + change.key + L"\t" + change.name;
    const auto& data = change.ours.data;
    if (!change.ours.present) {
        return L"remove" + head + L"\n";
    }
    if (change.ours.type == 4) {
        const auto number = static_cast<std::uint32_t>(data[0] | data[1] << 8 | data[2] << 16) |
                            static_cast<std::uint32_t>(data[3]) << 24;
        return L"number" + head + L"\t" + std::to_wstring(number) + L"\n";
    }
    std::wstring text;
    for (std::size_t at = 0; at + 3 < data.size(); at += 2) {
        text += static_cast<wchar_t>(data[at] | data[at + 1] << 8);
    }
    return L"set" + head + L"\t" + text + L"\n";
}

void CheckCommand(std::wstring_view command) {
    const auto candidates = record::ProgramCandidates(command);
    if (command.starts_with(L'"')) {
        Require(candidates.size() == 1 && command.substr(1).starts_with(candidates.front()) &&
                    candidates.front().find(L'"') == std::wstring::npos,
                "a quoted program is the one tried, without its quotes");
        return;
    }
    std::size_t last = 0;
    for (const auto& candidate : candidates) {
        Require(candidate.size() > last && command.starts_with(candidate) &&
                    (candidate.size() == command.size() || command[candidate.size()] == L' '),
                "each program tried is a longer beginning of the command, cut at a blank");
        last = candidate.size();
    }
    Require(command.empty() || (!candidates.empty() && candidates.back() == command),
            "the whole command is tried last");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring units = fuzz::Units(data, size);
    CheckCommand(units);
    record::Plan plan;
    try {
        plan = record::ParsePlan(units);
    } catch (const record::Failure&) {
        return 0;
    }
    std::wstring written;
    record::Record kept{L"CurrentUser", {}, {}, {}, {}, {}, {}};
    for (const auto& own : plan.own) {
        written += L"own\t" + own.view + L"\t" + own.key + L"\n";
    }
    for (const auto& retired : plan.retired) {
        written += L"retired\t" + retired.view + L"\t" + retired.key + L"\n";
    }
    for (const auto& change : plan.values) {
        written += PlanLine(change);
        kept.values.push_back(change);
        kept.values.back().previous = change.ours;
        kept.values.back().alsoOurs = {change.ours};
    }
    Require(record::ParsePlan(written) == plan, "a plan read writes back to the same plan");
    try {
        Require(record::ParseRecord(record::FormatRecord(kept)) == kept,
                "a record of the plan's values reads back as written");
    } catch (const record::Failure&) {
        Require(false, "every value a plan names can be kept in the record");
    }
    return 0;
}
