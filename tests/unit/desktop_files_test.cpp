#include "case_name.hpp"
#include "checksums.hpp"
#include "desktop_entry.hpp"
#include "desktop_text.hpp"
#include "entry_ids.hpp"
#include "home_record.hpp"
#include "mimeapps.hpp"
#include "temporary_names.hpp"
#include "flatpak_sandbox.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using named_cases::PrintTo;

using desktop::EntryId;
using desktop::ExecArgument;
using desktop::WithDefaultHandler;
using desktop::WithoutDefaultHandler;

struct ArgumentCase {
    const char* name;
    std::string argument;
    std::string written; // in Exec
    std::string windows; // on a Windows command line
};

class ExecArguments : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ExecArguments, ReadBackWhole) {
    EXPECT_EQ(ExecArgument(GetParam().argument), GetParam().written);
    EXPECT_EQ(desktop::WindowsArgument(GetParam().argument), GetParam().windows);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ExecArguments,
    testing::Values(
        ArgumentCase{"PlainPath", "/home/p/.local/share/q/wine", "/home/p/.local/share/q/wine",
                     "\"/home/p/.local/share/q/wine\""},
        ArgumentCase{"Assignment", "WINEPREFIX=/p/q", "WINEPREFIX=/p/q", "\"WINEPREFIX=/p/q\""},
        ArgumentCase{"Blank", "/home/p/My Games", "\"/home/p/My Games\"", "\"/home/p/My Games\""},
        ArgumentCase{"ShellUnits", "a\"b`c$d\\e", "\"a\\\"b\\`c\\$d\\\\e\"", "\"a\\\"b`c$d\\e\""},
        ArgumentCase{"Backslashes", "/g/Pa\\b/qa\\\\b", "\"/g/Pa\\\\b/qa\\\\\\\\b\"",
                     "\"/g/Pa\\b/qa\\\\b\""},
        ArgumentCase{"BackslashesBeforeQuote", "a\\\\\"b\\", "\"a\\\\\\\\\\\"b\\\\\"",
                     "\"a\\\\\\\\\\\"b\\\\\""},
        ArgumentCase{"Tilde", "~/q", "\"~/q\"", "\"~/q\""},
        ArgumentCase{"Percent", "/q/100%u", "/q/100%%u", "\"/q/100%u\""},
        ArgumentCase{"Empty", "", "\"\"", "\"\""}),
    CaseName<ArgumentCase>);

TEST(EntryText, IsAHiddenHandlerOfTheScheme) {
    const std::vector<std::string> command{"env", "/a b/wine"};
    const std::string text =
        desktop::EntryText({"A Link Handler", "In C:\\x", "/i/q.png", command});
    EXPECT_EQ(text, "[Desktop Entry]\n"
                    "Type=Application\n"
                    "Name=A Link Handler\n"
                    "Comment=In C:\\\\x\n"
                    "Icon=/i/q.png\n"
                    "Exec=env \"/a b/wine\" %u\n"
                    "Terminal=false\n"
                    "NoDisplay=true\n"
                    "MimeType=x-scheme-handler/quarrion;\n");
    // Ours, to be replaced or removed, only while it runs this copy's command.
    EXPECT_TRUE(desktop::IsEntryFor(text, command));
    EXPECT_FALSE(desktop::IsEntryFor(text, {"env", "/a b/wine", "x"}));
    EXPECT_FALSE(desktop::IsEntryFor("notes\nExec=env \"/a b/wine\" %u\n", command));
    // Another Exec beside ours, or ours outside the entry's group, runs what is not ours.
    EXPECT_FALSE(desktop::IsEntryFor(text + "Exec = other %u\n", command));
    EXPECT_FALSE(desktop::IsEntryFor(
        "[Desktop Entry]\nType=Application\n[Other]\nExec=env \"/a b/wine\" %u\n", command));
    // The prefix an entry of ours runs in, read back from its comment, for one that is gone.
    const auto prefixIn = [&command](const std::string& prefix) {
        return desktop::PrefixInEntry(
            desktop::EntryText({"Q", desktop::EntryComment(prefix), "/i/q.png", command}));
    };
    EXPECT_EQ(prefixIn("/home/p/My Games/q"), "/home/p/My Games/q");
    EXPECT_EQ(prefixIn("/home/p/line\nend"), std::nullopt);
    EXPECT_EQ(desktop::PrefixInEntry(text), std::nullopt);
}

