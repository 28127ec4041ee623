#include "registration.hpp"

#include "earlier_builds.hpp"
#include "files.hpp"
#include "folder_record.hpp"
#include "gate.hpp"
#include "places.hpp"
#include "previous_program.hpp"
#include "refusals.hpp"
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

// What the uninstall does with the scheme, which is one registration (see Removal).
Removal Decide(const Registry& registry, const Gate& gate, const Record& registration) {
    const bool linked =
        std::any_of(registration.values.begin(), registration.values.end(),
                    [&](const auto& value) { return gate.ThroughALink(value.view, value.key); }) ||
        std::any_of(registration.keys.begin(), registration.keys.end(),
                    [&](const auto& key) { return gate.ThroughALink(key.view, key.key); });
    const ValueChange* command = Find(registration.values, commandLike);
    if (linked || command == nullptr) {
        return linked ? Removal::Keep : Removal::GiveBack;
    }
    const ValueState current = registry.Read(L"", commandKey, L"");
    // Still ours, or never set by an install stopped before it.
    if (!IsOurs(*command, current) && current != command->previous) {
        return Removal::Keep;
    }
    const auto previous = PreviousCommand(registry, registration);
    return previous && !ProgramMayBeThere(*previous) ? Removal::Drop : Removal::GiveBack;
}

} // namespace

Plan ReadPlan(const std::wstring& planFile) {
    const auto bytes = ReadWhole(planFile);
    if (!bytes) {
        throw Failure("cannot read setup's plan");
    }
    std::wstring text(bytes->size() / 2, L'\0');
    std::copy_n(bytes->begin(), text.size() * 2, reinterpret_cast<char*>(text.data()));
    return ParsePlan(text);
}

void CheckNamesOnly(const Record& found, const Plan& plan) {
    const auto stranger =
        std::find_if(found.values.begin(), found.values.end(), [&plan](const auto& value) {
            return Find(plan.values, value) == nullptr || !InSharedPlace(value.key);
        });
    if (stranger != found.values.end()) {
        throw Refusal(exitBadRecord,
                      "the record names " + Utf8(Named(*stranger)) + ", which setup does not set");
    }
    const auto leadsTo = [](const CreatedKey& key, const std::wstring& view,
                            const std::wstring& name) {
        return view == key.view && (name == key.key || name.starts_with(key.key + L"\\"));
    };
    for (const auto& key : found.keys) {
        const bool onTheWay = std::any_of(plan.values.begin(), plan.values.end(),
                                          [&](const auto& change) {
                                              return leadsTo(key, change.view, change.key);
                                          }) ||
                              std::any_of(plan.own.begin(), plan.own.end(), [&](const auto& own) {
                                  return leadsTo(key, own.view, own.key);
                              });
        if (!onTheWay) {
            throw Refusal(exitBadRecord, "the record names the key " + Utf8(key.key) +
                                             ", which setup does not make");
        }
    }
}

void RefuseLinks(const std::wstring& mode, const Plan& plan) {
    if (const auto linked = Gate(HiveOf(mode), plan).FirstLink()) {
        throw Refusal(exitNotOurs, Utf8(linked->key));
    }
}

std::optional<Record> RegistrationOf(const std::wstring& mode, const Plan& plan) {
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
    // By its number too, once its path leads nowhere: the drive letter it was installed through
    // is gone (a drive given another letter; under Wine, a subst drive).
    const auto& copy = registration.copy;
    return !copy.path.empty() &&
           (SameIdentity(folder, copy.path) || SamePathText(Identity(folder), copy.identity) ||
            (Identity(copy.path).empty() && HasFileId(folder, copy.id)));
}

namespace {

// The registration about to be made: each value of the plan with what it held before us, and the
// keys on the way to the plan's that are not there yet. `madeNow` are those this run makes.
struct TakeOver {
    Record next;
    std::vector<ValueState> found; // each value of the plan as it is now
    std::vector<CreatedKey> madeNow;

