// quarrion_desktop.exe: run by setup and its uninstaller when they run under Wine. It registers
// the installed quarrion_shell.exe with the Linux desktop of the user who runs it, so that links
// opened in Linux programs (browsers, chat) start it in this prefix with this Wine, or removes
// that registration again.
//
//   quarrion_desktop.exe register <mode> <install folder> <icon.png>
//   quarrion_desktop.exe unregister <mode> <install folder> [<id that register printed>]
//
// Exit status 0 when done, and register prints the registration's id for setup to keep on its
// first line; then, as unregister does, a line for each thing the player should know, and last
// "quarrion_desktop: finished". Otherwise 1, with the reason on standard output for setup to show.
// It changes only what it made and what is still as it made it, never writes or deletes through a
// symbolic link, waits for another registrar in the same home, and a registration that fails midway
// is taken back.

#include "desktop_files.hpp"
#include "linux_files.hpp"
#include "../windows/sha256.hpp"
#include "../windows/text.hpp"

#include <windows.h>

#include <algorithm>
#include <array>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using desktop::Failure;
using desktop::FolderOf;
using desktop::Kind;
using desktop::LinuxFiles;

constexpr std::string_view product = QUARRION_PRODUCT; // from CMakeLists.txt

// Where things are on the Linux side, as Wine passed them to this program, with symbolic links
// resolved: one prefix is one registration however its path is spelt.
struct LinuxSide {
    std::string prefix;     // WINEPREFIX
    std::string loader;     // the Wine that runs this program (Lutris' or Proton's included)
    std::string dataHome;   // XDG_DATA_HOME, by default ~/.local/share
    std::string configHome; // XDG_CONFIG_HOME, by default ~/.config
    std::string given;      // the prefix as Wine was given it
    std::wstring config;    // the prefix this program runs in, as Wine names it

    // A folder holding a Wine prefix, which Windows programs reach as itself: one named like a
    // device (nul, aux.wine) they reach as that device, so that every spelling of such a prefix
    // would be one registration, and none would work.
    void RequireUsablePrefix(const LinuxFiles& files) const {
        for (const auto* path : {&given, &prefix}) {
            const std::string name = path->substr(path->find_last_of('/') + 1);
            if (const auto why = desktop::UnusableInWindows(name); !why.empty()) {
                throw Failure("the Wine prefix " + *path +
                              " cannot be used by Windows programs: its folder's name " + why +
                              "; rename the folder");
            }
        }
        const std::string registry = prefix + "/system.reg";
        if (files.KindOf(prefix) == Kind::absent) {
            throw Failure("the Wine prefix " + given + " is not there");
        }
        // The one this program runs in is, though Wine writes system.reg to disk only later in
        // a prefix that the command running setup created.
        const bool running = !config.empty() && files.Resolved(files.UnixPath(config)) == prefix;
        if (!files.IsFolder(prefix) ||
            (!running && (files.KindOf(registry) == Kind::absent || files.IsFolder(registry)))) {
            throw Failure(prefix + " is not a Wine prefix: it is not a folder holding system.reg");
        }
    }