struct MimeappsCase {
    const char* name;
    std::string before;
    std::string withOurs;    // after WithDefaultHandler
    std::string withoutOurs; // after WithoutDefaultHandler on `before`
};

const std::string ours = "q.desktop";

class Mimeapps : public testing::TestWithParam<MimeappsCase> {};

TEST_P(Mimeapps, ChangeOnlyOurLine) {
    desktop::Additions added;
    EXPECT_EQ(WithDefaultHandler(GetParam().before, ours, added), GetParam().withOurs);
    EXPECT_EQ(WithoutDefaultHandler(GetParam().before, ours), GetParam().withoutOurs);
    // What readers of the file then take for the default.
    EXPECT_EQ(desktop::DefaultHandlers(GetParam().withOurs).front(), ours);
    // Install, then uninstall: the file byte for byte as it was, but for ours.
    EXPECT_EQ(WithoutDefaultHandler(GetParam().withOurs, ours, added), GetParam().withoutOurs);
}

// Two copies registered, then removed in either order: the file as it was, to the byte.
TEST_P(Mimeapps, TwoCopiesGoInEitherOrder) {
    if (GetParam().before.find(ours) != std::string::npos) {
        GTEST_SKIP() << "ours before the install";
    }
    desktop::Additions added;
    const std::string both = WithDefaultHandler(
        WithDefaultHandler(GetParam().before, "second.desktop", added), ours, added);
    EXPECT_EQ(
        WithoutDefaultHandler(WithoutDefaultHandler(both, "second.desktop", added), ours, added),
        GetParam().before);
    EXPECT_EQ(
        WithoutDefaultHandler(WithoutDefaultHandler(both, ours, added), "second.desktop", added),
        GetParam().before);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Mimeapps,
    testing::Values(
        MimeappsCase{"None", "", "[Default Applications]\nx-scheme-handler/quarrion=q.desktop;\n",
                     ""},
        MimeappsCase{"OtherGroupOnly", "[Added Associations]\nx-scheme-handler/quarrion=o.desktop;",
                     "[Added Associations]\nx-scheme-handler/quarrion=o.desktop;\n"
                     "[Default Applications]\nx-scheme-handler/quarrion=q.desktop;\n",
                     "[Added Associations]\nx-scheme-handler/quarrion=o.desktop;"},
        MimeappsCase{"WrittenOnWindowsWithoutAFinalLineEnd", "[Added Associations]\r\na=b;",
                     "[Added Associations]\r\na=b;\r\n"
                     "[Default Applications]\r\nx-scheme-handler/quarrion=q.desktop;\r\n",
                     "[Added Associations]\r\na=b;"},
        // The line feed given to a last line that ends in CR goes again, and the CR stays.
        MimeappsCase{"LastLineEndsInCarriageReturn", "# mine\nX\r",
                     "# mine\nX\r\n[Default Applications]\nx-scheme-handler/quarrion=q.desktop;\n",
                     "# mine\nX\r"},
        MimeappsCase{"GroupHeaderLast", "# mine\n[Default Applications]",
                     "# mine\n[Default Applications]\nx-scheme-handler/quarrion=q.desktop;\n",
                     "# mine\n[Default Applications]"},
        MimeappsCase{"EmptyList", "[Default Applications]\nx-scheme-handler/quarrion=\n",
                     "[Default Applications]\nx-scheme-handler/quarrion=q.desktop;\n",
                     "[Default Applications]\nx-scheme-handler/quarrion=\n"},
        MimeappsCase{"SemicolonAlone", "[Default Applications]\nx-scheme-handler/quarrion=;\n",
                     "[Default Applications]\nx-scheme-handler/quarrion=q.desktop;;\n",
                     "[Default Applications]\nx-scheme-handler/quarrion=;\n"},
        MimeappsCase{"SpacedList",
                     "[Default Applications]\nx-scheme-handler/quarrion=n.desktop; o.desktop\n",
                     "[Default Applications]\nx-scheme-handler/quarrion=q.desktop;n.desktop; "
                     "o.desktop\n",
                     "[Default Applications]\nx-scheme-handler/quarrion=n.desktop; o.desktop\n"},
        MimeappsCase{"GroupWithoutOurKey", "[Default Applications]\r\ntext/html=f.desktop;\r\n",
                     "[Default Applications]\r\nx-scheme-handler/quarrion=q.desktop;\r\n"
                     "text/html=f.desktop;\r\n",
                     "[Default Applications]\r\ntext/html=f.desktop;\r\n"},
        MimeappsCase{
            "AnotherProgramsDefault",
            "# mine\n[Default Applications]\nx-scheme-handler/quarrion = o.desktop;\n[X]\n",
            "# mine\n[Default Applications]\nx-scheme-handler/quarrion = "
            "q.desktop;o.desktop;\n[X]\n",
            "# mine\n[Default Applications]\nx-scheme-handler/quarrion = o.desktop;\n[X]\n"},
        // Ours before, not known to be added by us: what stood before it, an empty list, stays.
        MimeappsCase{"OursAlone",
                     "[Default Applications]\nx-scheme-handler/quarrion=q.desktop;\na=b;\n",
                     "[Default Applications]\nx-scheme-handler/quarrion=q.desktop;\na=b;\n",
                     "[Default Applications]\nx-scheme-handler/quarrion=\na=b;\n"},
        MimeappsCase{
            "OursBeforeOthers",
            "[Default Applications]\nx-scheme-handler/quarrion=q.desktop;o.desktop;q.desktop",
            "[Default Applications]\nx-scheme-handler/quarrion=q.desktop;o.desktop;",
            "[Default Applications]\nx-scheme-handler/quarrion=o.desktop;"},
        MimeappsCase{"OursAfterAnother",
                     "[Default Applications]\nx-scheme-handler/quarrion=o.desktop;q.desktop;\n",
                     "[Default Applications]\nx-scheme-handler/quarrion=q.desktop;o.desktop;\n",
                     "[Default Applications]\nx-scheme-handler/quarrion=o.desktop;\n"},
        MimeappsCase{
            "EarlierDefaultWithTwoHandlers",
            "[Default Applications]\r\nx-scheme-handler/quarrion=n.desktop;a.desktop;\r\n",
            "[Default Applications]\r\nx-scheme-handler/quarrion=q.desktop;n.desktop;"
            "a.desktop;\r\n",
            "[Default Applications]\r\nx-scheme-handler/quarrion=n.desktop;a.desktop;\r\n"},
        MimeappsCase{"ByteOrderMark",
                     "\xEF\xBB\xBF[Default Applications]\nx-scheme-handler/quarrion=o.desktop;\n",
                     "\xEF\xBB\xBF[Default Applications]\nx-scheme-handler/quarrion=q.desktop;"
                     "o.desktop;\n",
                     "\xEF\xBB\xBF[Default Applications]\nx-scheme-handler/quarrion=o.desktop;\n"},
        MimeappsCase{"TwoGroupsOfDefaults",
                     "[Default Applications]\na=b;\n[Default Applications]\n"
                     "x-scheme-handler/quarrion=o.desktop;\n",
                     "[Default Applications]\na=b;\n[Default Applications]\n"
                     "x-scheme-handler/quarrion=q.desktop;o.desktop;\n",
                     "[Default Applications]\na=b;\n[Default Applications]\n"
                     "x-scheme-handler/quarrion=o.desktop;\n"},
        MimeappsCase{
            "ListWrittenByHand",
            "[Default Applications]\nx-scheme-handler/quarrion= a.desktop; b.desktop",
            "[Default Applications]\nx-scheme-handler/quarrion= q.desktop;a.desktop; b.desktop",
            "[Default Applications]\nx-scheme-handler/quarrion= a.desktop; b.desktop"},
        MimeappsCase{"LookAlikeKey",
                     "[Default Applications]\nx-scheme-handler/quarrionx=q.desktop;\n",
                     "[Default Applications]\nx-scheme-handler/quarrion=q.desktop;\n"
                     "x-scheme-handler/quarrionx=q.desktop;\n",
                     "[Default Applications]\nx-scheme-handler/quarrionx=q.desktop;\n"}),
    CaseName<MimeappsCase>);

