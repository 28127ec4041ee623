#include "linux_files.hpp"

#include "desktop_text.hpp"
#include "temporary_names.hpp"
#include "../windows/owners.hpp" // by path: CMake mangles a -I holding $ in its build path
#include "../windows/process.hpp"
#include "../windows/text.hpp"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace desktop {
namespace {

// Text that Wine allocated on the process heap for its caller.
struct HeapFreer {
    void operator()(void* memory) const noexcept { ::HeapFree(::GetProcessHeap(), 0, memory); }
};

std::wstring WithoutLongPrefix(std::wstring name) {
    if (name.starts_with(L"\\\\?\\")) {
        name.erase(0, 4);
    }
    return name;
}

template <class Done> void WaitFor(Done done, const std::string& what, int tries = 1000) {
    for (; tries > 0; --tries) {
        if (done()) {
            return;
        }
        ::Sleep(10);
    }
    throw Failure("timed out: " + what);
}

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool SameFile(HANDLE file, HANDLE other) {
    BY_HANDLE_FILE_INFORMATION one{};
    BY_HANDLE_FILE_INFORMATION two{};
    return ::GetFileInformationByHandle(file, &one) != FALSE &&
           ::GetFileInformationByHandle(other, &two) != FALSE &&
           one.nFileIndexHigh == two.nFileIndexHigh && one.nFileIndexLow == two.nFileIndexLow &&
           one.dwVolumeSerialNumber == two.dwVolumeSerialNumber;
}

// Whether creating a claim failed because another run has it: it exists, or (on Windows) it is
// still being deleted as the run that held it lets go.
bool IsTaken(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ACCESS_DENIED ||
           error == ERROR_SHARING_VIOLATION;
}

// Wine takes a lock as a POSIX lock on the Linux file too, seen by other Wine servers.
bool LockFirstByte(HANDLE file) {
    OVERLAPPED first{};
    return ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                        &first) != FALSE;
}

} // namespace

std::string FolderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

LinuxFiles::LinuxFiles() {
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    toUnix_ = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_unix_file_name")));
    toDos_ = reinterpret_cast<ToDos>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_dos_file_name")));
    if (toUnix_ == nullptr || toDos_ == nullptr) {
        throw Failure("this is not Wine");
    }
}

std::string LinuxFiles::UnixPath(const std::wstring& name) const {
    const std::unique_ptr<char, HeapFreer> path(toUnix_(name.c_str()));
    if (!path) {
        throw Failure("no Unix path for " + Utf8(name));
    }
    return path.get();
}

std::wstring LinuxFiles::DosPath(const std::string& path) const {
    const std::unique_ptr<wchar_t, HeapFreer> name(toDos_(path.c_str()));
    if (!name) {
        throw Failure("no Windows name for " + path);
    }
    return WithoutLongPrefix(name.get());
}