    explicit LinuxSide(const LinuxFiles& files) {
        // Wine gives its own folders as \??\Z:\... names; a default prefix has no WINEPREFIX.
        const auto unixOf = [&files](std::wstring name) {
            if (name.starts_with(L"\\??\\")) {
                name.erase(0, 4);
            }
            return name.empty() ? std::string() : files.UnixPath(name);
        };
        config = Environment(L"WINECONFIGDIR");
        if (config.starts_with(L"\\??\\")) {
            config.erase(0, 4);
        }
        prefix = Utf8(Environment(L"WINEPREFIX"));
        if (prefix.empty()) {
            prefix = unixOf(config);
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
        for (const auto* path : {&prefix, &dataHome, &configHome}) {
            if (path->find('\\') != std::string::npos) {
                throw Failure(*path + " holds a backslash, which Windows programs such as this "
                                      "one cannot name");
            }
        }
        // Wine gives a byte outside UTF-8 in the environment as U+FFFD: a path holding it names
        // one file here and another for the Linux programs that make our links.
        for (const auto* path : {&prefix, &loader, &dataHome, &configHome}) {
            if (path->find("\xEF\xBF\xBD") != std::string::npos) {
                throw Failure(*path + " holds a byte that is not UTF-8, where Wine gives Linux "
                                      "programs another name: use a folder whose name is UTF-8");
            }
        }
        while (prefix.size() > 1 && prefix.ends_with('/')) {
            prefix.pop_back();
        }
        given = prefix;
        // A prefix moved or deleted since is left as given: an uninstall then finds nothing.
        prefix = files.Resolved(prefix).value_or(prefix);
        dataHome = files.RealPath(dataHome);
        configHome = files.RealPath(configHome);
    }
};

class Registration {
  public:
    Registration(const std::wstring& mode, std::wstring installFolder, const std::string& id)
        : side_(files_), installFolder_(std::move(installFolder)),
          id_(id.empty() ? desktop::EntryId(side_.prefix, Utf8(mode)) : id),
          shared_(side_.dataHome + "/quarrion-shell"), own_(shared_ + "/" + id_),
          icon_(own_ + "/quarrion-shell.png"), written_(own_ + "/written"),
          home_(shared_ + "/made"), lock_(shared_ + "/lock"),
          entry_(files_.RealPath(side_.dataHome + "/applications") + "/" + id_ + ".desktop"),
          cache_(FolderOf(entry_) + "/mimeinfo.cache"),
          mimeapps_(side_.configHome + "/mimeapps.list") {
        if (!desktop::IsEntryId(id_)) {
            throw Failure("not the id of a registration: " + id_);
        }
    }

    // Registers this copy, or changes nothing: every check and every read comes first, and
    // what this run made before a later step failed is taken back. What an earlier registration
    // of this copy made stays, so a failed setup run again leaves it working. What it will make
    // is recorded before it is made, so that the uninstall takes back what a killed run made.
    // Returns the id, then a line for each thing the player should know.
    std::string Add(const std::wstring& iconFile) {
        side_.RequireUsablePrefix(files_);
        RequirePassablePaths();
        const std::string entry = WhereTheEntryGoes();
        const std::string icon = files_.Read(files_.UnixPath(iconFile));
        Made made;
        UniqueHandle lock; // held until what a failure takes back is taken back
        try {
            MakeShared(made.folders);
            made.recordWritten = !made.folders.empty();
            lock = files_.Lock(lock_, made.folders);
            if (made.folders.empty()) {
                made.record = files_.ReadIfThere(home_);
            }
            std::string notes = Tidy();
            const std::string mimeapps = DefaultsFile();
            const auto found = HomeRecord();
            auto home = found;
            const auto current = files_.ReadIfThere(mimeapps);
            if (desktop::WithDefaultHandler(current.value_or(""), Unit(), home.added) != current) {
                files_.RequireWritable(mimeapps);
            }
            const std::string text = EntryTextNow();
            auto written = Written();
            const bool playersEntry = files_.KindOf(entry) != Kind::absent && !Unchanged(entry);
            if (playersEntry) {
                notes += entry + " was changed since setup wrote it: it is yours, and kept\n";
            }
            const bool cacheWasThere = files_.Listed(cache_);
            home.mimeapps = home.mimeapps || !current;
            home.cache = home.cache || !cacheWasThere;
            Append(home.folders, made.folders);
            for (const auto& folder : {own_, FolderOf(entry), FolderOf(mimeapps)}) {
                Missing(folder, home.folders);
            }
            files_.Replace(home_, desktop::HomeRecordText(home));
            made.recordWritten = true;
            for (const auto& folder : {own_, FolderOf(entry), FolderOf(mimeapps)}) {
                files_.CreateFolders(folder, made.folders);
            }
            if (files_.KindOf(icon_) == Kind::absent) {
                made.files.push_back(icon_);
            }
            files_.Replace(icon_, icon);
            for (const auto& [target, link] : Links()) {
                if (!files_.Listed(link)) {
                    made.links.push_back(link);
                }
                files_.MakeLink(target, link);
            }
            if (!playersEntry) {
                if (files_.KindOf(entry) == Kind::absent) {
                    made.files.push_back(entry);
                }
                files_.Replace(entry, text);
                written[entry_] = Checksum(text);
            }
            if (files_.KindOf(written_) == Kind::absent) {
                made.files.push_back(written_);
            }
            files_.Replace(written_, desktop::ChecksumsText(written));
            desktop::Additions added;
            made.defaults = ChangeDefaults(mimeapps, [&](const std::optional<std::string>& now) {
                added = found.added;
                return std::optional(desktop::WithDefaultHandler(now.value_or(""), Unit(), added));
            });
            made.mimeapps = mimeapps;
            made.added = {added.line && !found.added.line, added.group && !found.added.group,
                          added.newline && !found.added.newline};
            notes += UpdateDatabase();
            // The record as it is: what was found, and what this run made.
            home = found;
            home.added = added;
            home.mimeapps = home.mimeapps || !*made.defaults;
            home.cache = home.cache || (!cacheWasThere && files_.KindOf(cache_) == Kind::itself);
            Append(home.folders, made.folders);
            files_.Replace(home_, desktop::HomeRecordText(home));
            return id_ + "\n" + notes;
        } catch (const std::exception&) {
            TakeBack(made, lock);
            throw;
        }
    }

