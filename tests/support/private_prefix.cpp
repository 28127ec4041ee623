#include "private_prefix.hpp"

#include <windows.h>

#include "shell_run.hpp"
#include "text.hpp"

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace {

void Check(LSTATUS status, const char* what) {
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error(std::string(what) + " failed with " + std::to_string(status));
    }
}

HKEY Root(Hive hive) {
    return hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

REGSAM View(Hive hive) {
    return hive == Hive::NativeMachine ? KEY_WOW64_64KEY : 0;
}

// An open registry key, closed on every path out.
class OpenKey {
  public:
    OpenKey(Hive hive, const std::wstring& key, REGSAM access, bool create = false)
        : status_(create
                      ? ::RegCreateKeyExW(Root(hive), key.c_str(), 0, nullptr, 0,
                                          access | View(hive), nullptr, &key_, nullptr)
                      : ::RegOpenKeyExW(Root(hive), key.c_str(), 0, access | View(hive), &key_)) {}
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey() {
        if (status_ == ERROR_SUCCESS) {
            ::RegCloseKey(key_);
        }
    }

    [[nodiscard]] LSTATUS status() const { return status_; }
    [[nodiscard]] HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr; // before status_: the call that sets status_ fills it in
    LSTATUS status_;
};

} // namespace

bool UnderWow64() {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) != FALSE && wow64 != FALSE;
}

void RequirePrivatePrefix() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr) {
        throw std::runtime_error("not running under Wine: refusing to write this registry");
    }
    const std::wstring prefix = Environment(L"WINEPREFIX");
    const auto marker = ReadMachineText(L"Software\\QuarrionTests", L"PrivatePrefix");
    if (prefix.empty() || !marker || *marker != prefix) {
        throw std::runtime_error(
            "not the tests' private Wine prefix: refusing to write its registry");
    }
}

std::optional<std::wstring> ReadText(Hive hive, const std::wstring& key, const std::wstring& name) {
    // An expandable string as it is kept, its variables not expanded.
    constexpr DWORD text = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    const OpenKey opened(hive, key, KEY_QUERY_VALUE);
    DWORD size = 0;
    if (opened.status() != ERROR_SUCCESS ||
        ::RegGetValueW(opened.get(), nullptr, name.c_str(), text, nullptr, nullptr, &size) !=
            ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::wstring value(size / sizeof(wchar_t), L'\0');
    if (::RegGetValueW(opened.get(), nullptr, name.c_str(), text, nullptr, value.data(), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    value.resize(size / sizeof(wchar_t) - 1);
    return value;
}

std::optional<unsigned long> ReadNumber(Hive hive, const std::wstring& key,
                                        const std::wstring& name) {
    const OpenKey opened(hive, key, KEY_QUERY_VALUE);
    DWORD number = 0;
    DWORD size = sizeof number;
    if (opened.status() != ERROR_SUCCESS ||
        ::RegGetValueW(opened.get(), nullptr, name.c_str(), RRF_RT_REG_DWORD, nullptr, &number,
                       &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return number;
}

std::set<std::wstring> Names(Hive hive, const std::wstring& key, bool values) {
    const OpenKey opened(hive, key, KEY_READ);
    std::set<std::wstring> names;
    for (DWORD i = 0; opened.status() == ERROR_SUCCESS; ++i) {
        wchar_t name[256] = {};
        DWORD length = 256;
        const LSTATUS status = values ? ::RegEnumValueW(opened.get(), i, name, &length, nullptr,
                                                        nullptr, nullptr, nullptr)
                                      : ::RegEnumKeyExW(opened.get(), i, name, &length, nullptr,
                                                        nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            break;
        }
        names.insert(name);
    }
    return names;
}

void AddTree(Hive hive, const std::wstring& key, std::map<std::wstring, std::wstring>& tree) {
    const OpenKey opened(hive, key, KEY_READ);
    if (opened.status() != ERROR_SUCCESS) {
        return;
    }
    std::wstring path = key;
    path += L"\\";
    tree[path] = L"(key)";
    for (const auto& name : Names(hive, key, true)) {
        DWORD type = 0;
        DWORD size = 0;
        ::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, nullptr, &size);
        std::vector<BYTE> data(size);
        ::RegQueryValueExW(opened.get(), name.c_str(), nullptr, &type, data.data(), &size);
        std::wstring text = std::to_wstring(type) + L":";
        for (const BYTE byte : data) {
            text += L"0123456789abcdef"[byte >> 4];
            text += L"0123456789abcdef"[byte & 0xF];
        }
        std::wstring where = path;
        where.append(L":").append(name);
        tree[where] = text;
    }
    for (const auto& subkey : Names(hive, key, false)) {
        AddTree(hive, path + subkey, tree);
    }
}

void SetValue(Hive hive, const std::wstring& key, const std::wstring& name, unsigned long type,
              const void* data, unsigned long size) {
    RequirePrivatePrefix();
    const OpenKey opened(hive, key, KEY_SET_VALUE, true);
    Check(opened.status(), "creating a registry key");
    Check(
        ::RegSetValueExW(opened.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
        "writing a registry value");
}

void SetText(Hive hive, const std::wstring& key, const std::wstring& name,
             const std::wstring& text) {
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    SetValue(hive, key, name, REG_SZ, text.c_str(), static_cast<DWORD>(bytes));
}

void RemoveMachineValue(const std::wstring& key, const std::wstring& name) {
    RequirePrivatePrefix();
    const LSTATUS status = ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str());
    if (status != ERROR_FILE_NOT_FOUND) {
        Check(status, "removing a registry value");
    }
}

void RemoveKey(Hive hive, const std::wstring& key) {
    RequirePrivatePrefix();
    {
        const OpenKey opened(hive, key, KEY_ALL_ACCESS);
        if (opened.status() == ERROR_FILE_NOT_FOUND) {
            return;
        }
        Check(opened.status(), "opening a registry key to remove");
        Check(::RegDeleteTreeW(opened.get(), nullptr), "removing a registry key's contents");
    }
    Check(::RegDeleteKeyExW(Root(hive), key.c_str(), View(hive), 0), "removing a registry key");
}

void InstallStandInGame(const std::wstring& programPath) {
    RequirePrivatePrefix();
    const std::filesystem::path program(programPath);
    std::filesystem::create_directories(program.parent_path());
    std::filesystem::copy_file(ProgramFolder() + L"stand_in_game.exe", program,
                               std::filesystem::copy_options::overwrite_existing);
}

void InstallBatchStandIn(const std::wstring& batchPath) {
    const std::filesystem::path batch(batchPath);
    InstallStandInGame((batch.parent_path() / L"quarrion.exe").wstring());
    std::ofstream(batch, std::ios::binary) << "@\"%~dp0quarrion.exe\" %*\r\n";
}
