// quarrion_record.exe: run by setup and its uninstaller. It keeps the record of what an install
// changed (uninstall.dat beside the program: the files it wrote with their SHA-256, the folders
// and registry keys it made, each shared registry value it set with what that value held
// before) and gives back, from that record, only what is still as the install left it.
//
//   quarrion_record.exe check <mode> <folder> <file>...        may setup install here?
//   quarrion_record.exe take <mode> <folder> <plan> <made folders|...> <file>...
//   quarrion_record.exe inspect <folder> <file>...             which copy is this uninstaller's?
//   quarrion_record.exe give-back <folder>                     the shared registry values
//   quarrion_record.exe finish <folder>                        the record, then the folders made
//
// <mode> is AllUsers (HKLM) or CurrentUser (HKCU). Exit status 0 when done; otherwise a Windows
// error number, with the reason (or, for 145, the name in the way) on standard output.

#include "files.hpp"
#include "record.hpp"
#include "registry.hpp"
#include "../windows/text.hpp"

#include <windows.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using record::Failure;
using record::Record;
using record::Registry;
using record::ValueChange;
using record::ValueState;

constexpr int exitCannotWrite = 82;   // ERROR_CANNOT_MAKE
constexpr int exitNotOurs = 145;      // ERROR_DIR_NOT_EMPTY: a link where our files go
constexpr int exitOtherMode = 183;    // ERROR_ALREADY_EXISTS: the other mode's copy is here
constexpr int exitUnknownCopy = 1605; // ERROR_UNKNOWN_PRODUCT: no installed copy here

const std::wstring recordName = L"uninstall.dat";
const std::wstring appsEntryKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" QUARRION_ID;
const std::wstring schemeKey = L"Software\\Classes\\quarrion";
const std::wstring commandKey = schemeKey + L"\\shell\\open\\command";
// The only places setup shares with other programs, so the only ones a record may name.
const std::wstring sharedPlaces[] = {schemeKey,
                                     L"Software\\Classes\\Applications\\quarrion_shell.exe",
                                     L"Software\\RegisteredApplications"};

HKEY HiveOf(const std::wstring& mode) {
    if (mode == L"AllUsers") {
        return HKEY_LOCAL_MACHINE;
    }
    if (mode == L"CurrentUser") {
        return HKEY_CURRENT_USER;
    }
    throw Failure("unknown install mode " + Utf8(mode));
}

// A text value's text, without its terminating nulls; empty for anything else.
std::wstring TextOf(const ValueState& state) {
    if (!state.present || (state.type != REG_SZ && state.type != REG_EXPAND_SZ)) {
        return {};
    }
    std::wstring text(state.data.size() / 2, L'\0');
    std::copy_n(state.data.begin(), text.size() * 2, reinterpret_cast<std::uint8_t*>(text.data()));
    return text.substr(0, text.find(L'\0'));
}

std::wstring PathIn(const std::wstring& folder, const std::wstring& name) {
    std::wstring path = folder;
    path.append(L"\\").append(name);
    return path;
}

bool InScheme(const std::wstring& key) {
    return key == schemeKey || key.starts_with(schemeKey + L"\\");
}

std::optional<Record> RecordIn(const std::wstring& folder) {
    if (record::IsLinkIn(folder, recordName)) {
        return std::nullopt;
    }
    const auto bytes = record::ReadWhole(PathIn(folder, recordName));
    if (!bytes) {
        return std::nullopt;
    }
    auto found = record::ParseRecord(Wide(*bytes));
    // An edited record that names another place would have us remove or write there.
    const auto inside = [](const std::wstring& key) {
        return std::any_of(std::begin(sharedPlaces), std::end(sharedPlaces),
                           [&key](const std::wstring& place) {
                               return key == place || key.starts_with(place + L"\\");
                           });
    };
    const auto onTheWay = [](const std::wstring& key) {
        return std::any_of(
            std::begin(sharedPlaces), std::end(sharedPlaces),
            [&key](const std::wstring& place) { return place.starts_with(key + L"\\"); });
    };
    if (!std::all_of(found.values.begin(), found.values.end(),
                     [&](const ValueChange& value) { return inside(value.key); }) ||
        !std::all_of(found.keys.begin(), found.keys.end(), [&](const record::CreatedKey& key) {
            return inside(key.key) || onTheWay(key.key);
        })) {
        throw Failure("the record names a registry key outside the places setup shares");
    }
    return found;
}

