#include "install_folder.hpp"

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

namespace {

// The folders this install makes, innermost first: those missing now, those a stopped run made
// on the way here, or, over an earlier version's copy, those its Apps entry kept.
std::vector<CreatedFolder> MakeFolders(const Registry& registry, const std::wstring& mode,
                                       const std::wstring& folder) {
    const auto pending = NotedFolders(registry);
    std::vector<std::wstring> missing;
    for (auto path = folder; !path.empty() && !IsFolder(path); path = ParentOf(path)) {
        missing.push_back(path);
    }
    std::vector<std::wstring> made = missing;
    for (const auto& path : pending) {
        if (!OnTheWayTo(folder, path)) {
            ::RemoveDirectoryW(path.c_str()); // a stopped run's for another folder, while empty
        } else if (IsFolder(path) &&
                   std::none_of(made.begin(), made.end(),
                                [&path](const auto& one) { return SamePathText(one, path); })) {
            made.push_back(path);
        }
    }
    std::sort(made.begin(), made.end(),
              [](const auto& one, const auto& other) { return one.size() > other.size(); });
    if (made.empty() && SamePathText(InstallLocation(mode), folder)) {
        const auto kept = TextOf(Registry(HiveOf(mode)).Read(L"", appsEntryKey, L"CreatedFolders"));
        made = SplitAt(kept, L'|');
    }
    if (!missing.empty()) {
        NoteFolders(registry, made, L"install-files:ahead");
    }
    for (std::size_t left = missing.size(); left > 0; --left) {
        const auto& path = missing[left - 1]; // outermost first
        if (!::CreateDirectoryW(path.c_str(), nullptr) && !IsFolder(path)) {
            throw Failure("cannot make " + Utf8(path));
        }
        Changed(L"install-files:made " + path);
    }
    std::vector<CreatedFolder> folders(made.size());
    std::transform(made.begin(), made.end(), folders.begin(), [](const auto& path) {
        return CreatedFolder{path, Identity(path), FileIdOf(path)};
    });
    return folders;
}

} // namespace

void MayInstall(const std::wstring& mode, const std::wstring& folder, const Plan& plan,
                const std::vector<std::wstring>& files) {
    HiveOf(mode); // a mode this program knows
    std::optional<Record> existing;
    try {
        existing = FolderRecordIn(folder);
        if (existing) {
            CheckNamesOnly(*existing, plan);
        }
    } catch (const Failure& failure) {
        throw Refusal(exitBadRecord,
                      Utf8(PathIn(folder, recordName)) + " cannot be used: " + failure.what());
    }
    RegistrationOf(mode, plan); // one that cannot be read stops setup too
    if ((existing && existing->mode != mode) ||
        SameIdentity(folder, InstallLocation(OtherMode(mode)))) {
        throw Refusal(exitOtherMode, "the other mode's copy is here");
    }
    if (IsLinkedFolder(folder)) {
        throw Refusal(exitNotOurs, Utf8(folder));
    }
    std::vector<std::wstring> names = files;
    names.push_back(recordName);
    names.push_back(earlierRecordName);
    // A hard link too: writing our file would change the file of the other name.
    const auto linked = std::find_if(names.begin(), names.end(), [&folder](const auto& name) {
        return IsLinkIn(folder, name) || HasOtherNames(PathIn(folder, name));
    });
    if (linked != names.end()) {
        throw Refusal(exitNotOurs, Utf8(*linked));
    }
    RefuseLinks(mode, plan);
}

namespace {

void PrepareFolder(const std::wstring& mode, const std::wstring& folder,
                   const std::wstring& staging, const std::vector<std::wstring>& files) {
    const Registry registry(HiveOf(mode));
    const auto here = FolderRecordIn(folder);
    Record next = here.value_or(Record{});
    next.mode = mode;
    if (!here) {
        next.folders = MakeFolders(registry, mode, folder);
    }
    for (const auto& name : files) {
        const auto staged = Sha256Of(PathIn(staging, name));
        if (staged.empty()) {
            throw Failure("cannot read " + Utf8(PathIn(staging, name)));
        }
        // Without a record, the file of our name is an earlier build's, which setup replaces.
        if (const auto there = Sha256Of(PathIn(folder, name)); !here && !there.empty()) {
            next.files.push_back({name, there});
        }
        const FileHash placed{name, staged};
        if (std::none_of(next.files.begin(), next.files.end(), [&placed](const auto& file) {
                return file.name == placed.name && file.sha256 == placed.sha256;
            })) {
            next.files.push_back(placed);
        }
    }
    WriteRecord(folder, next, L"install-files:record");
    // A stopped run's for another folder (one being made, or a removed copy's), while empty.
    for (const auto& path : NotedFolders(registry)) {
        if (!OnTheWayTo(folder, path)) {
            ::RemoveDirectoryW(path.c_str());
        }
    }
    ForgetFolders(registry, L"install-files:done");
}

bool PlaceFile(const std::wstring& folder, const std::wstring& staging, const std::wstring& name) {
    const auto target = PathIn(folder, name);
    if (::CopyFileW(PathIn(staging, name).c_str(), target.c_str(), FALSE)) {
        Changed(L"install-files:" + name);
        return true;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
        error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE) {
        return false;
    }
    throw Failure("cannot write " + Utf8(target));
}

} // namespace

int InstallFiles(const std::wstring& mode, const std::wstring& folder, const std::wstring& staging,
                 const std::vector<std::wstring>& files) {
    PrepareFolder(mode, folder, staging, files);
    const auto inUse = std::find_if(files.begin(), files.end(), [&](const auto& name) {
        return !PlaceFile(folder, staging, name);
    });
    if (inUse != files.end()) {
        throw Refusal(exitInUse, Utf8(*inUse));
    }
    return 0;
}

void ConcludeInstall(const std::wstring& folder) {
    auto taken = FolderRecordIn(folder);
    if (!taken) {
        throw Failure("no record of an install in " + Utf8(folder));
    }
    std::vector<FileHash> files;
    for (const auto& file : taken->files) {
        const bool named = std::any_of(files.begin(), files.end(), [&file](const auto& kept) {
            return kept.name == file.name;
        });
        if (!named) {
            const auto now = Sha256Of(PathIn(folder, file.name));
            files.push_back({file.name, StillOurs(folder, *taken, file.name) ? now : file.sha256});
        }
    }
    taken->files = files;
    taken->keys.clear();
    taken->values.clear();
    WriteRecord(folder, *taken, L"conclude-install:record");
}

} // namespace record
