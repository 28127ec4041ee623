// quarrion_record.exe: run by setup and its uninstaller for every change they make to the
// install folder and to registry values they share with other programs. The folder's record,
// quarrion_record.dat, keeps the folders made and our files with their SHA-256; the registration's
// record, in the mode's hive, keeps each shared value set with what it held before. Each is
// written before the change it describes, and everything is removed or given back only while
// it is still as the install left it.
//
// Setup, in this order:
//   quarrion_record.exe may-install <mode> <folder> <plan> <file>...
//   quarrion_record.exe install-files <mode> <folder> <staging folder> <file>...
//   quarrion_record.exe register <mode> <folder> <plan>
//   quarrion_record.exe conclude-install <folder>
//   quarrion_record.exe take-away <mode> <folder> <file>...
// The uninstaller:
//   quarrion_record.exe which-copy <folder> <plan> <file>...
//   quarrion_record.exe remove-files <folder> <file>...
//   quarrion_record.exe unregister <folder> <plan>
//   quarrion_record.exe remove-record <folder>
//
// <mode> is AllUsers (HKLM) or CurrentUser (HKCU); <plan> is setup's list of shared values.
// Exit status 0 when done; otherwise a Windows error number, with the reason (or, for 145, the
// name in the way) on standard output, or in the file that "/report=<file>" before the command
// names, as setup asks. which-copy says its answer. The last line of every run that ends by
// itself is "quarrion_record: finished": under Wine, a run ended by a signal reports 0 as well.

#include "files.hpp"
#include "copy_removal.hpp"
#include "folder_record.hpp"
#include "install_folder.hpp"
#include "places.hpp"
#include "refusals.hpp"
#include "registration.hpp"
#include "steps.hpp"
#include "../windows/report.hpp"
#include "../windows/text.hpp"

#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace record;

// An earlier build kept the registration in a folder's record: this folder's, or that of the
// copy the mode's Apps entry names, which an install elsewhere moves here.
std::optional<Record> EarlierRegistration(const std::wstring& mode, const std::wstring& folder) {
    auto here = FolderRecordIn(folder);
    if (!here || here->values.empty()) {
        const auto installed = InstallLocation(mode);
        try {
            here = installed.empty() || SameIdentity(installed, folder) ? std::nullopt
                                                                        : FolderRecordIn(installed);
        } catch (const Failure&) {
            return std::nullopt; // not this copy's to read
        }
    }
    return here && here->mode == mode ? here : std::nullopt;
}

int Run(const std::vector<std::wstring>& arguments, std::ostream& said) {
    const auto& command = arguments.at(0);
    const auto at = [&arguments](std::size_t from) {
        return std::vector<std::wstring>(arguments.begin() + static_cast<std::ptrdiff_t>(from),
                                         arguments.end());
    };
    const auto count = arguments.size();
    Changed(command + L":start");
    if (command == L"may-install" && count >= 4) {
        MayInstall(arguments[1], arguments[2], ReadPlan(arguments[3]), at(4));
    } else if (command == L"install-files" && count >= 4) {
        return InstallFiles(arguments[1], arguments[2], arguments[3], at(4));
    } else if (command == L"register" && count == 4) {
        const auto plan = ReadPlan(arguments[3]);
        const auto earlier = EarlierRegistration(arguments[1], arguments[2]);
        if (earlier) {
            CheckNamesOnly(*earlier, plan);
        }
        Register(arguments[1], arguments[2], plan, earlier);
    } else if (command == L"conclude-install" && count == 2) {
        ConcludeInstall(arguments[1]);
    } else if (command == L"take-away" && count >= 3) {
        return TakeAway(arguments[1], arguments[2], at(3));
    } else if (command == L"which-copy" && count >= 3) {
        said << WhichCopy(arguments[1], ReadPlan(arguments[2]), at(3));
    } else if (command == L"remove-files" && count >= 2) {
        return RemoveFiles(arguments[1], at(2));
    } else if (command == L"unregister" && count == 3) {
        const auto copy = FolderRecordIn(arguments[1]);
        if (!copy) {
            throw Failure("no record of an install in " + Utf8(arguments[1]));
        }
        Unregister(arguments[1], *copy, ReadPlan(arguments[2]));
    } else if (command == L"remove-record" && count == 2) {
        RemoveRecord(arguments[1]);
    } else {
        throw Failure(
            "usage: quarrion_record.exe may-install|install-files|register|"
            "conclude-install|take-away|which-copy|remove-files|unregister|remove-record ...");
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> arguments(argv + 1, argv + argc);
    const Report report(arguments);
    std::ostringstream said;
    int status = exitCannotWrite;
    try {
        status = Run(arguments, said);
    } catch (const Refusal& refusal) {
        said << refusal.what();
        status = refusal.exitCode;
    } catch (const std::exception& failure) {
        said << failure.what();
    }
    said << "\nquarrion_record: finished";
    report.Say(said.str());
    return status;
}