std::wstring InstallLocation(const std::wstring& mode) {
    return TextOf(Registry(HiveOf(mode)).Read(L"", appsEntryKey, L"InstallLocation"));
}

std::wstring VersionText(const std::wstring& file, const wchar_t* key) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<std::uint8_t> block(size);
    void* text = nullptr;
    UINT length = 0;
    if (size == 0 || ::GetFileVersionInfoW(file.c_str(), 0, size, block.data()) == FALSE ||
        ::VerQueryValueW(block.data(),
                         (std::wstring(L"\\StringFileInfo\\040904b0\\") + key).c_str(), &text,
                         &length) == FALSE ||
        length == 0) {
        return {};
    }
    return std::wstring(static_cast<const wchar_t*>(text)).substr(0, length);
}

// Whether the command starts a copy of this program, by the identity its version block carries.
bool StartsACopyOfOurs(const std::wstring& command) {
    const auto candidates = record::ProgramCandidates(command);
    return std::any_of(candidates.begin(), candidates.end(), [](const std::wstring& program) {
        return VersionText(program, L"CompanyName") == QUARRION_COMPANY &&
               VersionText(program, L"InternalName") == L"quarrion_shell";
    });
}

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
        if (record::SamePathText(text.substr(at, from.size()), from)) {
            text.replace(at, from.size(), to);
            at += to.size();
        } else {
            ++at;
        }
    }
}

// Whether the program a command starts may still be there, read as Windows runs it: variables
// as a 64-bit program expands them, System32 unredirected, each blank-cut beginning tried.
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
    const auto candidates = record::ProgramCandidates(expanded);
    return candidates.empty() || std::any_of(candidates.begin(), candidates.end(), FileMayBeThere);
}

const ValueChange* Find(const std::vector<ValueChange>& values, const ValueChange& like) {
    const auto found = std::find_if(values.begin(), values.end(), [&like](const auto& value) {
        return value.view == like.view && value.key == like.key && value.name == like.name;
    });
    return found == values.end() ? nullptr : &*found;
}

// The one test before anything is given back or removed: is it still as the install left it?
bool StillOurs(const Registry& registry, const ValueChange& value) {
    return registry.Read(value.view, value.key, value.name) == value.ours;
}
bool StillOurs(const std::wstring& folder, const record::FileHash& file) {
    return !file.sha256.empty() && !record::IsLinkIn(folder, file.name) &&
           record::Sha256Of(PathIn(folder, file.name)) == file.sha256;
}

// Puts back what a value held before, when it is still ours.
void GiveBack(const Registry& registry, const ValueChange& value) {
    if (StillOurs(registry, value)) {
        registry.Write(value.view, value.key, value.name, value.previous);
    }
}

// A record that setup can build on; a damaged one is as good as none, here and in Check.
std::optional<Record> UsableRecordIn(const std::wstring& folder) {
    try {
        return RecordIn(folder);
    } catch (const Failure&) {
        return std::nullopt;
    }
}

int Check(const std::wstring& mode, const std::wstring& folder,
          const std::vector<std::wstring>& files) {
    const std::wstring other = mode == L"AllUsers" ? L"CurrentUser" : L"AllUsers";
    HiveOf(mode); // a mode this program knows
    const auto existing = UsableRecordIn(folder);
    if ((existing && existing->mode != mode) ||
        record::SameIdentity(folder, InstallLocation(other))) {
        return exitOtherMode;
    }
    if (record::IsLinkedFolder(folder)) {
        std::cout << Utf8(folder);
        return exitNotOurs;
    }
    std::vector<std::wstring> names = files;
    names.push_back(recordName);
    // A hard link too: writing our file would change the file of the other name.
    const auto linked = std::find_if(names.begin(), names.end(), [&folder](const auto& name) {
        return record::IsLinkIn(folder, name) || record::HasOtherNames(PathIn(folder, name));
    });
    if (linked != names.end()) {
        std::cout << Utf8(*linked);
        return exitNotOurs;
    }
    return 0;
}

