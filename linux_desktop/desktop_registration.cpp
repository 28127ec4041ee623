#include "desktop_registration.hpp"

#include "../windows/sha256.hpp"

#include <algorithm>
#include <iterator>

namespace desktop {
namespace {

constexpr std::string_view product = QUARRION_PRODUCT; // from CMakeLists.txt

} // namespace

std::string Registration::Add(const std::wstring& iconFile) {
    if (!side_.ungranted.empty()) {
        throw Failure("nothing was registered with the Linux desktop: " + side_.ungranted +
                      "\nThen run setup again.");
    }
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
            made.record = files_.ReadIfThere(madeRecord_);
        }
        std::string notes = Tidy();
        const std::string mimeapps = DefaultsFile();
        const auto found = ReadHomeRecord();
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
        files_.Replace(madeRecord_, desktop::HomeRecordText(home));
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
        if (files_.KindOf(checksums_) == Kind::absent) {
            made.files.push_back(checksums_);
        }
        files_.Replace(checksums_, desktop::ChecksumsText(written));
        desktop::Additions added;
        made.defaults = ChangeDefaults(mimeapps, [&](const std::optional<std::string>& now) {
            added = found.added;
            return std::optional(desktop::WithDefaultHandler(now.value_or(""), Unit(), added));
        });
        made.mimeapps = mimeapps;
        made.added = {added.line && !found.added.line, added.group && !found.added.group,
                      added.newline && !found.added.newline};
        notes += UpdateDatabase();
        notes += Shadowing();
        // The record as it is: what was found, and what this run made.
        home = found;
        home.added = added;
        home.mimeapps = home.mimeapps || !*made.defaults;
        home.cache = home.cache || (!cacheWasThere && files_.KindOf(cache_) == Kind::itself);
        Append(home.folders, made.folders);
        files_.Replace(madeRecord_, desktop::HomeRecordText(home));
        return id_ + "\n" + notes;
    } catch (const std::exception&) {
        TakeBack(made, lock);
        throw;
    }
}