    // Removes this copy's registration, first its name among the defaults, so that a file that
    // cannot be written changes nothing; then its entry (or the link to it that a dotfile
    // manager put there, leaving the file it leads to) unless the player changed it, and our own
    // folder's links and icon. The last registration in this home also takes away what the
    // first one made: mimeapps.list, the group and line it added, the cache, folders; an
    // uninstall that was killed after its own folder went finishes that when run again. Only a
    // registration of this prefix is removed: a copied prefix's uninstall leaves the original's.
    // Returns a line for each thing the player should know.
    std::string Remove() {
        const bool registered = files_.Listed(own_);
        if (!registered && files_.KindOf(shared_) != Kind::itself) {
            std::vector<std::string> missing;
            Missing(shared_, missing);
            RemoveTemporaryShared(missing.front());
            return {}; // nothing registered in this home
        }
        RequirePassablePaths();
        // Another prefix's when its link leads there; without that link, what a run of ours
        // killed before it made the link, or as it removed it, left.
        const bool ownFolder = files_.KindOf(own_) == Kind::itself && files_.IsFolder(own_);
        if (registered && (!ownFolder || (files_.Listed(own_ + "/prefix") && !OfThisPrefix()))) {
            return own_ + " is the registration of another Wine prefix (a copy of this one?): "
                          "it is kept\n";
        }
        std::string notes;
        desktop::HomeRecord home;
        {
            std::vector<std::string> remade; // gone with the last registration, and made again
            const UniqueHandle lock = files_.Lock(lock_, remade);
            notes += Tidy();
            home = HomeRecord();
            Append(home.folders, remade);
            if (registered && files_.KindOf(home_) == Kind::absent) {
                // Registered by a version that kept no record: a line holding only ours was its.
                home.added.line = true;
            }
            const bool last = Others().empty();
            (void)ChangeDefaults(DefaultsFile(), [&](const std::optional<std::string>& now) {
                auto kept = now;
                if (now) {
                    kept = desktop::WithoutDefaultHandler(*now, Unit(), home.added);
                }
                return kept && kept->empty() && home.mimeapps && last ? std::nullopt : kept;
            });
            if (registered) {
                notes += RemoveOwnFiles();
            }
            files_.RemoveEmptyFolder(own_);
            // A cache that is not there has nothing of ours to take out.
            const bool cached = files_.Listed(cache_);
            if (!last) {
                return notes + (registered && cached ? UpdateDatabase() : "");
            }
            // The last one: the home as it was before the first.
            if (home.cache && files_.KindOf(cache_) == Kind::itself &&
                desktop::IsCacheOf(files_.Read(cache_), "quarrion-shell-")) {
                files_.RemoveFile(cache_);
            } else if (registered && cached) {
                notes += UpdateDatabase();
            }
            // Folders made for the defaults and entries go while the lock is held; our own folder
            // and those above it once the lock's file is gone. One who waited for the lock finds
            // its file gone, and makes a new one. The record goes last, so that an uninstall
            // killed before knows, when run again, what is left to take away.
            const auto aboveOurs = [this](const std::string& folder) {
                return shared_ == folder || shared_.starts_with(folder + "/");
            };
            for (std::size_t left = home.folders.size(); left > 0; --left) {
                if (!aboveOurs(home.folders[left - 1])) {
                    files_.RemoveEmptyFolder(home.folders[left - 1]);
                }
            }
            files_.RemoveLockFile(lock_);
            files_.RemoveFile(home_);
        }
        files_.RemoveEmptyFolder(shared_);
        for (std::size_t left = home.folders.size(); left > 0; --left) {
            files_.RemoveEmptyFolder(home.folders[left - 1]);
        }
        return notes;
    }

