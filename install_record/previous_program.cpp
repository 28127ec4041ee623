#include "previous_program.hpp"

#include "files.hpp"
#include "record.hpp"
#include "registry.hpp"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>

namespace record {

namespace {

// While a 32-bit program looks at files as a 64-bit one sees them.
class NativeFileSystem {
  public:
    NativeFileSystem() noexcept { ::Wow64DisableWow64FsRedirection(&previous_); }
    NativeFileSystem(const NativeFileSystem&) = delete;
    NativeFileSystem& operator=(const NativeFileSystem&) = delete;
    ~NativeFileSystem() { ::Wow64RevertWow64FsRedirection(previous_); }

  private:
    void* previous_ = nullptr;
};

bool UnderWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE;
}

// False only when the file is shown to be gone: a full path on a fixed local drive that holds no
// such file (".exe" added to a name without one, as process creation does), or a bare name found
// nowhere on the search path. A network drive that is away, a share or a relative path may
// still hold it.
bool FileMayBeThere(std::wstring path) {
    if (path.empty()) {
        return false;
    }
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
        const auto name = path.substr(path.rfind(L'\\') + 1);
        if (name.find(L'.') == std::wstring::npos) {
            path += L".exe";
        }
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return true;
        }
        return ::GetDriveTypeW(path.substr(0, 3).c_str()) != DRIVE_FIXED;
    }
    if (path.find_first_of(L"\\/:") != std::wstring::npos) {
        return true;
    }
    wchar_t found[MAX_PATH];
    if (::SearchPathW(nullptr, path.c_str(), L".exe", MAX_PATH, found, nullptr) > 0) {
        return true;
    }
    // The shell also finds a bare name through App Paths.
    const std::wstring appPath =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + path;
    return Registry(HKEY_LOCAL_MACHINE).Exists(L"", appPath) ||
           Registry(HKEY_CURRENT_USER).Exists(L"", appPath);
}

// Replaces every spelling of a variable, which Windows reads without case.
void ReplaceVariable(std::wstring& text, const std::wstring& from, const std::wstring& to) {
    for (std::size_t at = 0; at + from.size() <= text.size();) {
        if (SamePathText(text.substr(at, from.size()), from)) {
            text.replace(at, from.size(), to);
            at += to.size();
        } else {
            ++at;
        }
    }
}

} // namespace

bool ProgramMayBeThere(std::wstring command) {
    const bool wow64 = UnderWow64();
    if (wow64) {
        ReplaceVariable(command, L"%ProgramFiles%", L"%ProgramW6432%");
        ReplaceVariable(command, L"%CommonProgramFiles%", L"%CommonProgramW6432%");
    }
    std::wstring expanded(32768, L'\0');
    const DWORD length = ::ExpandEnvironmentStringsW(command.c_str(), expanded.data(),
                                                     static_cast<DWORD>(expanded.size()));
    expanded.resize(length > 0 && length <= expanded.size() ? length - 1 : 0);
    if (length == 0 || length > 32768) {
        expanded = command;
    }
    std::optional<NativeFileSystem> native;
    if (wow64) {
        native.emplace();
    }
    const auto candidates = ProgramCandidates(expanded);
    return candidates.empty() || std::any_of(candidates.begin(), candidates.end(), FileMayBeThere);
}

} // namespace record
