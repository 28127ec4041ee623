#include "install_folder.hpp"

#include "files.hpp"
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

// Folders setup is making, kept in the mode's hive until the folder's record holds them.
const std::wstring foldersBeingMade = L"FoldersBeingMade";
// The temporary file the folder's record is being written through, named in the mode's hive
// before it is made: a run stopped while writing it leaves a file the next run knows as ours.
const std::wstring fileBeingWritten = L"FileBeingWritten";

std::vector<std::wstring> SplitAt(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (auto end = text.find(separator); end != std::wstring::npos;
         end = text.find(separator, start)) {
        if (end > start) {
            parts.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    if (start < text.size()) {
        parts.push_back(text.substr(start));
    }
    return parts;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ParentOf(const std::wstring& path) {
    const auto at = path.find_last_of(L'\\');
    // "C:\" is a root, and so is "\\server\share".
    const bool root = path.size() <= 3 || (path.starts_with(L"\\\\") &&
                                           std::count(path.begin(), path.end(), L'\\') <= 3);
    if (at == std::wstring::npos || root) {
        return {};
    }
    return path.substr(0, at == 2 ? 3 : at);
}

// `path` is this folder or one on the way to it.
bool OnTheWayTo(const std::wstring& folder, const std::wstring& path) {
    return SamePathText(folder, path) ||
           (folder.size() > path.size() && SamePathText(folder.substr(0, path.size()), path) &&
            (path.back() == L'\\' || folder[path.size()] == L'\\'));
}

// Notes the folders a run is about to make or remove, and forgets them once a record holds them
// or they are gone, with our company's keys when nothing else is left there.
void NoteFolders(const Registry& registry, const std::vector<std::wstring>& paths,
                 const std::wstring& step) {
    std::wstring lines;
    for (const auto& path : paths) {
        lines += path + L"\n";
    }
    registry.Write(L"", ownKey, foldersBeingMade, TextValue(lines));
    Changed(step);
}
// Our company's keys, once a run leaves nothing in them.
void RemoveCompanyKeys(const Registry& registry) {
    for (const auto& key : {ownKey, companyKey}) {
        registry.RemoveIfEmpty(L"", key);
    }
}

void ForgetFolders(const Registry& registry, const std::wstring& step) {
    if (registry.Read(L"", ownKey, foldersBeingMade).present) {
        registry.Write(L"", ownKey, foldersBeingMade, {});
        RemoveCompanyKeys(registry);
        Changed(step);
    }
}

// Our company's keys, where a run notes what it is about to do: never through a link.
void RefuseLinkedCompanyKeys(const Registry& registry) {
    for (const auto& key : {companyKey, ownKey}) {
        if (registry.IsLink(L"", key)) {
            throw Refusal(exitNotOurs, Utf8(key));
        }
    }
}

// Removes the temporary file a stopped run was writing the record through.
void FinishWrites(const Registry& registry) {
    const auto noted = TextOf(registry.Read(L"", ownKey, fileBeingWritten));
    if (noted.empty()) {
        return;
    }
    if (!::DeleteFileW(noted.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND &&
        ::GetLastError() != ERROR_PATH_NOT_FOUND) {
        throw Failure("cannot remove " + Utf8(noted));
    }
    registry.Write(L"", ownKey, fileBeingWritten, {});
    RemoveCompanyKeys(registry);
}

bool StillOurs(const std::wstring& folder, const Record& taken, const std::wstring& name) {
    if (IsLinkIn(folder, name)) {
        return false;
    }
    const auto hash = Sha256Of(PathIn(folder, name));
    return !hash.empty() &&
           std::any_of(taken.files.begin(), taken.files.end(), [&](const FileHash& file) {
               return file.name == name && file.sha256 == hash;
           });
}

void WriteRecord(const std::wstring& folder, const Record& taken, const std::wstring& step) {
    const Registry registry(HiveOf(taken.mode));
    const auto path = PathIn(folder, recordName);
    RefuseLinkedCompanyKeys(registry);
    FinishWrites(registry);
    registry.Write(L"", ownKey, fileBeingWritten, TextValue(TemporaryOf(path)));
    Changed(step + L" noted");
    WriteWhole(path, Utf8(FormatRecord(taken)), step);
    Changed(step);
    // The record under the name an earlier build gave it is this one's now.
    if (!IsLinkIn(folder, earlierRecordName) &&
        ::DeleteFileW(PathIn(folder, earlierRecordName).c_str())) {
        Changed(step + L" under its earlier name removed");
    }
    FinishWrites(registry);
}

// The folders this install makes, innermost first: those missing now, those a stopped run made
// on the way here, or, over an earlier version's copy, those its Apps entry kept.
std::vector<CreatedFolder> MakeFolders(const Registry& registry, const std::wstring& mode,
                                       const std::wstring& folder) {
    const auto pending = SplitAt(TextOf(registry.Read(L"", ownKey, foldersBeingMade)), L'\n');
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

std::optional<Record> FolderRecordIn(const std::wstring& folder) {
    std::optional<std::string> bytes;
    for (const auto& name : {recordName, earlierRecordName}) {
        if (IsLinkIn(folder, name)) {
            return std::nullopt;
        }
        if ((bytes = ReadWhole(PathIn(folder, name)))) {
            break;
        }
    }
    if (!bytes) {
        return std::nullopt;
    }
    auto found = ParseRecord(Wide(*bytes));
    // An edited record that names another place would have us remove or write there.
    if (!std::all_of(found.values.begin(), found.values.end(),
                     [](const ValueChange& value) { return InSharedPlace(value.key); }) ||
        !std::all_of(found.keys.begin(), found.keys.end(), [](const CreatedKey& key) {
            return InSharedPlace(key.key) || OnTheWayToASharedPlace(key.key);
        })) {
        throw Failure("the record names a registry key outside the places setup shares");
    }
    return found;
}

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
        if (identity.empty() || !SamePathText(identity, made.identity) ||
            !OnTheWayTo(own, identity)) {
            const auto same = std::find_if(above.begin(), above.end(), [&made](const auto& one) {
                return HasFileId(one, made.id);
            });
            path = same == above.end() ? std::wstring() : *same;
        }
        if (!path.empty() && ::RemoveDirectoryW(path.c_str())) {
            Changed(L"remove-record:folder " + made.path);
        }
    }
    ForgetFolders(registry, L"remove-record:done");
}

int TakeAway(const std::wstring& mode, const std::wstring& folder, const std::wstring& installed,
             const std::vector<std::wstring>& files) {
    if (folder.empty() || SameIdentity(folder, installed) || SamePathText(folder, installed)) {
        return 0;
    }
    const auto taken = FolderRecordIn(folder);
    if (!taken || taken->mode != mode) {
        throw Refusal(exitUnknownCopy, "no record of this mode's install in " + Utf8(folder));
    }
    // Nothing goes while a file stays in use: the copy stays whole, and still works.
    for (const auto& name : files) {
        if (StillOurs(folder, *taken, name) && !CanBeRemoved(PathIn(folder, name))) {
            throw Refusal(exitInUse, Utf8(name));
        }
    }
    RemoveFiles(folder, files);
    RemoveRecord(folder);
    return 0;
}

} // namespace record