  private:
    // What one run of Add made, to take back when a later step fails.
    struct Made {
        std::vector<std::string> folders; // outermost first
        std::vector<std::string> files;
        std::vector<std::string> links;
        std::optional<std::string> record; // the home's record as found, unless this run made it
        bool recordWritten = false;
        std::string mimeapps;                               // once our line is in it
        std::optional<std::optional<std::string>> defaults; // what it held before
        desktop::Additions added;                           // what this run added to it
    };

    // What this run made, taken back while it still holds the lock; our units in the defaults
    // too, with what this run added for them, unless they were there before.
    void TakeBack(const Made& made, const UniqueHandle& lock) const noexcept {
        try {
            if (made.defaults && lock) {
                const auto& before = *made.defaults;
                const bool oursBefore =
                    before && desktop::WithoutDefaultHandler(*before, Unit()) != *before;
                (void)ChangeDefaults(made.mimeapps, [&](const std::optional<std::string>& now) {
                    if (!now || oursBefore) {
                        return now;
                    }
                    auto kept = desktop::WithoutDefaultHandler(*now, Unit(), made.added);
                    return !before && kept.empty() ? std::nullopt : std::optional(kept);
                });
            }
            for (const auto& link : made.links) {
                files_.RemoveLink(link);
            }
            for (const auto& file : made.files) {
                files_.RemoveFile(file);
            }
            if (made.recordWritten && lock) {
                if (made.record) {
                    files_.Replace(home_, *made.record);
                } else {
                    files_.RemoveFile(home_);
                }
            }
            // A first registration in this home that failed leaves no lock's file either.
            if (!made.folders.empty() && Others().empty() && lock) {
                files_.RemoveLockFile(lock_);
            }
            for (std::size_t left = made.folders.size(); left > 0; --left) {
                files_.RemoveEmptyFolder(made.folders[left - 1]);
            }
        } catch (const std::exception&) {
            // The failure that led here is the one to report.
        }
    }

    // Our entry (unless the player changed it), icon, checksums and links, and our folder.
    [[nodiscard]] std::string RemoveOwnFiles() const {
        std::string notes;
        if (const auto entry = files_.Resolved(entry_)) {
            if (!Unchanged(*entry)) {
                notes += *entry + " was changed since setup wrote it: it is yours, and kept\n";
            } else if (files_.KindOf(entry_) == Kind::itself) {
                files_.RemoveFile(entry_);
            } else {
                files_.RemoveLink(entry_);
            }
        }
        for (const auto& file : {icon_, written_}) {
            files_.RemoveFile(file);
        }
        // The link to the prefix last: it shows the folder is this prefix's, so an uninstall
        // that failed before it can be run again.
        const auto links = Links();
        for (std::size_t left = links.size(); left > 0; --left) {
            const std::string& link = links[left - 1].second;
            if (files_.Listed(link) && files_.KindOf(link) != Kind::itself) {
                files_.RemoveLink(link);
            }
        }
        files_.RemoveEmptyFolder(own_);
        return notes;
    }