    void Made(const CreatedKey& key, bool now) {
        if (std::find(next.keys.begin(), next.keys.end(), key) == next.keys.end()) {
            next.keys.push_back(key);
        }
        if (now && std::find(madeNow.begin(), madeNow.end(), key) == madeNow.end()) {
            madeNow.push_back(key);
        }
    }
    void MadeOnTheWay(const Registry& registry, const std::wstring& view, const std::wstring& key,
                      bool byAnEarlierBuild) {
        for (const auto& on : KeysOnThePath(key)) {
            if (!registry.Exists(view, on)) {
                Made({view, on}, true);
            } else if (byAnEarlierBuild) {
                Made({view, on}, false);
            }
        }
    }
};

TakeOver Classified(const Registry& registry, const std::wstring& mode, const std::wstring& folder,
                    const Plan& plan, const std::optional<Record>& prior) {
    TakeOver taking;
    taking.next.mode = mode;
    taking.next.copy = {folder, Identity(folder), FileIdOf(folder)};
    if (prior) {
        taking.next.keys = prior->keys;
    }
    const ValueState command = registry.Read(L"", commandKey, L"");
    const ValueChange* priorCommand = prior ? Find(prior->values, commandLike) : nullptr;
    const bool schemeStillOurs = priorCommand != nullptr && IsOurs(*priorCommand, command);
    const bool schemeOfAnEarlierBuild = !schemeStillOurs && StartsACopyOfOurs(TextOf(command));
    for (const auto& change : plan.values) {
        ValueChange taken = change;
        const ValueState current = registry.Read(change.view, change.key, change.name);
        taking.found.push_back(current);
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
            kept = KeptByAnEarlierVersion(registry, change, current);
            taken.previous = kept.value_or(ValueState{});
            // Such as the icon's key, which that version made for a handler without one.
            if (!taken.previous.present &&
                registry.HoldsOnly(change.view, change.key, change.name)) {
                taking.Made({change.view, change.key}, false);
            }
            break;
        case Before::OursAlready:
            if (registry.HoldsOnly(change.view, change.key, change.name)) {
                taking.Made({change.view, change.key}, false);
            }
            break;
        case Before::AsFound:
            taken.previous = current;
            break;
        }
        // Without a handler kept, that build made the keys it wrote in.
        taking.MadeOnTheWay(registry, change.view, change.key,
                            how == Before::KeptByAnEarlierBuild && !kept);
        taking.next.values.push_back(std::move(taken));
    }
    for (const auto& own : plan.own) {
        taking.MadeOnTheWay(registry, own.view, own.key, false);
    }
    return taking;
}

// Sets the plan's values; when one cannot be, puts back each as found, as far as it goes, removes
// the keys this run made, and the record as it was.
void SetValues(const Registry& registry, const Plan& plan, const TakeOver& taking,
               const std::optional<Record>& remembered) {
    std::size_t written = 0;
    try {
        for (; written < plan.values.size(); ++written) {
            const auto& change = plan.values[written];
            registry.Write(change.view, change.key, change.name, change.ours);
            Changed(L"register:value " + Named(change));
        }
    } catch (const Failure&) {
        for (std::size_t left = written + 1; left > 0; --left) {
            const auto& change = plan.values[left - 1];
            try {
                registry.Write(change.view, change.key, change.name, taking.found[left - 1]);
            } catch (const Failure&) {
                continue;
            }
        }
        for (std::size_t left = taking.madeNow.size(); left > 0; --left) {
            registry.RemoveIfEmpty(taking.madeNow[left - 1].view, taking.madeNow[left - 1].key);
        }
        if (remembered) {
            Save(registry, *remembered, L"register:as it was");
        } else {
            Forget(registry, L"register:as it was");
        }
        throw;
    }
}

// The copy an install into `folder` moves from: the registration's, as it recorded it; without
// one (an earlier build's copy), the one the Apps entry names, as it is now.
std::optional<CreatedFolder> MovedFrom(const std::wstring& mode, const std::wstring& folder,
                                       const std::optional<Record>& registration) {
    if (registration && !registration->copy.path.empty()) {
        return RegistersCopyIn(*registration, folder) ? std::nullopt
                                                      : std::optional(registration->copy);
    }
    const auto installed = InstallLocation(mode);
    if (installed.empty() || SamePathText(installed, folder) || SameIdentity(installed, folder)) {
        return std::nullopt;
    }
    return CreatedFolder{installed, Identity(installed), FileIdOf(installed)};
}

} // namespace

