#pragma once

// The install folder's record, quarrion_record.dat, and what a run notes in the mode's hive
// before it makes or removes what no record holds yet: the folders being made, the temporary
// file the record is being written through. The install and the removal share them.

#include "record.hpp"
#include "registry.hpp"

#include <optional>
#include <string>
#include <vector>

namespace record {

// The folder's record (an earlier build's under its earlier name); nothing when there is none.
// Throws Failure for one that cannot be read or names a place setup does not share.
std::optional<Record> FolderRecordIn(const std::wstring& folder);

// Writes the folder's record whole, its temporary file named in the hive before it is made;
// then the record under its earlier name goes.
void WriteRecord(const std::wstring& folder, const Record& taken, const std::wstring& step);

// Whether the file of that name in the folder still holds bytes the record knows as ours.
bool StillOurs(const std::wstring& folder, const Record& taken, const std::wstring& name);

// The folders a run is about to make or remove, noted in the hive, and forgotten once a record
// holds them or they are gone, with our company's keys when nothing else is left there.
std::vector<std::wstring> NotedFolders(const Registry& registry);
void NoteFolders(const Registry& registry, const std::vector<std::wstring>& paths,
                 const std::wstring& step);
void ForgetFolders(const Registry& registry, const std::wstring& step);

// The mode's copies that installs elsewhere moved from and have not taken away yet, each with
// what its folder was when noted (before the Apps entry names the new copy); ForgetMovedFrom
// with no folder forgets them all.
std::vector<CreatedFolder> CopiesMovedFrom(const Registry& registry);
void NoteMovedFrom(const Registry& registry, const CreatedFolder& copy);
void ForgetMovedFrom(const Registry& registry, const std::wstring& folder);

// Refuses (145) our company's keys when one is a link: the notes would go into another
// program's key.
void RefuseLinkedCompanyKeys(const Registry& registry);

// Removes the temporary file a stopped run was writing the record through.
void FinishWrites(const Registry& registry);

bool IsFolder(const std::wstring& path);
// The folder above; empty for a root ("C:\", "\\server\share").
std::wstring ParentOf(const std::wstring& path);
// Whether `path` is this folder or one on the way to it.
bool OnTheWayTo(const std::wstring& folder, const std::wstring& path);

} // namespace record