    // mimeapps.list changed by `change`, from what it holds (nothing when absent) to what it
    // should (nothing to remove it). Other programs (xdg-mime, GLib, desktop settings) do not
    // take our lock: when one changed the file since it was read, it is read again and the change
    // made again. Returns what it held before.
    template <class Change>
    std::optional<std::string> ChangeDefaults(const std::string& mimeapps,
                                              const Change& change) const {
        for (int tries = 0; tries < 100; ++tries) {
            const auto was = files_.ReadIfThere(mimeapps);
            const std::optional<std::string> now = change(was);
            if (now == was || (now ? files_.ReplaceUnchanged(mimeapps, was, *now)
                                   : files_.RemoveUnchanged(mimeapps, *was))) {
                return was;
            }
        }
        throw Failure(mimeapps + " was changed by another program each time this one wrote it");
    }

    // Our folder, made whole with the record of the folders this run makes for it: those that
    // are missing are made under a temporary name beside the first of them, the record written
    // in, and that renamed into place. A run killed before leaves only the temporary folder,
    // which the next run removes.
    void MakeShared(std::vector<std::string>& made) const {
        std::vector<std::string> missing;
        Missing(shared_, missing);
        if (missing.empty()) {
            return;
        }
        const std::string& top = missing.front();
        RemoveTemporaryShared(top);
        const std::string temporary = files_.NewFolderBeside(top);
        const std::string inner = temporary + shared_.substr(top.size());
        std::vector<std::string> inside;
        files_.CreateFolders(inner, inside);
        desktop::HomeRecord record;
        record.folders = missing;
        files_.Replace(inner + "/made", desktop::HomeRecordText(record));
        if (files_.Rename(temporary, top)) {
            made = missing;
            return;
        }
        RemoveTemporaryShared(top); // made meanwhile by another
        files_.CreateFolders(shared_, made);
    }

    // The temporary folders that MakeShared left beside `top`, the first folder it made.
    void RemoveTemporaryShared(const std::string& top) const {
        const std::string folder = FolderOf(top);
        for (const auto& name : files_.Names(folder)) {
            if (!desktop::IsTemporaryOf(name, top.substr(folder.size() + 1))) {
                continue;
            }
            const std::string temporary = folder + "/" + name;
            std::string inner = temporary + shared_.substr(top.size());
            for (const auto& file : files_.Names(inner)) {
                if (file == "made" || desktop::IsOurTemporary(file)) {
                    files_.RemoveFile(inner + "/" + file);
                }
            }
            for (; inner.size() >= temporary.size(); inner = FolderOf(inner)) {
                files_.RemoveEmptyFolder(inner);
            }
        }
    }

    // Adds the folders in `more` that `folders` does not hold yet.
    static void Append(std::vector<std::string>& folders, const std::vector<std::string>& more) {
        for (const auto& folder : more) {
            if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
                folders.push_back(folder);
            }
        }
    }

    // Adds the folders on the way to `path` that are missing and not yet in `folders`.
    void Missing(const std::string& path, std::vector<std::string>& folders) const {
        if (files_.KindOf(path) != Kind::absent ||
            std::find(folders.begin(), folders.end(), path) != folders.end()) {
            return;
        }
        Missing(FolderOf(path), folders);
        folders.push_back(path);
    }

    [[nodiscard]] std::string Unit() const { return id_ + ".desktop"; }

