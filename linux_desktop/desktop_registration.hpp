#pragma once

// One copy's registration with the Linux desktop of the user who runs it: made, or removed.

#include "checksums.hpp"
#include "desktop_entry.hpp"
#include "entry_ids.hpp"
#include "home_record.hpp"
#include "mimeapps.hpp"
#include "linux_files.hpp"
#include "linux_side.hpp"
#include "../windows/owners.hpp" // by path: CMake mangles a -I holding $ in its build path
#include "../windows/text.hpp"

#include <array>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace desktop {

class Registration {
  public:
    Registration(const std::wstring& mode, std::wstring installFolder, const std::string& id)
        : side_(files_), installFolder_(std::move(installFolder)),
          id_(id.empty() ? desktop::EntryId(side_.prefix, Utf8(mode)) : id), recorded_(!id.empty()),
          shared_(side_.ownData + "/quarrion-shell"), own_(shared_ + "/" + id_),
          icon_(own_ + "/quarrion-shell.png"), checksums_(own_ + "/written"),
          madeRecord_(shared_ + "/made"), lock_(shared_ + "/lock"),
          entry_(files_.RealPath(side_.dataHome + "/applications") + "/" + id_ + ".desktop"),
          cache_(FolderOf(entry_) + "/mimeinfo.cache"), mimeapps_(side_.defaults) {
        if (!desktop::IsEntryId(id_)) {
            throw Failure("not the id of a registration: " + id_);
        }
    }

    // Registers this copy, or changes nothing: every check and every read comes first, and
    // what this run made before a later step failed is taken back. What an earlier registration
    // of this copy made stays, so a failed setup run again leaves it working. What it will make
    // is recorded before it is made, so that the uninstall takes back what a killed run made.
    // Returns the id, then a line for each thing the player should know.
    std::string Add(const std::wstring& iconFile);

    // Removes this copy's registration, first its name among the defaults, so that a file that
    // cannot be written changes nothing; then its entry (or the link to it that a dotfile
    // manager put there, leaving the file it leads to) unless the player changed it, and our own
    // folder's links and icon. The last registration in this home also takes away what the
    // first one made: mimeapps.list, the group and line it added, the cache, folders; an
    // uninstall that was killed after its own folder went finishes that when run again. Only a
    // registration of this prefix is removed: a copied prefix's uninstall leaves the original's.
    // Returns a line for each thing the player should know.
    std::string Remove();

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
    void TakeBack(const Made& made, const UniqueHandle& lock) const noexcept;

    // Our unit in the defaults where earlier versions wrote those of a Flatpak launcher's prefix,
    // or a note when it cannot be taken out from here.
    [[nodiscard]] std::string RemoveEarlierDefault() const;

    // Our entry (unless the player changed it), icon, checksums and links, and our folder.
    [[nodiscard]] std::string RemoveOwnFiles() const;