void Register(const std::wstring& mode, const std::wstring& folder, const Plan& plan,
              const std::optional<Record>& earlier) {
    const Registry registry(HiveOf(mode));
    RefuseLinks(mode, plan);
    const auto remembered = RegistrationOf(mode, plan);
    // Before the Apps entry names this copy: the one it moves from, to be taken away.
    if (const auto from = MovedFrom(mode, folder, remembered)) {
        NoteMovedFrom(registry, *from);
        Changed(L"register:moved from noted");
    }
    std::optional<Record> prior = remembered;
    if (!prior && earlier && !earlier->values.empty()) {
        prior = earlier;
    }
    TakeOver taking = Classified(registry, mode, folder, plan, prior);
    Save(registry, taking.next, L"register:ahead");
    SetValues(registry, plan, taking, remembered);
    for (auto& value : taking.next.values) {
        value.alsoOurs.clear();
    }
    Save(registry, taking.next, L"register:done");
    KeepForEarlierVersions(registry, taking.next.values);
    Changed(L"register:kept for earlier versions");
    const Gate gate(HiveOf(mode), plan);
    for (const auto& retired : plan.retired) {
        if (gate.RemoveWhole(retired)) {
            Changed(L"register:retired " + retired.key);
        }
    }
}

void Unregister(const std::wstring& folder, const Record& earlier, const Plan& plan) {
    const Registry registry(HiveOf(earlier.mode));
    const Gate gate(HiveOf(earlier.mode), plan);
    // The record of the registration would be written in another program's key.
    if (gate.ThroughALink(L"", ownKey)) {
        throw Refusal(exitNotOurs, Utf8(ownKey));
    }
    auto registration = RegistrationOf(earlier.mode, plan);
    if (!registration && !earlier.values.empty()) {
        // An earlier build's copy: its folder's record held the registration.
        registration = Record{
            earlier.mode,  {folder, Identity(folder), FileIdOf(folder)}, {}, {}, {}, earlier.keys,
            earlier.values};
        Save(registry, *registration, L"unregister:taken from the folder");
    }
    if (!registration) {
        // Nothing shared was taken over for this copy, or its record was lost: our keys go.
        registration = Record{earlier.mode,
                              {folder, Identity(folder), FileIdOf(folder)},
                              Removal::Keep,
                              {},
                              {},
                              {},
                              {}};
    }
    if (!RegistersCopyIn(*registration, folder)) {
        return;
    }
    if (registration->removal == Removal::Undecided) {
        registration->removal = Decide(registry, gate, *registration);
        Save(registry, *registration, L"unregister:decided");
    }
    const bool scheme = registration->removal != Removal::Keep;
    if (registration->removal == Removal::Drop && gate.RemoveWhole({L"", schemeKey})) {
        Changed(L"unregister:scheme removed");
    }
    // Last set, first given back; a value that cannot be does not stop the others, but keeps
    // every key, so that the uninstall can run again.
    std::string failed;
    for (std::size_t left = registration->values.size(); left > 0; --left) {
        const auto& value = registration->values[left - 1];
        if ((InScheme(value.key) && !scheme) || gate.ThroughALink(value.view, value.key)) {
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
    if (!failed.empty()) {
        throw Failure(failed);
    }
    for (const auto& own : plan.own) {
        if (gate.RemoveWhole(own)) {
            Changed(L"unregister:own " + own.key);
        }
    }
    for (std::size_t left = registration->keys.size(); left > 0; --left) {
        const auto& key = registration->keys[left - 1];
        if ((!InScheme(key.key) || scheme) && !gate.ThroughALink(key.view, key.key) &&
            registry.RemoveIfEmpty(key.view, key.key)) {
            Changed(L"unregister:key " + key.key);
        }
    }
    Forget(registry, L"unregister:done");
    // The copies a move left are left behind now, each with its uninstaller.
    ForgetMovedFrom(registry, L"");
    std::vector<std::wstring> views{L""};
    for (const auto& own : plan.own) {
        if (std::find(views.begin(), views.end(), own.view) == views.end()) {
            views.push_back(own.view);
        }
    }
    for (const auto& view : views) {
        for (const auto& company : {ownKey, companyKey}) {
            if (!gate.ThroughALink(view, company)) {
                registry.RemoveIfEmpty(view, company);
            }
        }
    }
}

} // namespace record