std::string Registration::Remove() {
    if (!side_.ungranted.empty()) {
        // Our folder is the sandbox's own, seen without a grant: a registration without the id
        // setup kept (its Apps entry lost) is there all the same.
        if (recorded_ || files_.Listed(own_)) {
            throw Failure("nothing was taken away from the Linux desktop: " + side_.ungranted +
                          "\nThen uninstall again.");
        }
        return "setup registered nothing with the Linux desktop from the Flatpak sandbox of " +
               side_.app + ": there is nothing to take away\n";
    }
    const bool registered = files_.Listed(own_);
    // From a sandbox, a registration of this prefix that setup made with the host's Wine (an
    // earlier version kept it in the host's folders, which the sandbox cannot see) shows only as
    // its entry: taken away from the host, not left pointing at a program gone.
    if (!registered && !side_.app.empty() && files_.KindOf(entry_) == Kind::itself &&
        desktop::PrefixInEntry(files_.Read(entry_)) == side_.prefix) {
        throw Failure(entry_ + " registers this prefix from outside the sandbox of " + side_.app +
                      " (setup run with the host's Wine), where its files are out of reach: "
                      "uninstall with the host's Wine instead\n  WINEPREFIX=" +
                      side_.given + " wine uninstaller");
    }
    if (!registered && files_.KindOf(shared_) != Kind::itself) {
        RemoveTemporaryShared();
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
    // Without the id that setup kept (its Apps entry lost, or a copy that another install left
    // behind), the registration is this copy's only while it runs this copy's program.
    const auto program = Links()[2];
    if (registered && !recorded_ && files_.Listed(program.second)) {
        const auto runs = files_.Resolved(program.second);
        if (runs && runs != files_.Resolved(program.first)) {
            return own_ + " runs " + *runs + ", another copy of the program: it is kept\n";
        }
    }
    std::string notes;
    desktop::HomeRecord home;
    {
        std::vector<std::string> remade; // gone with the last registration, and made again
        const UniqueHandle lock = files_.Lock(lock_, remade);
        notes += Tidy();
        home = ReadHomeRecord();
        Append(home.folders, remade);
        if (registered && files_.KindOf(madeRecord_) == Kind::absent) {
            // Registered by a version that kept no record: a line holding only ours was its.
            home.added.line = true;
        }
        const bool last = Others().empty();
        // The launchers' list, in the folder of entries, is shared by the records of every
        // launcher (and the host's for their prefixes): what one added, another may be the last
        // to hold. Nothing but ours goes there (desktops write ~/.config's), so a line, group or
        // file left holding nothing goes with the last of ours in it.
        const bool shared = side_.ForLauncher();
        const desktop::Additions added =
            shared ? desktop::Additions{true, true, home.added.newline} : home.added;
        (void)ChangeDefaults(DefaultsFile(), [&](const std::optional<std::string>& now) {
            auto kept = now;
            if (now) {
                kept = desktop::WithoutDefaultHandler(*now, Unit(), added);
            }
            return kept && kept->empty() && (home.mimeapps || shared) && last ? std::nullopt : kept;
        });
        notes += RemoveEarlierDefault();
        if (registered) {
            notes += RemoveOwnFiles();
        }
        files_.RemoveEmptyFolder(own_);
        // A cache that is not there has nothing of ours to take out.
        const bool cached = files_.Listed(cache_);
        if (!last) {
            return notes + (registered && cached ? UpdateDatabase() : "");
        }
        // The last one: the home as it was before the first. The cache also serves the entries
        // that registrations kept elsewhere put beside ours (another launcher's, or the host's).
        const auto names = files_.Names(FolderOf(entry_));
        const bool otherEntries =
            std::any_of(names.begin(), names.end(), [this](const std::string& name) {
                return name != Unit() && name.ends_with(".desktop") &&
                       desktop::IsEntryId(name.substr(0, name.size() - 8));
            });
        if ((home.cache || shared) && !otherEntries && files_.KindOf(cache_) == Kind::itself &&
            desktop::IsCacheOf(files_.Read(cache_), "quarrion-shell-")) {
            files_.RemoveFile(cache_);
        } else if (registered && cached) {
            notes += UpdateDatabase();
        }
        // Folders made for the defaults and entries go while the lock is held; our own folder
        // and those above it once the lock's file is gone, and only those: one who waited for
        // the lock finds its file gone, makes a new one, and may already have made the others
        // again for itself. The record goes last, so that an uninstall killed before knows,
        // when run again, what is left to take away.
        RemoveEmptyFolders(home.folders, false);
        files_.RemoveLockFile(lock_);
        files_.RemoveFile(madeRecord_);
    }
    files_.RemoveEmptyFolder(shared_);
    RemoveEmptyFolders(home.folders, true);
    // With our folder, what runs killed with their Wine server left beside it.
    RemoveTemporaryShared();
    return notes;
}

void Registration::RemoveEmptyFolders(const std::vector<std::string>& folders,
                                      bool aboveOurs) const {
    for (std::size_t left = folders.size(); left > 0; --left) {
        const std::string& folder = folders[left - 1];
        if ((shared_ == folder || shared_.starts_with(folder + "/")) == aboveOurs) {
            files_.RemoveEmptyFolder(folder);
        }
    }
}

void Registration::TakeBack(const Made& made, const UniqueHandle& lock) const noexcept {
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
                files_.Replace(madeRecord_, *made.record);
            } else {
                files_.RemoveFile(madeRecord_);
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

std::string Registration::RemoveEarlierDefault() const {
    const std::string& earlier = side_.earlierDefaults;
    if (earlier.empty() || !files_.Resolved(earlier) ||
        files_.RealPath(earlier) == DefaultsFile()) {
        return {};
    }
    const std::string file = files_.RealPath(earlier);
    const std::string text = files_.Read(file);
    if (desktop::WithoutDefaultHandler(text, Unit()) == text) {
        return {};
    }
    if (!side_.inLauncher || files_.IsUnlinked(file)) {
        return file + " still names " + Unit() +
               ", put there by an earlier version: take it out of the x-scheme-handler/quarrion "
               "line there\n";
    }
    (void)ChangeDefaults(file, [this](const std::optional<std::string>& now) {
        return now ? std::optional(desktop::WithoutDefaultHandler(*now, Unit())) : now;
    });
    return {};
}

std::string Registration::RemoveOwnFiles() const {
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
    for (const auto& file : {icon_, checksums_}) {
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

void Registration::Append(std::vector<std::string>& folders, const std::vector<std::string>& more) {
    for (const auto& folder : more) {
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(folder);
        }
    }
}

bool Registration::OfThisPrefix() const {
    const auto leadsTo = files_.Resolved(own_ + "/prefix");
    return files_.KindOf(own_) == Kind::itself && files_.IsFolder(own_) && leadsTo &&
           side_.Canonical(*leadsTo) == side_.prefix;
}

std::vector<std::string> Registration::Others() const {
    const auto names = files_.Names(shared_);
    std::vector<std::string> others;
    std::copy_if(
        names.begin(), names.end(), std::back_inserter(others),
        [this](const std::string& name) { return name != id_ && desktop::IsEntryId(name); });
    return others;
}

desktop::HomeRecord Registration::ReadHomeRecord() const {
    auto home = files_.KindOf(madeRecord_) == Kind::itself
                    ? desktop::ParseHomeRecord(files_.Read(madeRecord_))
                    : desktop::HomeRecord{};
    const std::array ours{&own_, &entry_, &mimeapps_};
    std::erase_if(home.folders, [&ours](const std::string& folder) {
        return std::none_of(ours.begin(), ours.end(), [&folder](const std::string* path) {
            return *path == folder || path->starts_with(folder + "/");
        });
    });
    return home;
}

std::map<std::string, std::string> Registration::Written() const {
    return files_.KindOf(checksums_) == Kind::itself
               ? desktop::ParseChecksums(files_.Read(checksums_))
               : std::map<std::string, std::string>{};
}

std::string Registration::Checksum(const std::string& text) {
    const auto checksum = Sha256(text);
    if (!checksum) {
        throw Failure("cannot compute a checksum");
    }
    return *checksum;
}

std::string Registration::EntryTextNow() const {
    return desktop::EntryText(
        {std::string(product), desktop::EntryComment(side_.prefix), icon_, Command(own_)});
}

bool Registration::Unchanged(const std::string& entry) const {
    const std::string text = files_.Read(entry);
    const auto written = Written();
    const auto recorded = written.find(entry_);
    return text == EntryTextNow() ||
           (recorded != written.end() && recorded->second == Checksum(text));
}

std::string Registration::DefaultsFile() const {
    if (files_.KindOf(mimeapps_) == Kind::throughLink && !files_.Resolved(mimeapps_)) {
        throw Failure(mimeapps_ + " is a symbolic link that leads nowhere");
    }
    return files_.RealPath(mimeapps_);
}

void Registration::RequirePassablePaths() const {
    files_.RequirePassable(own_);
    files_.RequirePassable(entry_);
    for (const auto& [target, link] : Links()) {
        files_.RequirePassable(target);
    }
}

std::string Registration::WhereTheEntryGoes() const {
    if (own_.find('=') != std::string::npos) {
        // env would take the paths in Exec for settings and run the link as the program.
        throw Failure(own_ + " holds '=', which Linux programs would misread in the link "
                             "handler's command: use a data folder (XDG_DATA_HOME) without it");
    }
    const std::array ownFolders{&shared_, &own_};
    if (const auto* const* file = std::find_if(ownFolders.begin(), ownFolders.end(),
                                               [this](const std::string* path) {
                                                   return files_.KindOf(*path) == Kind::itself &&
                                                          !files_.IsFolder(*path);
                                               });
        file != ownFolders.end()) {
        throw Failure(**file + " is a file that this program did not make");
    }
    const std::array ownPaths{&shared_, &own_, &icon_, &checksums_, &madeRecord_, &lock_};
    if (const auto* const* linked = std::find_if(
            ownPaths.begin(), ownPaths.end(),
            [this](const std::string* path) { return files_.KindOf(*path) == Kind::throughLink; });
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

std::array<std::pair<std::string, std::string>, 3> Registration::Links() const {
    return {{{side_.prefix, own_ + "/prefix"},
             {side_.loader, own_ + "/wine"},
             {files_.UnixPath(installFolder_ + L"\\quarrion_shell.exe"),
              own_ + "/quarrion_shell.exe"}}};
}

std::vector<std::string> Registration::Command(const std::string& own) const {
    if (!side_.app.empty()) {
        return {"flatpak",
                "run",
                "--command=" + own + "/wine",
                "--env=WINEPREFIX=" + own + "/prefix",
                side_.app,
                own + "/quarrion_shell.exe"};
    }
    return {"env", "WINEPREFIX=" + own + "/prefix", own + "/wine", own + "/quarrion_shell.exe"};
}

std::optional<std::string> Registration::OurEntry() const {
    auto file = files_.Resolved(entry_);
    if (file &&
        (desktop::IsEntryFor(files_.Read(*file), Command(own_)) || Written().contains(entry_))) {
        return file;
    }
    return std::nullopt;
}

std::string Registration::UpdateDatabase() const {
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

} // namespace desktop
