// quarrion_desktop.exe: run by setup and its uninstaller when they run under Wine. It registers
// the installed quarrion_shell.exe with the Linux desktop of the user who runs it, so that links
// opened in Linux programs (browsers, chat) start it in this prefix with this Wine, or removes
// that registration again.
//
//   quarrion_desktop.exe register <mode> <install folder> <icon.png>
//   quarrion_desktop.exe unregister <mode> <install folder> [<icon.png>, not used]
//
// Exit status 0 when done; otherwise 1, with the reason on standard output for setup to show.

#include "desktop_files.hpp"
#include "../launcher/win_owners.hpp" // by path: CMake mangles a -I holding $ in its build path

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class Failure : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string Utf8(std::wstring_view text) {
    const int size = static_cast<int>(text.size());
    std::string converted(static_cast<std::size_t>(size) * 3, '\0');
    converted.resize(static_cast<std::size_t>(::WideCharToMultiByte(
        CP_UTF8, 0, text.data(), size, converted.data(), size * 3, nullptr, nullptr)));
    return converted;
}

std::wstring Environment(const wchar_t* name) {
    std::wstring value(32767, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
    return value;
}

// Text that Wine allocated on the process heap for its caller.
struct HeapFreer {
    void operator()(void* memory) const noexcept { ::HeapFree(::GetProcessHeap(), 0, memory); }
};

// Wine's own conversions between the names Windows programs see and Unix paths.
class Wine {
  public:
    Wine() {
        const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        toUnix_ = reinterpret_cast<ToUnix>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_unix_file_name")));
        toDos_ = reinterpret_cast<ToDos>(
            reinterpret_cast<void*>(::GetProcAddress(kernel, "wine_get_dos_file_name")));
        if (toUnix_ == nullptr || toDos_ == nullptr) {
            throw Failure("this is not Wine");
        }
    }

    [[nodiscard]] std::string UnixPath(const std::wstring& name) const {
        const std::unique_ptr<char, HeapFreer> path(toUnix_(name.c_str()));
        if (!path) {
            throw Failure("no Unix path for " + Utf8(name));
        }
        return path.get();
    }

    [[nodiscard]] fs::path DosPath(const std::string& path) const {
        const std::unique_ptr<wchar_t, HeapFreer> name(toDos_(path.c_str()));
        if (!name) {
            throw Failure("no Windows name for " + path);
        }
        return std::wstring(name.get());
    }

  private:
    using ToUnix = char*(__cdecl*)(const wchar_t*);
    using ToDos = wchar_t*(__cdecl*)(const char*);
    ToUnix toUnix_ = nullptr;
    ToDos toDos_ = nullptr;
};

// Where things are on the Linux side, as Wine passed them to this program.
struct LinuxSide {
    std::string prefix;     // WINEPREFIX
    std::string loader;     // the Wine that runs this program (Lutris' or Proton's included)
    std::string dataHome;   // XDG_DATA_HOME, by default ~/.local/share
    std::string configHome; // XDG_CONFIG_HOME, by default ~/.config

    explicit LinuxSide(const Wine& wine) {
        // Wine gives its own folders as \??\Z:\... names; a default prefix has no WINEPREFIX.
        const auto unixOf = [&wine](std::wstring name) {
            if (name.starts_with(L"\\??\\")) {
                name.erase(0, 4);
            }
            return name.empty() ? std::string() : wine.UnixPath(name);
        };
        prefix = Utf8(Environment(L"WINEPREFIX"));
        if (prefix.empty()) {
            prefix = unixOf(Environment(L"WINECONFIGDIR"));
        }
        loader = Utf8(Environment(L"WINELOADER"));
        const std::string home = unixOf(Environment(L"WINEHOMEDIR"));
        dataHome = Utf8(Environment(L"XDG_DATA_HOME"));
        configHome = Utf8(Environment(L"XDG_CONFIG_HOME"));
        // Desktops ignore a relative one, and so does this.
        if (!dataHome.starts_with('/')) {
            dataHome = home + "/.local/share";
        }
        if (!configHome.starts_with('/')) {
            configHome = home + "/.config";
        }
        if (!prefix.starts_with('/') || !loader.starts_with('/') || !home.starts_with('/')) {
            throw Failure("Wine did not say where its prefix, its loader or the home folder is");
        }
        while (prefix.size() > 1 && prefix.ends_with('/')) {
            prefix.pop_back();
        }
    }
};

// One argument of a Windows command line, read back whole by Wine for a Unix program.
std::wstring Quoted(const std::string& argument) {
    std::wstring wide(argument.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, argument.data(), static_cast<int>(argument.size()),
                              wide.data(), static_cast<int>(wide.size()))));
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t unit : wide) {
        if (unit == L'\\') {
            ++backslashes;
        } else {
            quoted.append(unit == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
            backslashes = 0;
        }
        quoted += unit;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// Starts a Linux program, no shell in between. Wine reports neither its end nor its exit
// status, so callers look for its effect.
void RunLinuxProgram(const std::vector<std::string>& arguments) {
    std::wstring line;
    for (const auto& argument : arguments) {
        line += (line.empty() ? L"" : L" ") + Quoted(argument);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    UniqueProcessInformation process;
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, process.put()) == FALSE) {
        throw Failure("cannot run " + arguments.front());
    }
}

template <class Done> void WaitFor(Done done, const std::string& what) {
    for (int tries = 0; tries < 1000; ++tries) {
        if (done()) {
            return;
        }
        ::Sleep(10);
    }
    throw Failure("timed out: " + what);
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        throw Failure("cannot write " + path.string());
    }
}

