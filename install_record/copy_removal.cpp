#include "copy_removal.hpp"

#include "files.hpp"
#include "folder_record.hpp"
#include "places.hpp"
#include "refusals.hpp"
#include "registration.hpp"
#include "registry.hpp"
#include "steps.hpp"
#include "../windows/text.hpp"

#include <windows.h>

#include <algorithm>

namespace record {

std::string WhichCopy(const std::wstring& folder, const Plan& plan,
                      const std::vector<std::wstring>& files) {
    std::optional<Record> found;
    std::optional<Record> registration;
    try {
        found = FolderRecordIn(folder);
        if (!found) {
            throw Refusal(exitUnknownCopy, "no record of an install");
        }
        CheckNamesOnly(*found, plan);
        registration = RegistrationOf(found->mode, plan);
    } catch (const Failure& failure) {
        throw Refusal(exitUnknownCopy, failure.what());
    }
    // Before anything goes: the uninstall notes what it does there.
    RefuseLinkedCompanyKeys(Registry(HiveOf(found->mode)));
    // The registration knows its copy, however the Apps entry fares; without one, an earlier
    // build's copy is the one its Apps entry names.
    const bool registered = registration ? RegistersCopyIn(*registration, folder)
                                         : SameIdentity(folder, InstallLocation(found->mode));
    std::string answer = Utf8(found->mode) + (registered ? "|registered|" : "|left|");
    for (const auto& name : files) {
        if (StillOurs(folder, *found, name)) {
            answer += Utf8(name) + "|";
        }
    }
    return answer;
}

int RemoveFiles(const std::wstring& folder, const std::vector<std::wstring>& files) {
    const auto taken = FolderRecordIn(folder);
    for (const auto& name : files) {
        if (taken && StillOurs(folder, *taken, name)) {
            if (!::DeleteFileW(PathIn(folder, name).c_str())) {
                throw Refusal(exitInUse, Utf8(name));
            }
            Changed(L"remove-files:" + name);
        }
    }
    return 0;
}

void RemoveRecord(const std::wstring& folder) {
    const auto taken = FolderRecordIn(folder);
    if (!taken) {
        return;
    }
    const auto own = Identity(folder);
    // Noted first: setup run again after a stop here knows them as its own.
    const Registry registry(HiveOf(taken->mode));
    RefuseLinkedCompanyKeys(registry);
    FinishWrites(registry);
    std::vector<std::wstring> paths(taken->folders.size());
    std::transform(taken->folders.begin(), taken->folders.end(), paths.begin(),
                   [](const auto& made) { return made.path; });
    if (!paths.empty()) {
        NoteFolders(registry, paths, L"remove-record:ahead");
    }
    try {
        RemoveFiles(folder, {L"uninstall.exe"});
    } catch (const Refusal&) {
        // Run in place (_?=), the uninstaller stays: it cannot remove itself.
    }
    for (const auto& name : {earlierRecordName, recordName}) {
        if (!IsLinkIn(folder, name)) {
            ::DeleteFileW(PathIn(folder, name).c_str());
        }
    }
    Changed(L"remove-record:record");
    // Only folders this install made, still the same ones: this one and those above it, by their
    // final path, or by their number when the drive they were made through is gone.
    std::vector<std::wstring> above;
    for (auto path = folder; !path.empty(); path = ParentOf(path)) {
        above.push_back(path);
    }
    for (const auto& made : taken->folders) {
        const auto identity = Identity(made.path);
        auto path = made.path;
        if (identity.empty()) { // made through a drive letter that is gone: by its number
            const auto same = std::find_if(above.begin(), above.end(), [&made](const auto& one) {
                return HasFileId(one, made.id);
            });
            path = same == above.end() ? std::wstring() : *same;
        } else if (!SamePathText(identity, made.identity) || !OnTheWayTo(own, identity)) {
            path.clear();
        }
        if (!path.empty() && ::RemoveDirectoryW(path.c_str())) {
            Changed(L"remove-record:folder " + made.path);
        }
    }
    ForgetMovedFrom(registry, folder);
    ForgetFolders(registry, L"remove-record:done");
}

int TakeAway(const std::wstring& mode, const std::wstring& installed,
             const std::vector<std::wstring>& files) {
    const Registry registry(HiveOf(mode));
    // Nothing goes while a file stays in use, its uninstaller included: the copy stays whole,
    // still works, and the next install tries again.
    std::vector<std::wstring> names = files;
    names.emplace_back(L"uninstall.exe");
    int status = 0;
    for (const auto& copy : CopiesMovedFrom(registry)) {
        const auto& folder = copy.path;
        // Still the folder that was noted (not another one given its name since), and not this.
        const bool same = !copy.identity.empty() && SamePathText(Identity(folder), copy.identity);
        const auto taken =
            !same || SameIdentity(folder, installed) ? std::nullopt : FolderRecordIn(folder);
        const auto inUse = std::find_if(names.begin(), names.end(), [&](const std::wstring& name) {
            return taken && StillOurs(folder, *taken, name) && !CanBeRemoved(PathIn(folder, name));
        });
        if (taken && inUse != names.end()) {
            status = exitInUse;
            continue;
        }
        if (taken && taken->mode == mode) {
            RemoveFiles(folder, files);
            RemoveRecord(folder); // which forgets it too
        } else {
            ForgetMovedFrom(registry, folder);
        }
        Changed(L"take-away:done " + folder);
    }
    return status;
}

} // namespace record