struct NameCase {
    const char* name;
    std::string folder;
    bool usable;
};

class WindowsNames : public testing::TestWithParam<NameCase> {};

// A prefix's folder that Windows programs reach as a device, or not at all, is refused.
TEST_P(WindowsNames, AreTheOnesWindowsCanOpen) {
    EXPECT_EQ(desktop::UnusableInWindows(GetParam().folder).empty(), GetParam().usable);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, WindowsNames,
    testing::Values(NameCase{"Plain", "quarrion", true}, NameCase{"Dotted", ".wine", true},
                    NameCase{"LooksLikeADevice", "console", true}, NameCase{"Com10", "com10", true},
                    NameCase{"Nul", "nul", false}, NameCase{"AuxWithExtension", "aux.wine", false},
                    NameCase{"Capitals", "CON", false}, NameCase{"Com1", "com1", false},
                    NameCase{"Lpt9", "LPT9.x", false}, NameCase{"Prn", "prn", false},
                    NameCase{"TrailingDot", "wine.", false},
                    NameCase{"TrailingBlank", "wine ", false}, NameCase{"Asterisk", "w*ne", false},
                    NameCase{"Question", "w?ne", false}),
    CaseName<NameCase>);

// What the registrations made in a home, and the checksums of what one wrote, read back whole;
// lines of another form are not taken for either.
TEST(Records, ReadBackWhatWasWritten) {
    const desktop::HomeRecord made{{true, false, true}, true, false, {"/h/.config", "/h/.local"}};
    const auto read = desktop::ParseHomeRecord(desktop::HomeRecordText(made) + "made-folder x\n");
    EXPECT_EQ(read.added.line, true);
    EXPECT_EQ(read.added.group, false);
    EXPECT_EQ(read.added.newline, true);
    EXPECT_EQ(read.mimeapps, true);
    EXPECT_EQ(read.cache, false);
    EXPECT_EQ(read.folders, made.folders);
    const std::map<std::string, std::string> written{{"/d/a b.desktop", std::string(64, 'f')}};
    EXPECT_EQ(desktop::ParseChecksums(desktop::ChecksumsText(written) + "zz  /x\n" +
                                      std::string(64, 'a') + " /one-blank\n"),
              written);
}