    // Under the lock, so that no other run is writing: our temporary files that a killed run
    // left, and the registrations of prefixes that are gone. Returns a line for each of those.
    [[nodiscard]] std::string Tidy() const {
        std::vector<std::string> folders{shared_, FolderOf(entry_), FolderOf(DefaultsFile())};
        for (const auto& name : files_.Names(shared_)) {
            if (desktop::IsEntryId(name)) {
                folders.push_back(shared_ + "/" + name);
            }
        }
        for (const auto& folder : folders) {
            if (files_.KindOf(folder) != Kind::itself || !files_.IsFolder(folder)) {
                continue;
            }
            for (const auto& name : files_.Names(folder)) {
                if (desktop::IsOurTemporary(name)) {
                    files_.RemoveFile(folder + "/" + name);
                }
            }
        }
        std::string notes;
        for (const auto& id : Others()) {
            notes += RemoveIfGone(id);
        }
        return notes;
    }

    // A registration whose prefix was deleted (rm -rf, as many remove a Wine game) starts
    // nothing, yet stays ahead of the player's own handler. It goes when it is provably ours (our
    // folder, an entry as its checksum says it wrote it) and its prefix is gone from a folder that
    // is still there, unlike one on a disk that is not mounted.
    [[nodiscard]] std::string RemoveIfGone(const std::string& id) const {
        const std::string own = shared_ + "/" + id;
        const std::string entry = FolderOf(entry_) + "/" + id + ".desktop";
        if (files_.KindOf(own) != Kind::itself || !files_.IsFolder(own) ||
            files_.KindOf(own + "/prefix") != Kind::throughLink ||
            files_.Resolved(own + "/prefix") || files_.KindOf(entry) != Kind::itself ||
            files_.KindOf(own + "/written") != Kind::itself) {
            return {};
        }
        const std::string text = files_.Read(entry);
        const auto written = desktop::ParseChecksums(files_.Read(own + "/written"));
        const auto recorded = written.find(entry);
        const auto prefix = desktop::PrefixInEntry(text);
        if (recorded == written.end() || recorded->second != Checksum(text) || !prefix ||
            files_.Resolved(*prefix) || !files_.Resolved(FolderOf(*prefix))) {
            return {};
        }
        (void)ChangeDefaults(DefaultsFile(), [&id](const std::optional<std::string>& now) {
            return now ? std::optional(desktop::WithoutDefaultHandler(*now, id + ".desktop")) : now;
        });
        files_.RemoveFile(entry);
        for (const char* name : {"/quarrion-shell.png", "/written"}) {
            files_.RemoveFile(own + name);
        }
        for (const char* name : {"/quarrion_shell.exe", "/wine", "/prefix"}) {
            if (files_.Listed(own + name) && files_.KindOf(own + name) != Kind::itself) {
                files_.RemoveLink(own + name);
            }
        }
        files_.RemoveEmptyFolder(own);
        return "the registration for " + *prefix + ", a Wine prefix that is gone, is removed\n";
    }

    // Ours means: our folder's link to the prefix leads to this prefix. A registration copied
    // with its prefix, or found by an id that travelled with one, is the original's.
    [[nodiscard]] bool OfThisPrefix() const {
        return files_.KindOf(own_) == Kind::itself && files_.IsFolder(own_) &&
               files_.Resolved(own_ + "/prefix") == side_.prefix;
    }

    // The other registrations in this home.
    [[nodiscard]] std::vector<std::string> Others() const {
        const auto names = files_.Names(shared_);
        std::vector<std::string> others;
        std::copy_if(
            names.begin(), names.end(), std::back_inserter(others),
            [this](const std::string& name) { return name != id_ && desktop::IsEntryId(name); });
        return others;
    }

    // What the registrations made in this home; of the folders, only those on the way to ours,
    // whatever an edited record says.
    [[nodiscard]] desktop::HomeRecord HomeRecord() const {
        auto home = files_.KindOf(home_) == Kind::itself
                        ? desktop::ParseHomeRecord(files_.Read(home_))
                        : desktop::HomeRecord{};
        const std::array ours{&own_, &entry_, &mimeapps_};
        std::erase_if(home.folders, [&ours](const std::string& folder) {
            return std::none_of(ours.begin(), ours.end(), [&folder](const std::string* path) {
                return *path == folder || path->starts_with(folder + "/");
            });
        });
        return home;
    }

