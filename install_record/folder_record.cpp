#include "folder_record.hpp"

#include "files.hpp"
#include "places.hpp"
#include "refusals.hpp"
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
// The folders of copies an install elsewhere moves from, noted before the Apps entry names the
// new one, until each is taken away.
const std::wstring copiesMovedFrom = L"CopiesMovedFrom";

// A list of lines as a value; absent when there are none.
ValueState LinesValue(const std::vector<std::wstring>& lines) {
    std::wstring text;
    for (const auto& line : lines) {
        text.append(line).append(L"\n");
    }
    return lines.empty() ? ValueState{} : TextValue(text);
}

// Our company's keys, once a run leaves nothing in them.
void RemoveCompanyKeys(const Registry& registry) {
    for (const auto& key : {ownKey, companyKey}) {
        registry.RemoveIfEmpty(L"", key);
    }
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

std::vector<std::wstring> NotedFolders(const Registry& registry) {
    return SplitAt(TextOf(registry.Read(L"", ownKey, foldersBeingMade)), L'\n');
}

void NoteFolders(const Registry& registry, const std::vector<std::wstring>& paths,
                 const std::wstring& step) {
    registry.Write(L"", ownKey, foldersBeingMade, LinesValue(paths));
    Changed(step);
}

void ForgetFolders(const Registry& registry, const std::wstring& step) {
    if (registry.Read(L"", ownKey, foldersBeingMade).present) {
        registry.Write(L"", ownKey, foldersBeingMade, {});
        RemoveCompanyKeys(registry);
        Changed(step);
    }
}

std::vector<CreatedFolder> CopiesMovedFrom(const Registry& registry) {
    std::vector<CreatedFolder> copies;
    for (const auto& line : SplitAt(TextOf(registry.Read(L"", ownKey, copiesMovedFrom)), L'\n')) {
        const auto first = line.find(L'\t');
        const auto second = first == std::wstring::npos ? first : line.find(L'\t', first + 1);
        if (second != std::wstring::npos) { // a line of any other shape is not one this wrote
            copies.push_back({line.substr(second + 1), line.substr(0, first),
                              line.substr(first + 1, second - first - 1)});
        }
    }
    return copies;
}

namespace {

void WriteMovedFrom(const Registry& registry, const std::vector<CreatedFolder>& copies) {
    std::vector<std::wstring> lines(copies.size());
    std::transform(copies.begin(), copies.end(), lines.begin(), [](const CreatedFolder& copy) {
        return copy.identity + L"\t" + copy.id + L"\t" + copy.path;
    });
    registry.Write(L"", ownKey, copiesMovedFrom, LinesValue(lines));
}

} // namespace

void NoteMovedFrom(const Registry& registry, const CreatedFolder& copy) {
    auto noted = CopiesMovedFrom(registry);
    if (std::none_of(noted.begin(), noted.end(),
                     [&copy](const auto& one) { return SamePathText(one.path, copy.path); })) {
        noted.push_back(copy);
        WriteMovedFrom(registry, noted);
    }
}

void ForgetMovedFrom(const Registry& registry, const std::wstring& folder) {
    auto noted = CopiesMovedFrom(registry);
    const auto gone = std::remove_if(noted.begin(), noted.end(), [&folder](const auto& one) {
        return folder.empty() || SamePathText(one.path, folder);
    });
    if (gone == noted.end()) {
        return;
    }
    noted.erase(gone, noted.end());
    WriteMovedFrom(registry, noted);
    RemoveCompanyKeys(registry);
}

void RefuseLinkedCompanyKeys(const Registry& registry) {
    for (const auto& key : {companyKey, ownKey}) {
        if (registry.IsLink(L"", key)) {
            throw Refusal(exitNotOurs, Utf8(key));
        }
    }
}

void FinishWrites(const Registry& registry) {
    const auto noted = TextOf(registry.Read(L"", ownKey, fileBeingWritten));
    if (noted.empty()) {
        return;
    }
    // Only a file of the one name this writes, and not a link: a note edited to name any other
    // file is forgotten, and the file is not ours to remove.
    const auto at = noted.rfind(L'\\');
    const auto name = TemporaryOf(recordName);
    const bool ours = at != std::wstring::npos && SamePathText(noted.substr(at + 1), name) &&
                      !IsLinkIn(noted.substr(0, at), name);
    if (ours && !::DeleteFileW(noted.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND &&
        ::GetLastError() != ERROR_PATH_NOT_FOUND) {
        throw Failure("cannot remove " + Utf8(noted));
    }
    registry.Write(L"", ownKey, fileBeingWritten, {});
    RemoveCompanyKeys(registry);
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

bool OnTheWayTo(const std::wstring& folder, const std::wstring& path) {
    return SamePathText(folder, path) ||
           (folder.size() > path.size() && SamePathText(folder.substr(0, path.size()), path) &&
            (path.back() == L'\\' || folder[path.size()] == L'\\'));
}

} // namespace record