TEST(Cache, IsOursOnlyWhenItNamesNothingElse) {
    EXPECT_TRUE(
        desktop::IsCacheOf("[MIME Cache]\nx-scheme-handler/quarrion=quarrion-shell-a.desktop;"
                           "quarrion-shell-b.desktop;\n",
                           "quarrion-shell-"));
    EXPECT_TRUE(desktop::IsCacheOf("[MIME Cache]\n", "quarrion-shell-"));
    EXPECT_FALSE(
        desktop::IsCacheOf("[MIME Cache]\ntext/plain=editor.desktop;\n", "quarrion-shell-"));
}

TEST(EntryId, NamesTheProgramThePrefixAndTheMode) {
    const std::string id = EntryId("/home/p/Games/My Games/Quarrion (GOTY)/", "CurrentUser");
    EXPECT_TRUE(id.starts_with("quarrion-shell-quarrion-goty-")) << id;
    EXPECT_TRUE(id.ends_with("-currentuser")) << id;
    EXPECT_EQ(id.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-"), std::string::npos);
    EXPECT_EQ(id, EntryId("/home/p/Games/My Games/Quarrion (GOTY)", "CurrentUser"));
    EXPECT_NE(id, EntryId("/home/p/Games/Other/Quarrion (GOTY)", "CurrentUser"));
    EXPECT_NE(id, EntryId("/home/p/Games/My Games/Quarrion (GOTY)", "AllUsers"));
    EXPECT_TRUE(desktop::IsEntryId(id));
    for (const char* recorded : {"", "quarrion-shell-../../x", "other-q", "quarrion-shell-A"}) {
        EXPECT_FALSE(desktop::IsEntryId(recorded)) << recorded;
    }
    // What a killed run left beside our files, and nothing that only looks like it.
    for (const std::string& left :
         {std::string(".mimeapps.list.new-12-0"), std::string(".made.new-1-99"),
          std::string(".written.new-3-1"), std::string(".quarrion-shell.png.new-4-0"),
          "." + id + ".desktop.new-5-0"}) {
        EXPECT_TRUE(desktop::IsOurTemporary(left)) << left;
    }
    for (const char* other :
         {"mimeapps.list.new-12-0", ".mimeapps.list.new-12", ".made.new-x-0", ".notes.new-1-0",
          ".other.desktop.new-1-0", ".made.new-1-0-", ".mimeapps.list.XA1b2c", ".made.new-007-1",
          ".written.new-1-99999999999999999999999"}) {
        EXPECT_FALSE(desktop::IsOurTemporary(other)) << other;
    }
    // The claim beside a temporary folder, which a run that was not killed holds.
    EXPECT_EQ(desktop::ClaimedTemporary(".quarrion-shell.new-7-2.claim", "quarrion-shell"),
              ".quarrion-shell.new-7-2");
    for (const char* other : {".quarrion-shell.new-7-2", ".quarrion-shell.new-7-2.claim.claim",
                              ".share.new-7-2.claim", ".quarrion-shell.new-7.claim"}) {
        EXPECT_FALSE(desktop::ClaimedTemporary(other, "quarrion-shell")) << other;
    }
}

struct GrantCase {
    const char* name;
    std::string filesystems; // as /.flatpak-info lists them
    std::string path;
    desktop::Access access;
};

using A = desktop::Access;

class FlatpakGrants : public testing::TestWithParam<GrantCase> {};

// Whether a Flatpak sandbox may write a host path, from what it says of itself.
TEST_P(FlatpakGrants, AreReadFromTheSandboxsInfo) {
    const auto info = desktop::ParseFlatpakInfo(
        "[Application]\nname=org.example.Launcher\nruntime=runtime/x/1\n\n[Context]\n"
        "shared=network;\nfilesystems=" +
        GetParam().filesystems + "\n\n[Instance]\ninstance-id=1\n");
    EXPECT_EQ(info.app, "org.example.Launcher");
    const desktop::HostFolders host{"/home/p", "/home/p/.local/share", "/home/p/.config"};
    EXPECT_EQ(desktop::GrantedAccess(info.filesystems, host, GetParam().path), GetParam().access);
}

INSTANTIATE_TEST_SUITE_P(
    Sandbox, FlatpakGrants,
    testing::Values(
        GrantCase{"Nothing", "", "/home/p/.config/mimeapps.list", A::none},
        GrantCase{"TheFile", "xdg-config/mimeapps.list;", "/home/p/.config/mimeapps.list",
                  A::writing},
        GrantCase{"TheFileToRead", "xdg-config/mimeapps.list:ro", "/home/p/.config/mimeapps.list",
                  A::reading},
        GrantCase{"AnotherFile", "xdg-config/mimeapps.listx;", "/home/p/.config/mimeapps.list",
                  A::none},
        GrantCase{"TheFolder", "xdg-data/applications", "/home/p/.local/share/applications/a",
                  A::writing},
        GrantCase{"ReadOnly", "xdg-data/applications:ro;", "/home/p/.local/share/applications",
                  A::reading},
        GrantCase{"Home", "home;", "/home/p/.config/mimeapps.list", A::writing},
        GrantCase{"Tilde", "~/.config/;", "/home/p/.config/mimeapps.list", A::writing},
        GrantCase{"Host", "host", "/home/p/.local/share/applications", A::writing},
        GrantCase{"Absolute", "/home/p/.local:create", "/home/p/.local/share/applications",
                  A::writing},
        GrantCase{"ReadOnlyInside", "home;xdg-config:ro", "/home/p/.config/mimeapps.list",
                  A::reading},
        GrantCase{"WritableInside", "home:ro;xdg-config/mimeapps.list",
                  "/home/p/.config/mimeapps.list", A::writing},
        GrantCase{"Withdrawn", "xdg-config;!xdg-config", "/home/p/.config/mimeapps.list", A::none},
        GrantCase{"OtherKeyword", "xdg-download;xdg-run/app", "/home/p/.config", A::none}),
    CaseName<GrantCase>);

TEST(FlatpakAppId, IsOneArgumentOfTheDottedForm) {
    for (const char* app : {"com.usebottles.bottles", "net.lutris.Lutris",
                            "com.heroicgameslauncher.hgl", "org.example.Wine_Launcher-2"}) {
        EXPECT_TRUE(desktop::IsFlatpakAppId(app)) << app;
    }
    for (const char* app :
         {"", "bottles", "com..x", "-x.y", "a.b c", "a.b;rm", "a.b/c", ".a.b", "a.b."}) {
        EXPECT_FALSE(desktop::IsFlatpakAppId(app)) << app;
    }
    EXPECT_EQ(desktop::GrantCommand("a.b"),
              "flatpak override --user "
              "--filesystem=xdg-data/applications --filesystem=xdg-config/mimeapps.list:ro a.b");
}

} // namespace