    // mimeapps.list changed by `change`, from what it holds (nothing when absent) to what it
    // should (nothing to remove it). Other programs (xdg-mime, GLib, desktop settings) do not
    // take our lock: when one changed the file since it was read, it is read again and the change
    // made again. Returns what it held before.
    template <class Change>
    [[nodiscard]] std::optional<std::string> ChangeDefaults(const std::string& mimeapps,
                                                            const Change& change) const {
        for (int tries = 0; tries < 100; ++tries) {
            auto was = files_.ReadIfThere(mimeapps);
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
    // in, and that renamed into place. A run killed before leaves only the temporary folder (and
    // its claim, when Wine's server went too), which the next run removes.
    void MakeShared(std::vector<std::string>& made) const;

    // The folders of `folders` that are empty, innermost first: those that hold our folder, or
    // the others.
    void RemoveEmptyFolders(const std::vector<std::string>& folders, bool aboveOurs) const;

    // The temporary folders that killed runs of MakeShared left beside the first of our folders
    // that is missing; those that a run still going fills are kept.
    void RemoveTemporaryShared() const;
    // One of them, with what a run could have put in.
    void RemoveTemporary(const std::string& temporary, const std::string& top) const;

    // Adds the folders in `more` that `folders` does not hold yet.
    static void Append(std::vector<std::string>& folders, const std::vector<std::string>& more);

    // Adds the folders on the way to `path` that are missing and not yet in `folders`.
    void Missing(const std::string& path, std::vector<std::string>& folders) const;

    [[nodiscard]] std::string Unit() const { return id_ + ".desktop"; }

    // Under the lock, so that no other run is writing: our temporary files that a killed run
    // left, and the registrations of prefixes that are gone. Returns a line for each of those.
    [[nodiscard]] std::string Tidy() const;

    // A registration whose prefix was deleted (rm -rf, as many remove a Wine game) starts
    // nothing, yet stays ahead of the player's own handler. It goes when it is provably ours (our
    // folder, an entry as its checksum says it wrote it) and its prefix is gone from a folder that
    // is still there, unlike one on a disk that is not mounted; or the Wine it runs is gone, as
    // a launcher's runner update leaves it, from a folder that is still there.
    [[nodiscard]] std::string RemoveIfGone(const std::string& id) const;

    // Ours means: our folder's link to the prefix leads to this prefix. A registration copied
    // with its prefix, or found by an id that travelled with one, is the original's.
    [[nodiscard]] bool OfThisPrefix() const;

    // The other registrations in this home.
    [[nodiscard]] std::vector<std::string> Others() const;

    // What the registrations made in this home; of the folders, only those on the way to ours,
    // whatever an edited record says.
    [[nodiscard]] desktop::HomeRecord ReadHomeRecord() const;

    [[nodiscard]] std::map<std::string, std::string> Written() const;

    static std::string Checksum(const std::string& text);

    [[nodiscard]] std::string EntryTextNow() const;

    // Whether the entry holds what setup wrote, or what it would write now: anything else is the
    // player's edit of it.
    [[nodiscard]] bool Unchanged(const std::string& entry) const;

    // mimeapps.list, or the file a dotfile manager's link there leads to; a link that leads
    // nowhere is refused rather than replaced.
    [[nodiscard]] std::string DefaultsFile() const;

    // Wine hands the paths of our links to ln and rm in the Unix locale's character set.
    void RequirePassablePaths() const;

    // Refuses what stands in the way of a registration: a folder name that the command would
    // misread, links or files that this program did not make, and another prefix's folder. The
    // entry goes to its path, or to the file that a link there leads to when that is ours.
    [[nodiscard]] std::string WhereTheEntryGoes() const;

    // The links in our own folder that Exec names, with what each leads to.
    [[nodiscard]] std::array<std::pair<std::string, std::string>, 3> Links() const;

    // Exec is split at blanks by xdg-open without a desktop environment, and quotes stay as
    // text there, so every path in it is one of our links, named without blanks. From a
    // Flatpak sandbox, Wine runs in it again: the host reaches it only through flatpak run.
    // `own` is the registration's own folder.
    [[nodiscard]] std::vector<std::string> Command(const std::string& own) const;

    // The file holding our entry: the entry's path, or the file that a link there leads to;
    // nothing when there is none, or when what is there is not ours: one that runs this copy's
    // command, or one this registration wrote and the player edited since.
    [[nodiscard]] std::optional<std::string> OurEntry() const;

    // A note when a list of defaults that desktops read before ours names another handler
    // first, or cannot be seen as it is now.
    [[nodiscard]] std::string Shadowing() const;

    // The desktop's cache of MIME types, where the tool to refresh it is installed, and waited
    // for. A cache that is a link into the player's dotfiles would become a file: it is left to
    // them.
    [[nodiscard]] std::string UpdateDatabase() const;

    LinuxFiles files_;
    LinuxSide side_;
    std::wstring installFolder_;
    std::string id_;
    bool recorded_;          // whether setup kept the id, having registered
    std::string shared_;     // the folder of every copy's own folder
    std::string own_;        // this copy's folder: the links in Exec and the icon
    std::string icon_;       // the icon's copy there
    std::string checksums_;  // the file of checksums of what this registration wrote
    std::string madeRecord_; // the home's record of what the registrations made in it
    std::string lock_;       // held while one registrar changes the home
    std::string entry_;      // the desktop entry
    std::string cache_;      // update-desktop-database's cache beside it
    std::string mimeapps_;   // the defaults, perhaps a link to the player's dotfiles
};

} // namespace desktop