class Registration {
  public:
    Registration(const std::wstring& mode, std::wstring installFolder)
        : side_(wine_), installFolder_(std::move(installFolder)),
          id_(desktop::EntryId(side_.prefix, Utf8(mode))),
          own_(side_.dataHome + "/quarrion-shell/" + id_), icon_(own_ + "/quarrion-shell.png"),
          entry_(side_.dataHome + "/applications/" + id_ + ".desktop") {}

    void Add(const fs::path& icon) {
        for (const auto& folder : {own_, side_.dataHome + "/applications", side_.configHome}) {
            fs::create_directories(wine_.DosPath(folder));
        }
        const fs::path ownIcon = wine_.DosPath(icon_);
        fs::remove(ownIcon); // mingw's copy_file does not overwrite
        fs::copy_file(icon, ownIcon);
        // Exec is split at blanks by xdg-open without a desktop environment, and quotes stay
        // as text there, so every path in it is a link here, named without blanks.
        const std::string program = wine_.UnixPath(installFolder_ + L"\\quarrion_shell.exe");
        const auto links = Links();
        for (const auto& [target, link] :
             {std::pair{side_.prefix, links.prefix}, std::pair{side_.loader, links.wine},
              std::pair{program, links.program}}) {
            RunLinuxProgram({"/bin/ln", "-sfn", "--", target, link});
        }
        WaitFor([&] { return links.Existing(wine_) == 3; }, "making the links in " + own_);
        const std::vector<std::string> command{"env", "WINEPREFIX=" + links.prefix, links.wine,
                                               links.program};
        WriteFile(wine_.DosPath(entry_),
                  desktop::EntryText(
                      {"Quarrion Shell Interface",
                       "Opens quarrion:// links with the game in the Wine prefix " + side_.prefix,
                       icon_, command}));
        const fs::path mimeapps = wine_.DosPath(side_.configHome + "/mimeapps.list");
        WriteFile(mimeapps, desktop::WithDefaultHandler(ReadFile(mimeapps), id_ + ".desktop"));
        UpdateDatabase();
    }

    void Remove() {
        fs::remove(wine_.DosPath(entry_));
        const fs::path mimeapps = wine_.DosPath(side_.configHome + "/mimeapps.list");
        if (fs::exists(mimeapps)) {
            const std::string text = ReadFile(mimeapps);
            const std::string kept = desktop::WithoutDefaultHandler(text, id_ + ".desktop");
            if (kept != text) {
                WriteFile(mimeapps, kept);
            }
        }
        const auto links = Links();
        RunLinuxProgram({"/bin/rm", "-f", "--", links.prefix, links.wine, links.program});
        // A link whose target is gone reads as absent already; the folder then tells.
        WaitFor([&] { return links.Existing(wine_) == 0; }, "removing the links in " + own_);
        fs::remove(wine_.DosPath(icon_));
        for (const auto& folder : {own_, side_.dataHome + "/quarrion-shell"}) {
            std::error_code notEmpty;
            fs::remove(wine_.DosPath(folder), notEmpty);
        }
        UpdateDatabase();
    }

  private:
    // The links in this copy's folder that Exec names.
    struct OwnLinks {
        std::string prefix;
        std::string wine;
        std::string program;

        // How many of them lead to something that exists.
        [[nodiscard]] long Existing(const Wine& names) const {
            const std::array<const std::string*, 3> all{&prefix, &wine, &program};
            return std::count_if(all.begin(), all.end(), [&names](const std::string* link) {
                return fs::exists(names.DosPath(*link));
            });
        }
    };

    [[nodiscard]] OwnLinks Links() const {
        return {own_ + "/prefix", own_ + "/wine", own_ + "/quarrion_shell.exe"};
    }

    // The desktop's cache of MIME types, where the tool to refresh it is installed.
    void UpdateDatabase() const {
        const std::string tool = "/usr/bin/update-desktop-database";
        if (fs::exists(wine_.DosPath(tool))) {
            RunLinuxProgram({tool, "-q", side_.dataHome + "/applications"});
        }
    }

    Wine wine_;
    LinuxSide side_;
    std::wstring installFolder_;
    std::string id_;
    std::string own_;   // this copy's folder: the links in Exec and the icon
    std::string icon_;  // the icon's copy there
    std::string entry_; // the desktop entry
};

int Run(const std::vector<std::wstring>& arguments) {
    if (arguments.size() == 5 && arguments[1] == L"register") {
        Registration(arguments[2], arguments[3]).Add(arguments[4]);
    } else if ((arguments.size() == 4 || arguments.size() == 5) && arguments[1] == L"unregister") {
        Registration(arguments[2], arguments[3]).Remove();
    } else {
        throw Failure("usage: quarrion_desktop.exe register|unregister <mode> <folder> [<icon>]");
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return Run({argv, argv + argc});
    } catch (const std::exception& failure) {
        std::cout << failure.what() << std::endl;
        return 1;
    }
}
