#include "launch_failure.hpp"
#include "link.hpp"
#include "case_name.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

constexpr std::wstring_view installPath = L"C:\\Games\\Quarrion\\quarrion.exe";

struct LinkCase {
    const char* name;
    std::wstring argumentText;
    std::optional<std::wstring> command; // empty: decoding fails
};

// Rows print as their name in test listings, not as a dump of their bytes.
void PrintTo(const LinkCase& row, std::ostream* out) {
    *out << row.name;
}

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
};

// Rows print as their name in test listings, not as a dump of their bytes.
void PrintTo(const FieldCase& row, std::ostream* out) {
    *out << row.name;
}

class FieldSafety : public testing::TestWithParam<FieldCase> {};

TEST_P(FieldSafety, RefusesUnitsThatCouldStartAnOption) {
    EXPECT_EQ(IsSafeField(GetParam().field), GetParam().safe);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FieldSafety,
    testing::Values(FieldCase{"Empty", L"", true}, FieldCase{"Address", L"10.0.0.1:27960", true},
                    FieldCase{"HostName", L"play.example-server.net", true},
                    FieldCase{"Punctuation", L"!#$%&'()*,-.:<=>?@[\\]^_`{|}~", true},
                    FieldCase{"PercentEscapes", L"p%20w%3B%2B", true},
                    FieldCase{"NonAscii", L"\x00E9\x00A0\x4E2D\xD83C\xDFAE\xFFFF", true},
                    FieldCase{"Blank", L"x +exec evil.cfg", false},
                    FieldCase{"Tab", L"x\tx", false},
                    FieldCase{"Nul", std::wstring(1, L'\0'), false},
                    FieldCase{"LineBreak", L"x\r\n", false},
                    FieldCase{"UnitSeparator", L"\x1F", false},
                    FieldCase{"Delete", L"x\x7F", false}, FieldCase{"Quote", L"x\"", false},
                    FieldCase{"Plus", L"x+exec", false}, FieldCase{"Semicolon", L"x;quit", false}),
    CaseName<FieldCase>);

TEST(RequireSafeFields, ChecksBothFields) {
    EXPECT_NO_THROW(RequireSafeFields(DecodeLink(L"quarrion://h/p")));
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"quarrion://h;quit/p")), LaunchFailure);
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"quarrion://h/p +exec x")), LaunchFailure);
    // A quoted link would hand the game a server beginning with a quote.
    EXPECT_THROW(RequireSafeFields(DecodeLink(L"\"quarrion://h/p\"")), LaunchFailure);
    // Fields after the password never reach the game.
    EXPECT_NO_THROW(RequireSafeFields(DecodeLink(L"quarrion://h/p/ +x")));
}

} // namespace