    [[nodiscard]] std::map<std::string, std::string> Written() const {
        return files_.KindOf(written_) == Kind::itself
                   ? desktop::ParseChecksums(files_.Read(written_))
                   : std::map<std::string, std::string>{};
    }

    static std::string Checksum(const std::string& text) {
        const auto checksum = Sha256(text);
        if (!checksum) {
            throw Failure("cannot compute a checksum");
        }
        return *checksum;
    }

    [[nodiscard]] std::string EntryTextNow() const {
        return desktop::EntryText(
            {std::string(product), desktop::EntryComment(side_.prefix), icon_, Command()});
    }

    // Whether the entry holds what setup wrote, or what it would write now: anything else is the
    // player's edit of it.
    [[nodiscard]] bool Unchanged(const std::string& entry) const {
        const std::string text = files_.Read(entry);
        const auto written = Written();
        const auto recorded = written.find(entry_);
        return text == EntryTextNow() ||
               (recorded != written.end() && recorded->second == Checksum(text));
    }

    // mimeapps.list, or the file a dotfile manager's link there leads to; a link that leads
    // nowhere is refused rather than replaced.
    [[nodiscard]] std::string DefaultsFile() const {
        if (files_.KindOf(mimeapps_) == Kind::throughLink && !files_.Resolved(mimeapps_)) {
            throw Failure(mimeapps_ + " is a symbolic link that leads nowhere");
        }
        return files_.RealPath(mimeapps_);
    }

    // Wine hands the paths of our links to ln and rm in the Unix locale's character set.
    void RequirePassablePaths() const {
        files_.RequirePassable(own_);
        files_.RequirePassable(entry_);
        for (const auto& [target, link] : Links()) {
            files_.RequirePassable(target);
        }
    }

    // Refuses what stands in the way of a registration: a folder name that the command would
    // misread, links or files that this program did not make, and another prefix's folder. The
    // entry goes to its path, or to the file that a link there leads to when that is ours.
    [[nodiscard]] std::string WhereTheEntryGoes() const {
        if (own_.find('=') != std::string::npos) {
            // env would take the paths in Exec for settings and run the link as the program.
            throw Failure(own_ + " holds '=', which Linux programs would misread in the link "
                                 "handler's command: use a data folder (XDG_DATA_HOME) without it");
        }
        const std::array ownFolders{&shared_, &own_};
        if (const auto* const* file = std::find_if(ownFolders.begin(), ownFolders.end(),
                                                   [this](const std::string* path) {
                                                       return files_.KindOf(*path) ==
                                                                  Kind::itself &&
                                                              !files_.IsFolder(*path);
                                                   });
            file != ownFolders.end()) {
            throw Failure(**file + " is a file that this program did not make");
        }
        const std::array ownPaths{&shared_, &own_, &icon_, &written_, &home_, &lock_};
        if (const auto* const* linked = std::find_if(ownPaths.begin(), ownPaths.end(),
                                                     [this](const std::string* path) {
                                                         return files_.KindOf(*path) ==
                                                                Kind::throughLink;
                                                     });
            linked != ownPaths.end()) {
            throw Failure(**linked + " is a symbolic link that this program did not make");
        }
        for (const auto& [target, link] : Links()) {
            if (files_.KindOf(link) == Kind::itself) {
                throw Failure(link + " is not a link that this program made");
            }
        }
        if (files_.Listed(own_ + "/prefix") && !OfThisPrefix()) {
            throw Failure(own_ + " is the registration of another Wine prefix");
        }
        auto ours = OurEntry();
        if (!ours && files_.KindOf(entry_) != Kind::absent) {
            throw Failure(entry_ + " is not an entry that this program wrote");
        }
        return ours.value_or(entry_);
    }

