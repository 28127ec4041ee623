// What a run of the registrar that was killed left, and the registrations of prefixes or Wines
// that are gone: found and removed by the next run.

#include "desktop_registration.hpp"
#include "temporary_names.hpp"

#include <algorithm>

namespace desktop {
namespace {

std::string Child(const std::string& folder, const std::string& name) {
    std::string path = folder;
    return path.append("/").append(name);
}

} // namespace

void Registration::MakeShared(std::vector<std::string>& made) const {
    std::vector<std::string> missing;
    Missing(shared_, missing);
    if (missing.empty()) {
        return;
    }
    const std::string& top = missing.front();
    RemoveTemporaryShared();
    const auto temporary = files_.NewFolderBeside(top);
    const std::string inner = temporary.path + shared_.substr(top.size());
    std::vector<std::string> inside;
    files_.CreateFolders(inner, inside);
    desktop::HomeRecord record;
    record.folders = missing;
    files_.Replace(inner + "/made", desktop::HomeRecordText(record));
    if (files_.Rename(temporary.path, top)) {
        made = missing;
        return;
    }
    RemoveTemporary(temporary.path, top); // made meanwhile by another
    files_.CreateFolders(shared_, made);
}

void Registration::RemoveTemporaryShared() const {
    std::vector<std::string> missing;
    Missing(shared_, missing);
    if (missing.empty()) {
        return;
    }
    const std::string& top = missing.front();
    const std::string folder = FolderOf(top);
    const std::string name = top.substr(folder.size() + 1);
    for (const auto& listed : files_.Names(folder)) {
        const auto claimed = desktop::ClaimedTemporary(listed, name);
        if (!claimed && !desktop::IsTemporaryOf(listed, name)) {
            continue;
        }
        const std::string temporary = Child(folder, std::string(claimed.value_or(listed)));
        // A claim without its folder: held by a run about to make it, left by one killed with
        // its Wine server as it ended, or taken away with its folder just now.
        // A link with a temporary's name leads to another program's folder.
        if ((claimed && files_.Listed(temporary)) ||
            files_.KindOf(temporary) == Kind::throughLink) {
            continue;
        }
        const UniqueHandle claim = files_.TakeClaim(temporary, !claimed);
        if (!claim) {
            continue; // another run, perhaps in another prefix, is filling it
        }
        RemoveTemporary(temporary, top);
        files_.RemoveLockFile(desktop::ClaimOf(temporary));
    }
}

void Registration::RemoveTemporary(const std::string& temporary, const std::string& top) const {
    std::string inner = temporary + shared_.substr(top.size());
    for (const auto& file : files_.Names(inner)) {
        if (file == "made" || desktop::IsOurTemporary(file)) {
            files_.RemoveFile(Child(inner, file));
        }
    }
    for (; inner.size() >= temporary.size(); inner = FolderOf(inner)) {
        files_.RemoveEmptyFolder(inner);
    }
}

void Registration::Missing(const std::string& path, std::vector<std::string>& folders) const {
    if (files_.KindOf(path) != Kind::absent ||
        std::find(folders.begin(), folders.end(), path) != folders.end()) {
        return;
    }
    Missing(FolderOf(path), folders);
    folders.push_back(path);
}

std::string Registration::Tidy() const {
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
                files_.RemoveFile(Child(folder, name));
            }
        }
    }
    std::string notes;
    for (const auto& id : Others()) {
        notes += RemoveIfGone(id);
    }
    return notes;
}

std::string Registration::RemoveIfGone(const std::string& id) const {
    const std::string own = shared_ + "/" + id;
    const std::string entry = FolderOf(entry_) + "/" + id + ".desktop";
    if (files_.KindOf(own) != Kind::itself || !files_.IsFolder(own) ||
        files_.KindOf(entry) != Kind::itself || files_.KindOf(own + "/written") != Kind::itself) {
        return {};
    }
    const auto leadsNowhere = [this](const std::string& link) {
        return files_.KindOf(link) == Kind::throughLink && !files_.Resolved(link);
    };
    const bool prefixGone = leadsNowhere(own + "/prefix");
    const std::string text = files_.Read(entry);
    // A launcher's runner update removes the Wine an entry runs: it then opens nothing. Only an
    // entry that runs Wine where this runs it (the host, or this sandbox) is judged from here.
    std::string wine;
    const bool wineGone = !prefixGone && desktop::IsEntryFor(text, Command(own)) &&
                          leadsNowhere(own + "/wine") &&
                          files_.RunToEnd({"/bin/readlink", "--", own + "/wine"}, &wine) == 0;
    if (!prefixGone && !wineGone) {
        return {};
    }
    const auto written = desktop::ParseChecksums(files_.Read(own + "/written"));
    const auto recorded = written.find(entry);
    const auto prefix = desktop::PrefixInEntry(text);
    const std::string gone = prefixGone ? prefix.value_or("") : wine.substr(0, wine.find('\n'));
    if (recorded == written.end() || recorded->second != Checksum(text) || !prefix ||
        !gone.starts_with('/') || files_.Resolved(gone)) {
        return {};
    }
    // Gone, unlike one on a disk that is not mounted: a prefix from a folder that is still there;
    // a runner, which goes with its folders, from the nearest folder still there, not left empty
    // (the launcher's other runners, the new one among them, are there; a mount point is empty).
    const auto parent = [](const std::string& path) {
        const std::string folder = FolderOf(path);
        return folder.empty() ? std::string("/") : folder;
    };
    std::string above = parent(gone);
    while (!prefixGone && above != "/" && !files_.Resolved(above)) {
        above = parent(above);
    }
    // Removable disks are mounted in folders of their own beside others: a runner on one that is
    // unplugged is not gone.
    const bool removable =
        gone.starts_with("/media/") || gone.starts_with("/run/media/") || gone.starts_with("/mnt/");
    if (!files_.Resolved(above) || (!prefixGone && (removable || files_.Names(above).empty()))) {
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
    if (prefixGone) {
        return "the registration for " + *prefix + ", a Wine prefix that is gone, is removed\n";
    }
    return "the registration for " + *prefix + " is removed: the Wine it ran, " + gone +
           ", is gone (a launcher's runner updated?); run setup again in that prefix to register "
           "it with the Wine that runs the game now\n";
}

} // namespace desktop
