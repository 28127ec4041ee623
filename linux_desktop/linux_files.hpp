#pragma once

// The Linux side's files, seen from a Windows program under Wine, by their Unix paths.
// Wine follows a symbolic link when it writes or deletes a path, so that a link's target would
// be changed instead of the link: nothing here writes or deletes through one.

#include "../windows/owners.hpp" // by path: CMake mangles a -I holding $ in its build path

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace desktop {

class Failure : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The folder a path is in.
std::string FolderOf(const std::string& path);

// What a path names, for a path whose folders are already resolved.
enum class Kind {
    absent,     // nothing
    itself,     // a file or folder
    throughLink // a symbolic link, perhaps to nothing
};

class LinuxFiles {
  public:
    LinuxFiles(); // throws when this is not Wine

    // The Unix path of a Windows name.
    [[nodiscard]] std::string UnixPath(const std::wstring& name) const;

    // The path with every symbolic link, ".", ".." and repeated "/" resolved; nothing when
    // nothing is there.
    [[nodiscard]] std::optional<std::string> Resolved(const std::string& path) const;
    // Resolved as far as the path exists, the rest as given.
    [[nodiscard]] std::string RealPath(const std::string& path) const;

    [[nodiscard]] Kind KindOf(const std::string& path) const;
    [[nodiscard]] bool IsFolder(const std::string& path) const;
    // The names a folder holds, "." and ".." left out.
    [[nodiscard]] std::vector<std::string> Names(const std::string& folder) const;
    // Whether the folder lists the name at all, even a link that leads nowhere.
    [[nodiscard]] bool Listed(const std::string& path) const;

    // Refuses a read-only file: its owner (or a dotfile manager's store) keeps it as it is.
    void RequireWritable(const std::string& path) const;
    // Refuses a path that Wine would hand a Linux program in another spelling: one with units
    // outside ASCII where the Unix locale is not UTF-8.
    void RequirePassable(const std::string& path) const;

    // The whole file; a file that cannot be read fails rather than reads as empty.
    [[nodiscard]] std::string Read(const std::string& path) const;

    // Gives the file `text` without ever leaving it half written: a new file beside it, flushed,
    // given the old one's permissions, then renamed over it. A read-only file is refused, and one
    // that already holds `text` is left as it is. A link at the path would be replaced, not
    // followed: pass a resolved path.
    void Replace(const std::string& path, const std::string& text) const;
    // The same, only while the file still holds `was` (is absent, for nothing), compared just
    // before the rename; false, and nothing changed, when another program changed it meanwhile.
    [[nodiscard]] bool ReplaceUnchanged(const std::string& path,
                                        const std::optional<std::string>& was,
                                        const std::string& text) const;
    // The whole file, or nothing when nothing is there.
    [[nodiscard]] std::optional<std::string> ReadIfThere(const std::string& path) const;

    // Removes a file, or a folder once it is empty, that is not a link (Kind::itself).
    void RemoveFile(const std::string& path) const;
    // The same, only while the file still holds `was`; false when it does not.
    [[nodiscard]] bool RemoveUnchanged(const std::string& path, const std::string& was) const;
    void RemoveEmptyFolder(const std::string& path) const;
    // Removes the name of a lock's file while the lock is held (Wine would remove it only once
    // the handle closes, after another could take the lock on it).
    void RemoveLockFile(const std::string& path) const;
    // Makes the folder and the missing ones above it, adding each one made to `made`, outermost
    // first, even when a later one fails. One made meanwhile by another is not added.
    void CreateFolders(const std::string& path, std::vector<std::string>& made) const;

    // A folder made under a temporary name beside another, to be renamed to it once whole, and
    // its claim: a file beside it, locked before the folder is made and held until the handle
    // closes, when it goes. A temporary folder whose claim no run holds is one a killed run left.
    struct NewFolder {
        std::string path;
        UniqueHandle claim;
    };
    [[nodiscard]] NewFolder NewFolderBeside(const std::string& path) const;
    // Holds the claim on a temporary folder until the handle closes, its file made when missing
    // and asked for (the folder is there, the run that made it gone); nothing while a run still
    // going holds it, when there is none to take, or when a link stands at its name. As Lock,
    // across Wine servers.
    [[nodiscard]] UniqueHandle TakeClaim(const std::string& temporary, bool makeIfMissing) const;
    // Renames a file or folder where nothing is; false when it cannot.
    [[nodiscard]] bool Rename(const std::string& from, const std::string& to) const;

    // Symbolic links, made and removed by Linux programs: Wine cannot do either itself.
    void MakeLink(const std::string& target, const std::string& link) const;
    void RemoveLink(const std::string& link) const;

    // Starts a Linux program, no shell in between. Wine reports neither its end nor its exit
    // status, so callers look for its effect.
    void Run(const std::vector<std::string>& arguments) const;
    // Runs one to its end and gives its exit status; what it writes to its standard output goes
    // to `output`, when given.
    [[nodiscard]] int RunToEnd(const std::vector<std::string>& arguments,
                               std::string* output = nullptr) const;

    // Whether the file is one that no folder names any more: a single file that a Flatpak
    // sandbox was granted stays bound to the file it found, after the host replaced it.
    [[nodiscard]] bool IsUnlinked(const std::string& path) const;

    // Holds an exclusive lock on the file at `path`, made when missing, until the handle closes.
    // Wine takes it as a POSIX lock on the Linux file, so that registrars run by setups in other
    // prefixes, under other Wine servers, wait for it too. Waits a minute at most. The folders it
    // makes again, when the last registration removed took them meanwhile, are added to `made`.
    [[nodiscard]] UniqueHandle Lock(const std::string& path, std::vector<std::string>& made) const;

  private:
    // CreateFolders' one try: false when a folder above was removed meanwhile.
    bool MadeFolders(const std::string& path, std::vector<std::string>& made) const;
    bool Swap(const std::string& path, const std::string& text,
              const std::optional<std::string>* was) const;
    [[nodiscard]] std::wstring DosPath(const std::string& path) const;
    [[nodiscard]] std::optional<std::wstring> FinalName(const std::string& path) const;

    using ToUnix = char*(__cdecl*)(const wchar_t*);
    using ToDos = wchar_t*(__cdecl*)(const char*);
    ToUnix toUnix_ = nullptr;
    ToDos toDos_ = nullptr;
};

} // namespace desktop
