#include "files.hpp"

#include "record.hpp"
#include "steps.hpp"
#include "../windows/owners.hpp"
#include "../windows/sha256.hpp"
#include "../windows/text.hpp"

#include <windows.h>

#include <cwchar>
#include <iterator>
#include <vector>

namespace record {

namespace {

UniqueHandle OpenForIdentity(const std::wstring& path) {
    // No access asked for: a file in use, or one denied to us, can still be named.
    return UniqueHandle(::CreateFileW(path.c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

} // namespace

std::wstring Identity(const std::wstring& path) {
    const UniqueHandle opened = OpenForIdentity(path);
    if (!opened) {
        return {};
    }
    std::wstring final(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            opened.get(), final.data(), static_cast<DWORD>(final.size()), VOLUME_NAME_DOS);
        if (length == 0) {
            return {};
        }
        if (length < final.size()) {
            final.resize(length);
            return final;
        }
        final.resize(length);
    }
}

std::wstring FileIdOf(const std::wstring& path) {
    const UniqueHandle opened = OpenForIdentity(path);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!opened || ::GetFileInformationByHandle(opened.get(), &information) == FALSE) {
        return {};
    }
    wchar_t id[32] = {};
    std::swprintf(id, std::size(id), L"%08lx-%08lx%08lx", information.dwVolumeSerialNumber,
                  information.nFileIndexHigh, information.nFileIndexLow);
    return id;
}

bool HasFileId(const std::wstring& path, const std::wstring& id) {
    const auto own = FileIdOf(path);
    if (own.empty() || id.empty()) {
        return false;
    }
    static const bool underWine =
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    const auto index = [](const std::wstring& one) { return one.substr(one.find(L'-') + 1); };
    return own == id || (underWine && index(own) == index(id));
}

bool SamePathText(const std::wstring& first, const std::wstring& second) {
    return ::CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                                  static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

bool SameIdentity(const std::wstring& first, const std::wstring& second) {
    const auto one = Identity(first);
    return !one.empty() && SamePathText(one, Identity(second));
}

bool IsLinkedFolder(const std::wstring& folder) {
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool IsLinkIn(const std::wstring& folder, const std::wstring& name) {
    const std::wstring path = folder + L"\\" + name;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false; // nothing there
    }
    ::FindClose(search);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return true;
    }
    // Wine shows a Linux symbolic link as the file it leads to, or, leading nowhere, as a name
    // that cannot be opened; its final path is where it leads.
    const auto identity = Identity(path);
    return identity.empty() || !SamePathText(identity, Identity(folder) + L"\\" + found.cFileName);
}

bool HasOtherNames(const std::wstring& path) {
    const UniqueHandle opened = OpenForIdentity(path);
    BY_HANDLE_FILE_INFORMATION information{};
    return opened && ::GetFileInformationByHandle(opened.get(), &information) != FALSE &&
           !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           information.nNumberOfLinks > 1;
}

bool CanBeRemoved(const std::wstring& path) {
    return static_cast<bool>(
        UniqueHandle(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr)));
}

std::wstring Sha256Of(const std::wstring& path) {
    const auto bytes = ReadWhole(path);
    const auto hash = bytes ? Sha256(*bytes) : std::nullopt;
    return hash ? Wide(*hash) : std::wstring();
}

std::optional<std::string> ReadWhole(const std::wstring& path) {
    // Readable while the program runs, or another program has the file open.
    const UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) != FALSE) {
        if (read == 0) {
            return bytes;
        }
        bytes.append(buffer, read);
    }
    return std::nullopt;
}

std::wstring TemporaryOf(const std::wstring& path) {
    return path + L".new";
}

void WriteWhole(const std::wstring& path, const std::string& bytes, const std::wstring& step) {
    const std::wstring temporary = TemporaryOf(path);
    {
        const UniqueHandle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            Changed(step + L" temporary made");
        }
        DWORD written = 0;
        if (!file ||
            ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                        nullptr) == FALSE ||
            written != bytes.size() || ::FlushFileBuffers(file.get()) == FALSE) {
            ::DeleteFileW(temporary.c_str());
            throw Failure("cannot write " + Utf8(temporary));
        }
    }
    Changed(step + L" temporary written");
    if (::MoveFileExW(temporary.c_str(), path.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        ::DeleteFileW(temporary.c_str());
        throw Failure("cannot write " + Utf8(path));
    }
}

} // namespace record