    // The links in our own folder that Exec names, with what each leads to.
    [[nodiscard]] std::array<std::pair<std::string, std::string>, 3> Links() const {
        return {{{side_.prefix, own_ + "/prefix"},
                 {side_.loader, own_ + "/wine"},
                 {files_.UnixPath(installFolder_ + L"\\quarrion_shell.exe"),
                  own_ + "/quarrion_shell.exe"}}};
    }

    // Exec is split at blanks by xdg-open without a desktop environment, and quotes stay as
    // text there, so every path in it is one of our links, named without blanks.
    [[nodiscard]] std::vector<std::string> Command() const {
        return {"env", "WINEPREFIX=" + own_ + "/prefix", own_ + "/wine",
                own_ + "/quarrion_shell.exe"};
    }

    // The file holding our entry: the entry's path, or the file that a link there leads to;
    // nothing when there is none, or when what is there is not ours: one that runs this copy's
    // command, or one this registration wrote and the player edited since.
    [[nodiscard]] std::optional<std::string> OurEntry() const {
        auto file = files_.Resolved(entry_);
        if (file &&
            (desktop::IsEntryFor(files_.Read(*file), Command()) || Written().contains(entry_))) {
            return file;
        }
        return std::nullopt;
    }

    // The desktop's cache of MIME types, where the tool to refresh it is installed, and waited
    // for. A cache that is a link into the player's dotfiles would become a file: it is left to
    // them.
    [[nodiscard]] std::string UpdateDatabase() const {
        const std::string tool = "/usr/bin/update-desktop-database";
        if (files_.KindOf(tool) == Kind::absent) {
            return "update-desktop-database is not installed: browsers in a sandbox (Flatpak, "
                   "Snap) will not find the link handler until it is (Debian and Ubuntu: "
                   "desktop-file-utils)\n";
        }
        if (files_.KindOf(cache_) == Kind::throughLink) {
            return cache_ + " is a symbolic link: run update-desktop-database yourself\n";
        }
        if (files_.RunToEnd({tool, "-q", FolderOf(entry_)}) != 0) {
            return "update-desktop-database " + FolderOf(entry_) + " failed\n";
        }
        return {};
    }

    LinuxFiles files_;
    LinuxSide side_;
    std::wstring installFolder_;
    std::string id_;
    std::string shared_;   // the folder of every copy's own folder
    std::string own_;      // this copy's folder: the links in Exec and the icon
    std::string icon_;     // the icon's copy there
    std::string written_;  // the checksums of what this registration wrote
    std::string home_;     // what the registrations made in this home
    std::string lock_;     // held while one registrar changes the home
    std::string entry_;    // the desktop entry
    std::string cache_;    // update-desktop-database's cache beside it
    std::string mimeapps_; // the defaults, perhaps a link to the player's dotfiles
};

std::string Run(const std::vector<std::wstring>& arguments) {
    if (arguments.size() >= 3 && arguments[2] != L"AllUsers" && arguments[2] != L"CurrentUser") {
        throw Failure("the mode is AllUsers or CurrentUser, not " + Utf8(arguments[2]));
    }
    if (arguments.size() == 5 && arguments[1] == L"register") {
        return Registration(arguments[2], arguments[3], "").Add(arguments[4]);
    }
    if ((arguments.size() == 4 || arguments.size() == 5) && arguments[1] == L"unregister") {
        return Registration(arguments[2], arguments[3],
                            arguments.size() == 5 ? Utf8(arguments[4]) : "")
            .Remove();
    }
    throw Failure("usage: quarrion_desktop.exe register|unregister <mode> <folder> [<icon>|<id>]");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        // Setup takes the run as finished only when this line is the last it reads: under
        // Wine, a process that a signal ended reports 0 too.
        std::cout << Run({argv, argv + argc}) << "quarrion_desktop: finished" << std::endl;
        return 0;
    } catch (const std::exception& failure) {
        std::cout << failure.what() << std::endl;
        return 1;
    }
}