ValueState KeptText(const std::wstring& text) {
    ValueState state = record::TextValue(text);
    std::wstring expanded(32768, L'\0');
    const DWORD length = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(),
                                                     static_cast<DWORD>(expanded.size()));
    if (length > 0 && length <= expanded.size() && expanded.substr(0, length - 1) != text) {
        state.type = REG_EXPAND_SZ; // it held variables, so it was an expandable string
    }
    return state;
}

// What a scheme value held before an earlier version of this program took the scheme over: that
// version kept the other program's command, name and icon under our company's key.
std::optional<ValueState> KeptByAnEarlierVersion(const Registry& registry,
                                                 const ValueChange& change) {
    const std::wstring kept =
        L"Software\\" QUARRION_COMPANY L"\\" QUARRION_FOLDER L"\\PreviousHandler";
    const auto command = TextOf(registry.Read(L"", kept, L"Command"));
    if (command.empty()) {
        return std::nullopt;
    }
    if (change.key == commandKey && change.name.empty()) {
        return KeptText(command);
    }
    if (change.key == schemeKey && change.name.empty()) {
        return record::TextValue(TextOf(registry.Read(L"", kept, L"Name")));
    }
    if (change.key == schemeKey && change.name == L"URL Protocol") {
        return record::TextValue(L"");
    }
    if (change.key == schemeKey + L"\\DefaultIcon" && change.name.empty()) {
        const auto icon = TextOf(registry.Read(L"", kept, L"Icon"));
        return icon.empty() ? ValueState{} : KeptText(icon);
    }
    return ValueState{};
}

