#include "best_fit.hpp"
#include "launch_failure.hpp"
#include "link.hpp"
#include "case_name.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using named_cases::PrintTo;

constexpr std::wstring_view installPath = L"C:\\Games\\Quarrion\\quarrion.exe";

struct LinkCase {
    const char* name;
    std::wstring argumentText;
    std::optional<std::wstring> command; // empty: decoding fails
};

// Rows print as their name in test listings, not as a dump of their bytes.
class DecodeAndBuild : public testing::TestWithParam<LinkCase> {};

TEST_P(DecodeAndBuild, GivesTheGameCommandLine) {
    const LinkCase& c = GetParam();
    if (!c.command) {
        EXPECT_THROW(DecodeLink(c.argumentText), LaunchFailure);
        return;
    }
    EXPECT_EQ(BuildGameCommand(installPath, DecodeLink(c.argumentText)), *c.command);
}

const std::wstring cmd = std::wstring(installPath) + L" +connect ";

INSTANTIATE_TEST_SUITE_P(
    Links, DecodeAndBuild,
    testing::Values(
        LinkCase{"ServerAndPassword", L"quarrion://1.2.3.4:27960/secret",
                 cmd + L"1.2.3.4:27960 +pass secret"},
        LinkCase{"ServerOnly", L"quarrion://1.2.3.4:27960", cmd + L"1.2.3.4:27960"},
        LinkCase{"TrailingSlashGivesEmptyPassword", L"quarrion://host/", cmd + L"host +pass "},
        LinkCase{"LeadingSlashGivesEmptyServer", L"quarrion:///pw", cmd + L" +pass pw"},
        LinkCase{"LoneSlash", L"/", cmd + L" +pass "},
        LinkCase{"FieldsAfterThePasswordAreIgnored", L"quarrion://h/p/x/y", cmd + L"h +pass p"},
        LinkCase{"CapitalSchemeIsNotRemoved", L"QUARRION://h/p", cmd + L"QUARRION: +pass "},
        LinkCase{"NoSchemeSplitsTheWholeText", L"h/p", cmd + L"h +pass p"},
        LinkCase{"SchemeAnywhereIsRemoved", L"hquarrion://o/pquarrion://w", cmd + L"ho +pass pw"},
        LinkCase{"SchemeTwice", L"quarrion://quarrion://h", cmd + L"h"},
        LinkCase{"SchemeFormedByARemovalStays", L"quarquarrion://rion://h",
                 cmd + L"quarrion: +pass "},
        LinkCase{"QuotesStay", L"\"quarrion://h/p\"", cmd + L"\"h +pass p\""},
        LinkCase{"PercentEscapesStay", L"quarrion://h%2F/p%20w", cmd + L"h%2F +pass p%20w"},
        LinkCase{"BeyondBmpUnitsStay", L"quarrion://\x00E9\xD83C\xDFAE/\x4E2D",
                 cmd + L"\x00E9\xD83C\xDFAE +pass \x4E2D"},
        LinkCase{"EmptyText", L"", std::nullopt},
        LinkCase{"SchemeOnly", L"quarrion://", std::nullopt},
        LinkCase{"SchemesOnly", L"quarrion://quarrion://quarrion://", std::nullopt}),
    CaseName<LinkCase>);

TEST(DecodeLink, KeepsAnEmptyPasswordApartFromNone) {
    EXPECT_TRUE(DecodeLink(L"quarrion://h/").hasPassword);
    EXPECT_FALSE(DecodeLink(L"quarrion://h").hasPassword);
}

// Quadratic scanning or splitting would make these crawl; each must finish in one pass.
TEST(DecodeLink, HandlesMegabyteTextsOfSchemesAndSlashes) {
    constexpr std::size_t count = 100'000;
    std::wstring schemes;
    for (std::size_t i = 0; i < count; ++i) {
        schemes += L"quarrion://";
    }
    EXPECT_THROW(DecodeLink(schemes), LaunchFailure);
    EXPECT_EQ(DecodeLink(schemes + L"h/p").server, L"h");

    const LinkFields slashes = DecodeLink(L"a/b" + std::wstring(count * 10, L'/'));
    EXPECT_EQ(slashes.server, L"a");
    EXPECT_EQ(slashes.password, L"b");
}

struct FieldCase {
    const char* name;
    std::wstring field;
    bool safe;
    bool safeForBatch; // cmd.exe reads the command line of a batch file
};

