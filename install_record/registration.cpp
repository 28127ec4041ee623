#include "registration.hpp"

#include "earlier_builds.hpp"
#include "files.hpp"
#include "places.hpp"
#include "previous_program.hpp"
#include "registry.hpp"
#include "steps.hpp"
#include "../windows/text.hpp"

#include <algorithm>

namespace record {

namespace {

const std::wstring registrationValue = L"Registration";
const ValueChange commandLike{L"", commandKey, L"", {}, {}, {}};

const ValueChange* Find(const std::vector<ValueChange>& values, const ValueChange& like) {
    const auto found = std::find_if(values.begin(), values.end(), [&like](const auto& value) {
        return value.view == like.view && value.key == like.key && value.name == like.name;
    });
    return found == values.end() ? nullptr : &*found;
}

std::wstring Named(const ValueChange& value) {
    return value.key + L"|" + value.name;
}

// Whether the value holds what the registration set: now, or before an unfinished install.
bool IsOurs(const ValueChange& value, const ValueState& current) {
    return current == value.ours ||
           std::find(value.alsoOurs.begin(), value.alsoOurs.end(), current) != value.alsoOurs.end();
}

bool ThroughALink(const Registry& registry, const std::wstring& view, const std::wstring& key) {
    const auto keys = KeysOnThePath(key);
    return std::any_of(keys.begin(), keys.end(), [&](const std::wstring& on) {
        return InSharedPlace(on) && registry.IsLink(view, on);
    });
}

void Save(const Registry& registry, const Record& registration, const std::wstring& step) {
    registry.Write(L"", ownKey, registrationValue, TextValue(FormatRecord(registration)));
    Changed(step);
}

void Forget(const Registry& registry, const std::wstring& step) {
    registry.Write(L"", ownKey, registrationValue, {});
    Changed(step);
}

// How setup knows what a shared value held before us, one case at a time:
enum class Before {
    // The registration sets it and it is still ours (in the scheme: the scheme's command is):
    // what the registration says it held before.
    Remembered,
    // No registration has it, and the scheme starts a copy that a build before the record
    // installed: what that build kept under our company's key, or nothing.
    KeptByAnEarlierBuild,
    // No registration has it, it is outside the scheme and exactly ours: a copy of ours set it
    // (a build before the record), so it held nothing.
    OursAlready,
    // Anything else: what is there now is another program's.
    AsFound,
};

Before Classify(const ValueChange& change, const ValueChange* remembered, const ValueState& current,
                bool schemeStillOurs, bool schemeOfAnEarlierBuild) {
    const bool inScheme = InScheme(change.key);
    if (remembered != nullptr && (IsOurs(*remembered, current) || (inScheme && schemeStillOurs))) {
        return Before::Remembered;
    }
    if (inScheme && schemeOfAnEarlierBuild) {
        return Before::KeptByAnEarlierBuild;
    }
    if (!inScheme && current == change.ours) {
        return Before::OursAlready;
    }
    return Before::AsFound;
}

// The program the scheme's previous registration ran: the command of its default verb.
std::optional<std::wstring> PreviousCommand(const Registry& registry, const Record& taken) {
    const ValueChange verbLike{L"", schemeKey + L"\\shell", L"", {}, {}, {}};
    const ValueChange* verb = Find(taken.values, verbLike);
    const std::wstring verbName = verb ? TextOf(verb->previous) : L"";
    ValueState command;
    if (!verbName.empty() && !SamePathText(verbName, L"open")) {
        // Another verb's key, which the install never touched.
        command = registry.Read(L"", schemeKey + L"\\shell\\" + verbName + L"\\command", L"");
    } else if (const ValueChange* open = Find(taken.values, commandLike)) {
        command = open->previous;
    }
    if (!command.present || TextOf(command).empty()) {
        return std::nullopt;
    }
    return TextOf(command);
}

// What the uninstall does with the scheme, which is one registration: give it back, remove it
// whole when the program it had before is gone, or keep out of it when another program took it
// over since (or a key of it leads elsewhere).
std::wstring Decide(const Registry& registry, const Record& registration) {
    const bool linked =
        std::any_of(
            registration.values.begin(), registration.values.end(),
            [&](const auto& value) { return ThroughALink(registry, value.view, value.key); }) ||
        std::any_of(registration.keys.begin(), registration.keys.end(),
                    [&](const auto& key) { return ThroughALink(registry, key.view, key.key); });
    const ValueChange* command = Find(registration.values, commandLike);
    if (linked || command == nullptr) {
        return linked ? L"keep" : L"give-back";
    }
    const ValueState current = registry.Read(L"", commandKey, L"");
    // Still ours, or never set by an install stopped before it.
    if (!IsOurs(*command, current) && current != command->previous) {
        return L"keep";
    }
    const auto previous = PreviousCommand(registry, registration);
    return previous && !ProgramMayBeThere(*previous) ? L"drop" : L"give-back";
}

} // namespace

std::vector<ValueChange> ReadPlan(const std::wstring& planFile) {
    const auto bytes = ReadWhole(planFile);
    if (!bytes) {
        throw Failure("cannot read setup's plan");
    }
    std::wstring text(bytes->size() / 2, L'\0');
    std::copy_n(bytes->begin(), text.size() * 2, reinterpret_cast<char*>(text.data()));
    return ParsePlan(text);
}

void CheckNamesOnly(const Record& found, const std::vector<ValueChange>& plan) {
    const auto stranger =
        std::find_if(found.values.begin(), found.values.end(), [&plan](const auto& value) {
            return Find(plan, value) == nullptr || !InSharedPlace(value.key);
        });
    if (stranger != found.values.end()) {
        throw Refusal(exitBadRecord,
                      "the record names " + Utf8(Named(*stranger)) + ", which setup does not set");
    }
    for (const auto& key : found.keys) {
        const bool onTheWay = std::any_of(plan.begin(), plan.end(), [&key](const auto& change) {
            return change.view == key.view &&
                   (change.key == key.key || change.key.starts_with(key.key + L"\\"));
        });
        if (!onTheWay) {
            throw Refusal(exitBadRecord, "the record names the key " + Utf8(key.key) +
                                             ", which setup does not make");
        }
    }
}

void RefuseLinks(const std::wstring& mode, const std::vector<ValueChange>& plan) {
    const Registry registry(HiveOf(mode));
    const auto linked = std::find_if(plan.begin(), plan.end(), [&registry](const auto& change) {
        return ThroughALink(registry, change.view, change.key);
    });
    if (linked != plan.end()) {
        throw Refusal(exitNotOurs, Utf8(linked->key));
    }
}

std::optional<Record> RegistrationOf(const std::wstring& mode,
                                     const std::vector<ValueChange>& plan) {
    const Registry registry(HiveOf(mode));
    const ValueState stored = registry.Read(L"", ownKey, registrationValue);
    if (!stored.present) {
        return std::nullopt;
    }
    try {
        auto found = ParseRecord(TextOf(stored));
        if (stored.type != REG_SZ || found.mode != mode) {
            throw Failure("it is not this mode's");
        }
        CheckNamesOnly(found, plan);
        return found;
    } catch (const Failure& failure) {
        throw Refusal(exitBadRecord, "the record of the registration, " + Utf8(ownKey) +
                                         "\\Registration, cannot be used: " + failure.what());
    }
}

bool RegistersCopyIn(const Record& registration, const std::wstring& folder) {
    return !registration.copy.path.empty() &&
           (SameIdentity(folder, registration.copy.path) ||
            SamePathText(Identity(folder), registration.copy.identity));
}

void Register(const std::wstring& mode, const std::wstring& folder,
              const std::vector<ValueChange>& plan, const std::optional<Record>& earlier) {
    const Registry registry(HiveOf(mode));
    RefuseLinks(mode, plan);
    const auto remembered = RegistrationOf(mode, plan);
    std::optional<Record> prior = remembered;
    if (!prior && earlier && !earlier->values.empty()) {
        prior = earlier;
    }
    Record next;
    next.mode = mode;
    next.copy = {folder, Identity(folder)};
    if (prior) {
        next.keys = prior->keys;
    }
    std::vector<CreatedKey> madeNow;
    const auto made = [&next, &madeNow](const std::wstring& view, const std::wstring& name,
                                        bool now) {
        const CreatedKey key{view, name};
        if (std::find(next.keys.begin(), next.keys.end(), key) == next.keys.end()) {
            next.keys.push_back(key);
        }
        if (now && std::find(madeNow.begin(), madeNow.end(), key) == madeNow.end()) {
            madeNow.push_back(key);
        }
    };
    const ValueState command = registry.Read(L"", commandKey, L"");
    const ValueChange* priorCommand = prior ? Find(prior->values, commandLike) : nullptr;
    const bool schemeStillOurs = priorCommand != nullptr && IsOurs(*priorCommand, command);
    const bool schemeOfAnEarlierBuild = !schemeStillOurs && StartsACopyOfOurs(TextOf(command));

    std::vector<ValueState> found;
    for (const auto& change : plan) {
        ValueChange taken = change;
        const ValueState current = registry.Read(change.view, change.key, change.name);
        found.push_back(current);
        const ValueChange* before = prior ? Find(prior->values, change) : nullptr;
        const Before how =
            Classify(change, before, current, schemeStillOurs, schemeOfAnEarlierBuild);
        std::optional<ValueState> kept;
        switch (how) {
        case Before::Remembered:
            taken.previous = before->previous;
            taken.alsoOurs = before->alsoOurs;
            taken.alsoOurs.push_back(before->ours);
            break;
        case Before::KeptByAnEarlierBuild:
            kept = KeptByAnEarlierVersion(registry, change);
            taken.previous = kept.value_or(ValueState{});
            break;
        case Before::OursAlready:
            if (registry.HoldsOnly(change.view, change.key, change.name)) {
                made(change.view, change.key, false);
            }
            break;
        case Before::AsFound:
            taken.previous = current;
            break;
        }
        for (const auto& key : KeysOnThePath(change.key)) {
            if (!registry.Exists(change.view, key)) {
                made(change.view, key, true);
            } else if (how == Before::KeptByAnEarlierBuild && !kept) {
                made(change.view, key, false); // that build made them
            }
        }
        next.values.push_back(std::move(taken));
    }

    Save(registry, next, L"register:ahead");
    std::size_t written = 0;
    try {
        for (; written < plan.size(); ++written) {
            const auto& change = plan[written];
            registry.Write(change.view, change.key, change.name, change.ours);
            Changed(L"register:value " + Named(change));
        }
    } catch (const Failure&) {
        // Back as found, as far as it goes: each value on its own, then the record as it was.
        for (std::size_t left = written + 1; left > 0; --left) {
            const auto& change = plan[left - 1];
            try {
                registry.Write(change.view, change.key, change.name, found[left - 1]);
            } catch (const Failure&) {
                continue;
            }
        }
        for (std::size_t left = madeNow.size(); left > 0; --left) {
            registry.RemoveIfEmpty(madeNow[left - 1].view, madeNow[left - 1].key);
        }
        if (remembered) {
            Save(registry, *remembered, L"register:as it was");
        } else {
            Forget(registry, L"register:as it was");
        }
        throw;
    }
    for (auto& value : next.values) {
        value.alsoOurs.clear();
    }
    Save(registry, next, L"register:done");
}

void Unregister(const std::wstring& folder, const Record& earlier,
                const std::vector<ValueChange>& plan) {
    const Registry registry(HiveOf(earlier.mode));
    auto registration = RegistrationOf(earlier.mode, plan);
    if (!registration) {
        if (earlier.values.empty()) {
            return; // nothing shared was taken over for this copy
        }
        // An earlier build's copy: its folder's record held the registration.
        registration = Record{earlier.mode,  {folder, Identity(folder)}, {}, {}, {}, earlier.keys,
                              earlier.values};
        Save(registry, *registration, L"unregister:taken from the folder");
    }
    if (!RegistersCopyIn(*registration, folder)) {
        return;
    }
    if (registration->removal.empty()) {
        registration->removal = Decide(registry, *registration);
        Save(registry, *registration, L"unregister:decided");
    }
    const bool scheme = registration->removal != L"keep";
    if (registration->removal == L"drop") {
        registry.RemoveTree(L"", schemeKey);
        Changed(L"unregister:scheme removed");
    }
    // Last set, first given back; a value that cannot be does not stop the others.
    std::string failed;
    for (std::size_t left = registration->values.size(); left > 0; --left) {
        const auto& value = registration->values[left - 1];
        if ((InScheme(value.key) && !scheme) || ThroughALink(registry, value.view, value.key)) {
            continue;
        }
        try {
            if (IsOurs(value, registry.Read(value.view, value.key, value.name))) {
                registry.Write(value.view, value.key, value.name, value.previous);
                Changed(L"unregister:value " + Named(value));
            }
        } catch (const Failure& failure) {
            failed += std::string(failed.empty() ? "" : "; ") + failure.what();
        }
    }
    for (std::size_t left = registration->keys.size(); left > 0; --left) {
        const auto& key = registration->keys[left - 1];
        if ((!InScheme(key.key) || scheme) && !ThroughALink(registry, key.view, key.key) &&
            registry.RemoveIfEmpty(key.view, key.key)) {
            Changed(L"unregister:key " + key.key);
        }
    }
    if (!failed.empty()) {
        throw Failure(failed);
    }
    Forget(registry, L"unregister:done");
}

} // namespace record