int Take(const std::wstring& mode, const std::wstring& folder, const std::wstring& planFile,
         const std::wstring& madeFolders, const std::vector<std::wstring>& files) {
    const Registry registry(HiveOf(mode));
    const auto planBytes = record::ReadWhole(planFile);
    if (!planBytes) {
        throw Failure("cannot read setup's plan");
    }
    std::wstring planText(planBytes->size() / 2, L'\0');
    std::copy_n(planBytes->begin(), planText.size() * 2, reinterpret_cast<char*>(planText.data()));
    auto plan = record::ParsePlan(planText);

    Record taken;
    taken.mode = mode;
    // An upgrade in place keeps the folders its first install made.
    const auto here = UsableRecordIn(folder);
    if (here) {
        taken.folders = here->folders;
    } else {
        std::size_t start = 0;
        for (auto end = madeFolders.find(L'|'); end != std::wstring::npos;
             end = madeFolders.find(L'|', start)) {
            const auto path = madeFolders.substr(start, end - start);
            taken.folders.push_back({path, record::Identity(path)});
            start = end + 1;
        }
    }
    // The registration this install takes over from a copy of ours carries what that copy found:
    // this folder's copy, or the mode's installed one elsewhere, which this install moves here.
    auto earlier = here;
    if (!earlier) {
        const auto installed = InstallLocation(mode);
        if (!installed.empty() && !record::SameIdentity(installed, folder)) {
            earlier = UsableRecordIn(installed);
        }
    }
    if (earlier && earlier->mode != mode) {
        earlier.reset();
    }
    if (earlier) {
        taken.keys = earlier->keys;
    }
    std::vector<record::CreatedKey> createdNow;
    const auto created = [&taken, &createdNow](const std::wstring& view, const std::wstring& key,
                                               bool now) {
        const record::CreatedKey made{view, key};
        if (std::find(taken.keys.begin(), taken.keys.end(), made) == taken.keys.end()) {
            taken.keys.push_back(made);
        }
        if (now) {
            createdNow.push_back(made);
        }
    };
    // The scheme is one registration, carried over while its command is still the one that
    // copy wrote. A scheme that starts another copy of ours (by its version block, not its
    // name) was never another program's, unless an earlier version kept one it took over.
    const ValueChange commandLike{L"", commandKey, L"", {}, {}};
    const ValueState currentCommand = registry.Read(L"", commandKey, L"");
    const ValueChange* priorCommand = earlier ? Find(earlier->values, commandLike) : nullptr;
    const bool schemeCarried = priorCommand != nullptr && currentCommand == priorCommand->ours;
    const bool schemeWasOurs = !schemeCarried && StartsACopyOfOurs(TextOf(currentCommand));

    std::vector<std::pair<ValueChange, ValueState>> applied;
    try {
        for (auto& change : plan) {
            const ValueState current = registry.Read(change.view, change.key, change.name);
            const ValueChange* prior = earlier ? Find(earlier->values, change) : nullptr;
            const bool inScheme = InScheme(change.key);
            const bool carried =
                prior != nullptr && (inScheme ? schemeCarried : current == prior->ours);
            std::optional<ValueState> kept;
            if (!carried && inScheme && schemeWasOurs) {
                kept = KeptByAnEarlierVersion(registry, change);
            }
            // Outside the scheme, only another copy of ours writes exactly our product's value.
            const bool oursAlready = !carried && !inScheme && current == change.ours;
            if (carried) {
                change.previous = prior->previous;
            } else if (inScheme && schemeWasOurs) {
                change.previous = kept.value_or(ValueState{});
            } else {
                change.previous = oursAlready ? ValueState{} : current;
            }
            for (const auto& key : record::KeysOnThePath(change.key)) {
                if (!registry.Exists(change.view, key)) {
                    created(change.view, key, true);
                } else if (!carried && inScheme && schemeWasOurs && !kept) {
                    created(change.view, key, false);
                }
            }
            if (oursAlready && registry.HoldsOnly(change.view, change.key, change.name)) {
                created(change.view, change.key, false);
            }
            applied.emplace_back(change, current);
            registry.Write(change.view, change.key, change.name, change.ours);
        }
        if (earlier) {
            for (const auto& value : earlier->values) {
                if (Find(plan, value) == nullptr) {
                    GiveBack(registry, value);
                }
            }
        }
        taken.values = plan;
        for (const auto& name : files) {
            const auto hash = record::Sha256Of(PathIn(folder, name));
            if (hash.empty()) {
                throw Failure("cannot read " + Utf8(PathIn(folder, name)));
            }
            taken.files.push_back({name, hash});
        }
        record::WriteWhole(PathIn(folder, recordName), Utf8(record::FormatRecord(taken)));
    } catch (const std::exception&) {
        // Back as found, as far as it goes: each value on its own.
        for (const auto& [change, before] : std::vector(applied.rbegin(), applied.rend())) {
            try {
                registry.Write(change.view, change.key, change.name, before);
            } catch (const Failure&) {
                continue;
            }
        }
        for (const auto& key : std::vector(createdNow.rbegin(), createdNow.rend())) {
            registry.RemoveIfEmpty(key.view, key.key);
        }
        throw;
    }
    return 0;
}

int Inspect(const std::wstring& folder, const std::vector<std::wstring>& files) {
    std::optional<Record> found;
    try {
        found = RecordIn(folder);
    } catch (const Failure& failure) {
        std::cout << failure.what();
        return exitUnknownCopy;
    }
    if (!found) {
        std::cout << "no record of an install";
        return exitUnknownCopy;
    }
    const bool registered = record::SameIdentity(folder, InstallLocation(found->mode));
    std::cout << Utf8(found->mode) << (registered ? "|registered|" : "|left|");
    for (const auto& name : files) {
        const auto file = std::find_if(found->files.begin(), found->files.end(),
                                       [&name](const auto& kept) { return kept.name == name; });
        if (file != found->files.end() && StillOurs(folder, *file)) {
            std::cout << Utf8(name) << "|";
        }
    }
    return 0;
}