// Wine names an open file by its real path, with every link resolved.
std::optional<std::wstring> LinuxFiles::FinalName(const std::string& path) const {
    const UniqueHandle file(::CreateFileW(
        DosPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::wstring name(32768, L'\0');
    name.resize(::GetFinalPathNameByHandleW(file.get(), name.data(),
                                            static_cast<DWORD>(name.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS));
    if (name.empty()) {
        throw Failure("cannot tell what " + path + " is");
    }
    return WithoutLongPrefix(name);
}

std::optional<std::string> LinuxFiles::Resolved(const std::string& path) const {
    const auto name = FinalName(path);
    if (!name) {
        return std::nullopt;
    }
    // A Unix name holding a backslash has no Windows name that leads back to it.
    std::string resolved = UnixPath(*name);
    if (FinalName(resolved) != name) {
        throw Failure("Wine cannot name the real path of " + path + " exactly");
    }
    return resolved;
}

std::string LinuxFiles::RealPath(const std::string& path) const {
    if (const auto resolved = Resolved(path)) {
        return *resolved;
    }
    const std::string folder = FolderOf(path);
    return folder.empty() || folder == path ? path : RealPath(folder) + path.substr(folder.size());
}

Kind LinuxFiles::KindOf(const std::string& path) const {
    const auto name = FinalName(path);
    if (!name) {
        return Listed(path) ? Kind::throughLink : Kind::absent;
    }
    return *name == DosPath(path) ? Kind::itself : Kind::throughLink;
}

bool LinuxFiles::IsFolder(const std::string& path) const {
    const DWORD attributes = ::GetFileAttributesW(DosPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

struct SearchCloser {
    void operator()(HANDLE search) const noexcept { ::FindClose(search); }
};

} // namespace

std::vector<std::string> LinuxFiles::Names(const std::string& folder) const {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const HANDLE first = ::FindFirstFileW((DosPath(folder) + L"\\*").c_str(), &found);
    if (first == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return names;
        }
        throw Failure("cannot list " + folder);
    }
    const std::unique_ptr<void, SearchCloser> search(first);
    do {
        const std::string name = Utf8(found.cFileName);
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (::FindNextFileW(search.get(), &found) != FALSE);
    // A list cut short would pass for the last registration's.
    if (::GetLastError() != ERROR_NO_MORE_FILES) {
        throw Failure("cannot list " + folder);
    }
    return names;
}

// Wine lists a link that leads nowhere without opening it, and then reports "no more files"
// rather than "not found".
bool LinuxFiles::Listed(const std::string& path) const {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(DosPath(path).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        ::FindClose(search);
        return true;
    }
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

void LinuxFiles::RequireWritable(const std::string& path) const {
    if (KindOf(path) != Kind::absent &&
        (::GetFileAttributesW(DosPath(path).c_str()) & FILE_ATTRIBUTE_READONLY) != 0) {
        throw Failure(path + " is read-only");
    }
}

// Wine converts a Linux program's arguments to the Unix locale's character set.
void LinuxFiles::RequirePassable(const std::string& path) const {
    const auto outsideAscii = [](char unit) { return static_cast<unsigned char>(unit) > 0x7F; };
    if (std::none_of(path.begin(), path.end(), outsideAscii)) {
        return;
    }
    std::string locale;
    for (const wchar_t* name : {L"LC_ALL", L"LC_CTYPE", L"LANG"}) {
        locale = Utf8(Environment(name));
        if (!locale.empty()) {
            break;
        }
    }
    std::transform(locale.begin(), locale.end(), locale.begin(),
                   [](char unit) { return unit >= 'A' && unit <= 'Z' ? unit - 'A' + 'a' : unit; });
    if (locale.find("utf-8") == std::string::npos && locale.find("utf8") == std::string::npos) {
        throw Failure(path +
                      " holds characters that Linux programs cannot be given in the locale '" +
                      locale + "': use a UTF-8 locale");
    }
}

std::string LinuxFiles::Read(const std::string& path) const {
    const UniqueHandle file(::CreateFileW(DosPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    char buffer[65536];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) != FALSE) {
        if (read == 0) {
            return text;
        }
        text.append(buffer, read);
    }
    throw Failure("cannot read " + path);
}

void LinuxFiles::Replace(const std::string& path, const std::string& text) const {
    Swap(path, text, nullptr);
}

bool LinuxFiles::ReplaceUnchanged(const std::string& path, const std::optional<std::string>& was,
                                  const std::string& text) const {
    return Swap(path, text, &was);
}

std::optional<std::string> LinuxFiles::ReadIfThere(const std::string& path) const {
    return KindOf(path) == Kind::absent ? std::nullopt : std::optional(Read(path));
}

bool LinuxFiles::Swap(const std::string& path, const std::string& text,
                      const std::optional<std::string>* was) const {
    const std::wstring target = DosPath(path);
    // A link here is replaced, not read or written through.
    if (KindOf(path) == Kind::itself) {
        if (Read(path) == text) {
            return true;
        }
        RequireWritable(path);
    }
    // Hidden beside the target, so that the rename stays on one file system.
    const std::string name = path.substr(path.rfind('/') + 1);
    std::wstring temporary;
    UniqueHandle file;
    for (unsigned attempt = 0; !file && attempt < 100; ++attempt) {
        temporary =
            DosPath(FolderOf(path) + "/" + TemporaryName(name, ::GetCurrentProcessId(), attempt));
        file.reset(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file && ::GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (!file) {
        throw Failure("cannot write in " + FolderOf(path));
    }
    DWORD written = 0;
    bool whole = ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                             nullptr) != FALSE &&
                 written == text.size() && ::FlushFileBuffers(file.get()) != FALSE;
    file.reset();
    // The file keeps its permissions: a private one stays private.
    if (whole && KindOf(path) == Kind::itself) {
        whole = RunToEnd({"/bin/chmod", "--reference=" + path, "--", UnixPath(temporary)}) == 0;
    }
    // Other programs do not take our lock: what they changed since it was read is checked last,
    // by content, so that only the rename itself is left between.
    const bool still = !whole || was == nullptr || ReadIfThere(path) == *was;
    if (!whole || !still ||
        ::MoveFileExW(temporary.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        ::DeleteFileW(temporary.c_str()); // a file of ours, just made: no link
        if (still) {
            throw Failure("cannot write " + path);
        }
    }
    return still;
}

void LinuxFiles::RemoveFile(const std::string& path) const {
    if (KindOf(path) != Kind::itself) {
        return;
    }
    // Wine removes the file when the handle it opened closes, and reports success before that;
    // a folder that cannot be written keeps it.
    if (::DeleteFileW(DosPath(path).c_str()) == FALSE || Listed(path)) {
        throw Failure("cannot remove " + path);
    }
}

bool LinuxFiles::RemoveUnchanged(const std::string& path, const std::string& was) const {
    if (ReadIfThere(path) != was) {
        return false;
    }
    RemoveFile(path);
    return true;
}

void LinuxFiles::RemoveLockFile(const std::string& path) const {
    if (KindOf(path) == Kind::itself && RunToEnd({"/bin/rm", "-f", "--", path}) != 0) {
        throw Failure("cannot remove " + path);
    }
}

void LinuxFiles::RemoveEmptyFolder(const std::string& path) const {
    if (KindOf(path) == Kind::itself) {
        ::RemoveDirectoryW(DosPath(path).c_str()); // one that is not empty stays
    }
}

void LinuxFiles::CreateFolders(const std::string& path, std::vector<std::string>& made) const {
    // The last uninstall in another prefix removes the folders above ours once they are empty,
    // perhaps one made here just now: made again, a few times at most.
    for (int tries = 0; !MadeFolders(path, made); ++tries) {
        if (tries == 3) {
            throw Failure("cannot create " + path);
        }
    }
}

bool LinuxFiles::MadeFolders(const std::string& path, std::vector<std::string>& made) const {
    if (KindOf(path) != Kind::absent) {
        return true;
    }
    if (!MadeFolders(FolderOf(path), made)) {
        return false;
    }
    if (::CreateDirectoryW(DosPath(path).c_str(), nullptr) == FALSE) {
        const DWORD error = ::GetLastError();
        // Another registrar may have made it just now.
        if (error == ERROR_ALREADY_EXISTS && KindOf(path) == Kind::itself && IsFolder(path)) {
            return true;
        }
        if (error == ERROR_PATH_NOT_FOUND) {
            return false;
        }
        throw Failure("cannot create " + path);
    }
    if (std::find(made.begin(), made.end(), path) == made.end()) {
        made.push_back(path);
    }
    return true;
}

LinuxFiles::NewFolder LinuxFiles::NewFolderBeside(const std::string& path) const {
    const std::string name = path.substr(path.rfind('/') + 1);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string folder =
            FolderOf(path) + "/" + TemporaryName(name, ::GetCurrentProcessId(), attempt);
        // Process ids are only a Wine server's own: another prefix's run may use the same name.
        // The claim comes first, so that no run sees the folder without it while it is filled.
        UniqueHandle claim(::CreateFileW(DosPath(ClaimOf(folder)).c_str(),
                                         GENERIC_READ | GENERIC_WRITE, shareAll, nullptr,
                                         CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (!claim && !IsTaken(::GetLastError())) {
            break;
        }
        if (!claim || !LockFirstByte(claim.get())) {
            continue;
        }
        if (::CreateDirectoryW(DosPath(folder).c_str(), nullptr) != FALSE) {
            return {std::move(folder), std::move(claim)};
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    throw Failure("cannot create " + path);
}

UniqueHandle LinuxFiles::TakeClaim(const std::string& temporary, bool makeIfMissing) const {
    // A link there is not ours, and opening it would make a file where it leads.
    if (KindOf(ClaimOf(temporary)) == Kind::throughLink) {
        return UniqueHandle();
    }
    const std::wstring claim = DosPath(ClaimOf(temporary));
    UniqueHandle file(::CreateFileW(claim.c_str(), GENERIC_READ | GENERIC_WRITE, shareAll, nullptr,
                                    makeIfMissing ? OPEN_ALWAYS : OPEN_EXISTING, 0, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (IsTaken(error) || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return UniqueHandle(); // gone with its folder, or being deleted
        }
        throw Failure("cannot open " + ClaimOf(temporary));
    }
    if (!LockFirstByte(file.get())) {
        return UniqueHandle();
    }
    // The run that held it may let go as its file goes, and another make a new one under the
    // name: the lock must be on the file that the name names.
    const UniqueHandle now(
        ::CreateFileW(claim.c_str(), 0, shareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    return now && SameFile(file.get(), now.get()) ? std::move(file) : UniqueHandle();
}

bool LinuxFiles::Rename(const std::string& from, const std::string& to) const {
    return ::MoveFileExW(DosPath(from).c_str(), DosPath(to).c_str(), MOVEFILE_WRITE_THROUGH) !=
           FALSE;
}

void LinuxFiles::MakeLink(const std::string& target, const std::string& link) const {
    // -T: a folder already at the link's path is never entered.
    Run({"/bin/ln", "-sfnT", "--", target, link});
    const auto resolved = Resolved(target);
    WaitFor([&] { return resolved && Resolved(link) == resolved; }, "making the link " + link);
}

void LinuxFiles::RemoveLink(const std::string& link) const {
    Run({"/bin/rm", "-f", "--", link});
    WaitFor([&] { return !Listed(link); }, "removing the link " + link);
}

int LinuxFiles::RunToEnd(const std::vector<std::string>& arguments, std::string* output) const {
    static unsigned runs = 0;
    std::wstring temp(MAX_PATH + 1, L'\0');
    temp.resize(::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
    // Process ids come round again in a new Wine server: the time makes the name this run's.
    const std::string status =
        UnixPath(temp + L"quarrion-desktop-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                 std::to_wstring(::GetTickCount64()) + L"-" + std::to_wstring(++runs) + L".status");
    const std::string said = status + ".out";
    const auto tidy = [&] {
        for (const auto& stale : {status, status + ".new", said}) {
            ::DeleteFileW(DosPath(stale).c_str());
        }
    };
    tidy();
    // A shell takes the program and its arguments as its own, never as text to read, and writes
    // their status whole once they end.
    std::vector<std::string> line{
        "/bin/sh", "-c", R"(s=$1; shift; "$@" >"$s.out"; echo $? >"$s.new" && mv -f "$s.new" "$s")",
        "sh", status};
    line.insert(line.end(), arguments.begin(), arguments.end());
    Run(line);
    WaitFor([&] { return KindOf(status) == Kind::itself; }, "running " + arguments.front(), 6000);
    const std::string ended = Read(status);
    if (output != nullptr) {
        *output = ReadIfThere(said).value_or("");
    }
    tidy();
    const auto digits = ended.substr(0, ended.find('\n'));
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        throw Failure("cannot tell how " + arguments.front() + " ended");
    }
    return std::stoi(digits);
}

bool LinuxFiles::IsUnlinked(const std::string& path) const {
    const UniqueHandle file(::CreateFileW(DosPath(path).c_str(), 0,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    return file && ::GetFileInformationByHandle(file.get(), &information) != FALSE &&
           information.nNumberOfLinks == 0;
}

UniqueHandle LinuxFiles::Lock(const std::string& path, std::vector<std::string>& made) const {
    if (KindOf(path) == Kind::throughLink) {
        throw Failure(path + " is a symbolic link that this program did not make");
    }
    // A minute, in tenths of a second: another setup's registration takes a second or two.
    for (int tries = 0; tries < 600; ++tries) {
        // The last registration removed takes the folder with it once its lock's file is gone.
        CreateFolders(FolderOf(path), made);
        UniqueHandle file(::CreateFileW(DosPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                        shareAll, nullptr, OPEN_ALWAYS, 0, nullptr));
        if (!file) {
            if (::GetLastError() == ERROR_PATH_NOT_FOUND) {
                continue; // removed meanwhile: made again
            }
            throw Failure("cannot open " + path);
        }
        if (LockFirstByte(file.get())) {
            // The one who held it may have removed the file, with the last registration.
            const UniqueHandle now(::CreateFileW(DosPath(path).c_str(), 0, shareAll, nullptr,
                                                 OPEN_EXISTING, 0, nullptr));
            if (now && SameFile(file.get(), now.get())) {
                return file;
            }
            continue;
        }
        ::Sleep(100);
    }
    throw Failure("another registration in " + FolderOf(path) + " did not end within a minute");
}

void LinuxFiles::Run(const std::vector<std::string>& arguments) const {
    std::wstring line;
    for (const auto& argument : arguments) {
        line += (line.empty() ? L"" : L" ") + Wide(WindowsArgument(argument));
    }
    UniqueProcessInformation process;
    if (!StartProcess(line, process)) {
        throw Failure("cannot run " + arguments.front());
    }
}

} // namespace desktop
