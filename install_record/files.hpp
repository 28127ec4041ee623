#pragma once

// The install folder's files and folders as Windows resolves them: what a path is, whether it is
// a link, what a file holds, and a file written whole.

#include <optional>
#include <string>

namespace record {

// What a folder or file is, whatever the spelling that reaches it (8.3 names, ".", "..", a
// subst drive, a symbolic link or junction on the way): its final path. Empty when it cannot be
// opened.
std::wstring Identity(const std::wstring& path);
bool SameIdentity(const std::wstring& first, const std::wstring& second);
// The file system's own number for a folder or file: its volume's serial number and its index
// there, which no spelling, drive letter or link changes; empty when it cannot be opened.
std::wstring FileIdOf(const std::wstring& path);
// Whether the folder or file at `path` has this number. Wine gives each drive letter a serial
// number of its own, so a folder reached through two letters has two: there, the index alone.
bool HasFileId(const std::wstring& path, const std::wstring& id);
// Path texts compared as Windows compares names: without case.
bool SamePathText(const std::wstring& first, const std::wstring& second);

// Whether the folder itself is a symbolic link or a junction.
bool IsLinkedFolder(const std::wstring& folder);
// Whether the name in the folder is a link (to a file elsewhere, or to nothing) rather than a
// file or folder of its own.
bool IsLinkIn(const std::wstring& folder, const std::wstring& name);

// Whether the file has another name too (a hard link): writing it would change that one.
bool HasOtherNames(const std::wstring& path);

// Whether nothing holds the file open in a way that keeps it from being removed (a program
// running from it, or one that shares it for reading only).
bool CanBeRemoved(const std::wstring& path);

// The SHA-256 of a file's bytes, in lower-case hexadecimal; empty when it cannot be read.
std::wstring Sha256Of(const std::wstring& path);

std::optional<std::string> ReadWhole(const std::wstring& path);
// The temporary file WriteWhole writes `path` through.
std::wstring TemporaryOf(const std::wstring& path);
// Writes to the temporary file beside `path`, then renames it over `path`; throws Failure.
// `step` names it for the crash tests: "<step> temporary made", "<step> temporary written".
void WriteWhole(const std::wstring& path, const std::string& bytes, const std::wstring& step);

} // namespace record