// Rows print as their name in test listings, not as a dump of their bytes.
class FieldSafety : public testing::TestWithParam<FieldCase> {};

TEST_P(FieldSafety, RefusesUnitsThatCouldStartAnOptionOrACommand) {
    EXPECT_EQ(IsSafeField(GetParam().field), GetParam().safe);
    EXPECT_EQ(IsSafeField(GetParam().field, true), GetParam().safeForBatch);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FieldSafety,
    testing::Values(
        FieldCase{"Empty", L"", true, true}, FieldCase{"Address", L"10.0.0.1:27960", true, true},
        FieldCase{"HostName", L"play.example-server.net", true, true},
        FieldCase{"PunctuationNoInterpreterActsOn", L"#$'*.:?[\\]_`{}~@-", true, true},
        FieldCase{"NonAscii", L"\x00E9\x00A0\x4E2D\xD83C\xDFAE\xFFFF", true, true},
        // An .exe game gets these exactly; cmd.exe would act on each of them.
        FieldCase{"Ampersand", L"srv&type,nul>C:\\pwned.txt", true, false},
        FieldCase{"Pipe", L"a|b", true, false}, FieldCase{"Redirection", L"a<b>c", true, false},
        FieldCase{"Escape", L"a^b", true, false}, FieldCase{"Parentheses", L"(a)", true, false},
        FieldCase{"Variable", L"%USERNAME%", true, false},
        FieldCase{"PercentEscapes", L"p%20w%3B%2B", true, false},
        FieldCase{"DelayedVariable", L"!USERNAME!", true, false},
        FieldCase{"Comma", L"a,-dedicated", true, false}, FieldCase{"Equals", L"a=b", true, false},
        FieldCase{"LeadingDash", L"-dedicated", false, false},
        FieldCase{"LeadingAt", L"@C:\\options.txt", false, false},
        FieldCase{"Blank", L"x +exec evil.cfg", false, false},
        FieldCase{"Tab", L"x\tx", false, false},
        FieldCase{"Nul", std::wstring(1, L'\0'), false, false},
        FieldCase{"LineBreak", L"x\r\n", false, false},
        FieldCase{"UnitSeparator", L"\x1F", false, false},
        FieldCase{"Delete", L"x\x7F", false, false}, FieldCase{"Quote", L"x\"", false, false},
        FieldCase{"Plus", L"x+exec", false, false},
        FieldCase{"Semicolon", L"x;quit", false, false}),
    CaseName<FieldCase>);

TEST(RequireSafeFields, ChecksBothFieldsAsEveryReaderSeesThem) {
    EXPECT_NO_THROW(RequireSafeFields(DecodeLink(L"quarrion://h/p")));
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"quarrion://h;quit/p")), LaunchFailure);
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"quarrion://h/p +exec x")), LaunchFailure);
    // A quoted link would hand the game a server beginning with a quote.
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"\"quarrion://h/p\"")), LaunchFailure);
    // Fields after the password never reach the game.
    EXPECT_NO_THROW(RequireSafeFields(DecodeLink(L"quarrion://h/p/ +x")));
    // Without a server, the password would stand alone on the game's line.
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"quarrion:///pw")), LaunchFailure);
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"quarrion:///")), LaunchFailure);
    EXPECT_NO_THROW(RequireSafeFields(DecodeLink(L"quarrion://h/")));

    const LineReaders ansiGame{false, BestFit1252};
    const LineReaders ansiBatch{true, BestFit1252};
    const std::wstring lookAlikeOption = L"quarrion://1.2.3.4/pw\xFF0B"
                                         L"exec\x3000"
                                         L"evil.cfg";
    EXPECT_THROW(RequireSafeFields(DecodeLink(lookAlikeOption), ansiGame), LaunchFailure);
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"quarrion://h\x037Equit"), ansiGame), LaunchFailure);
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"quarrion://\xFF0D"
                                              L"dedicated"),
                                   ansiGame),
                 LaunchFailure);
    EXPECT_NO_THROW(RequireSafeFields(DecodeLink(L"quarrion://h/p\x00E4\x00DF\x00E9"), ansiGame));
    EXPECT_NO_THROW(RequireSafeFields(DecodeLink(L"quarrion://h/p\xFF06x"), ansiGame));
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"quarrion://h/p\xFF06x"), ansiBatch), LaunchFailure);
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"quarrion://h&x/p"), LineReaders{true}),
                 LaunchFailure);
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"quarrion://h/p%PATH%"), LineReaders{true}),
                 LaunchFailure);
}

} // namespace