// The program the scheme's previous registration ran: the command of its default verb.
std::optional<std::wstring> PreviousCommand(const Registry& registry, const Record& taken) {
    const ValueChange verbLike{L"", schemeKey + L"\\shell", L"", {}, {}};
    const ValueChange commandLike{L"", commandKey, L"", {}, {}};
    const ValueChange* verb = Find(taken.values, verbLike);
    const std::wstring verbName = verb ? TextOf(verb->previous) : L"";
    ValueState command;
    if (!verbName.empty() && !record::SamePathText(verbName, L"open")) {
        // Another verb's key, which the install never touched.
        command = registry.Read(L"", schemeKey + L"\\shell\\" + verbName + L"\\command", L"");
    } else if (const ValueChange* open = Find(taken.values, commandLike)) {
        command = open->previous;
    }
    if (!command.present || TextOf(command).empty()) {
        return std::nullopt;
    }
    return TextOf(command);
}

int GiveBackAll(const std::wstring& folder) {
    const auto taken = RecordIn(folder);
    if (!taken) {
        throw Failure("no record of an install in " + Utf8(folder));
    }
    const Registry registry(HiveOf(taken->mode));
    const ValueChange commandLike{L"", commandKey, L"", {}, {}};
    const ValueChange* command = Find(taken->values, commandLike);
    // The scheme is one registration: another program that took it over since keeps all of it.
    bool schemeOurs = command != nullptr && StillOurs(registry, *command);
    if (schemeOurs) {
        const auto previous = PreviousCommand(registry, *taken);
        if (previous && !ProgramMayBeThere(*previous)) {
            registry.RemoveTree(L"", schemeKey);
            schemeOurs = false;
        }
    }
    // Last set, first given back; a value that cannot be does not stop the others.
    std::string failed;
    for (std::size_t left = taken->values.size(); left > 0; --left) {
        const auto& value = taken->values[left - 1];
        try {
            if (schemeOurs || !InScheme(value.key)) {
                GiveBack(registry, value);
            }
        } catch (const Failure& failure) {
            failed += std::string(failed.empty() ? "" : "; ") + failure.what();
        }
    }
    for (std::size_t left = taken->keys.size(); left > 0; --left) {
        const auto& key = taken->keys[left - 1];
        if (schemeOurs || !InScheme(key.key)) {
            registry.RemoveIfEmpty(key.view, key.key);
        }
    }
    if (!failed.empty()) {
        std::cout << failed;
        return exitCannotWrite;
    }
    return 0;
}

int Finish(const std::wstring& folder) {
    const auto taken = RecordIn(folder);
    if (!taken) {
        return 0;
    }
    const auto own = record::Identity(folder);
    ::DeleteFileW(PathIn(folder, recordName).c_str());
    // Only folders this install made, still the same ones: this one and those above it.
    for (const auto& made : taken->folders) {
        const auto identity = record::Identity(made.path);
        // A drive's root ends in a separator of its own.
        const bool thisOrAbove = !identity.empty() &&
                                 record::SamePathText(own.substr(0, identity.size()), identity) &&
                                 (own.size() == identity.size() || identity.back() == L'\\' ||
                                  own[identity.size()] == L'\\');
        if (!identity.empty() && record::SamePathText(identity, made.identity) && thisOrAbove) {
            ::RemoveDirectoryW(made.path.c_str()); // one that is not empty stays
        }
    }
    return 0;
}

int Run(const std::vector<std::wstring>& arguments) {
    const auto& command = arguments.at(0);
    const auto rest = [&arguments](std::size_t from) {
        return std::vector<std::wstring>(arguments.begin() + static_cast<std::ptrdiff_t>(from),
                                         arguments.end());
    };
    if (command == L"check" && arguments.size() >= 3) {
        return Check(arguments[1], arguments[2], rest(3));
    }
    if (command == L"take" && arguments.size() >= 5) {
        return Take(arguments[1], arguments[2], arguments[3], arguments[4], rest(5));
    }
    if (command == L"inspect" && arguments.size() >= 2) {
        return Inspect(arguments[1], rest(2));
    }
    if (command == L"give-back" && arguments.size() == 2) {
        return GiveBackAll(arguments[1]);
    }
    if (command == L"finish" && arguments.size() == 2) {
        return Finish(arguments[1]);
    }
    throw Failure("usage: quarrion_record.exe check|take|inspect|give-back|finish ...");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return Run(std::vector<std::wstring>(argv + 1, argv + argc));
    } catch (const std::exception& failure) {
        std::cout << failure.what();
        return exitCannotWrite;
    }
}
