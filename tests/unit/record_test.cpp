#include "case_name.hpp"
#include "record.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using named_cases::PrintTo;

using record::Failure;
using record::ValueState;

struct CommandCase {
    const char* name;
    std::wstring command;
    std::vector<std::wstring> programs;
};

class Programs : public testing::TestWithParam<CommandCase> {};

TEST_P(Programs, AreTriedAsProcessCreationWould) {
    EXPECT_EQ(record::ProgramCandidates(GetParam().command), GetParam().programs);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Programs,
    testing::Values(
        CommandCase{"Quoted", L"\"C:\\Other Links\\o.exe\" \"%1\"", {L"C:\\Other Links\\o.exe"}},
        CommandCase{"QuoteNeverClosed", L"\"C:\\o.exe %1", {L"C:\\o.exe %1"}},
        CommandCase{"UnquotedWithBlanks",
                    L"C:\\Other Links\\o.exe %1",
                    {L"C:\\Other", L"C:\\Other Links\\o.exe", L"C:\\Other Links\\o.exe %1"}},
        CommandCase{"BareName", L"rundll32.exe", {L"rundll32.exe"}},
        CommandCase{"LeadingBlank", L" o.exe", {L" o.exe"}}, CommandCase{"Empty", L"", {}}),
    CaseName<CommandCase>);

TEST(Record, ReadsBackWhatItWrote) {
    const ValueState longText = record::TextValue(std::wstring(5000, L'x'));
    const ValueState expandable{true, 2, {0x25, 0, 0x41, 0, 0x25, 0, 0, 0}};
    const ValueState binaryEmpty{true, 3, {}};
    record::Record written;
    written.mode = L"CurrentUser";
    written.copy = {L"C:\\Games\\Q S", L"\\\\?\\C:\\Games\\Q S", L"43000000-0000000000ab808f"};
    written.removal = record::Removal::GiveBack;
    written.folders = {{L"C:\\Games\\Q S", L"\\\\?\\C:\\Games\\Q S"},
                       {L"C:\\Games", L"\\\\?\\C:\\Games"}};
    // An upgrade under way: the old bytes and the new.
    written.files = {{L"quarrion_shell.exe", std::wstring(64, L'a')},
                     {L"quarrion_shell.exe", std::wstring(64, L'b')}};
    written.keys = {{L"", L"Software\\Classes\\quarrion"},
                    {L"64", L"Software\\RegisteredApplications"}};
    written.values = {
        {L"", L"Software\\Classes\\quarrion", L"URL Protocol", record::TextValue(L""), {}, {}},
        {L"",
         L"Software\\Classes\\quarrion\\shell\\open\\command",
         L"",
         longText,
         expandable,
         {record::TextValue(L"before a move"), record::NumberValue(7)}},
        {L"64",
         L"Software\\Classes\\quarrion\\shell\\open\\command",
         L"DelegateExecute",
         {},
         binaryEmpty,
         {}}};
    // An editor that marks UTF-8 may have written it back.
    const auto read = record::ParseRecord(L"\xFEFF" + record::FormatRecord(written));
    EXPECT_EQ(read.mode, written.mode);
    EXPECT_EQ(read.copy.path, written.copy.path);
    EXPECT_EQ(read.copy, written.copy);
    EXPECT_EQ(read.removal, written.removal);
    ASSERT_EQ(read.folders.size(), 2u);
    EXPECT_EQ(read.folders[1].path, L"C:\\Games");
    EXPECT_EQ(read.folders[1].identity, L"\\\\?\\C:\\Games");
    ASSERT_EQ(read.files.size(), 2u);
    EXPECT_EQ(read.files[1].sha256, written.files[1].sha256);
    EXPECT_EQ(read.keys, written.keys);
    ASSERT_EQ(read.values.size(), written.values.size());
    for (std::size_t at = 0; at < read.values.size(); ++at) {
        EXPECT_EQ(read.values[at].view, written.values[at].view);
        EXPECT_EQ(read.values[at].name, written.values[at].name);
        EXPECT_EQ(read.values[at].ours, written.values[at].ours) << at;
        EXPECT_EQ(read.values[at].previous, written.values[at].previous) << at;
        EXPECT_EQ(read.values[at].alsoOurs, written.values[at].alsoOurs) << at;
    }
}

struct DamagedCase {
    const char* name;
    std::wstring text;
};

class Damaged : public testing::TestWithParam<DamagedCase> {};

TEST_P(Damaged, IsRefusedWhole) {
    EXPECT_THROW(record::ParseRecord(GetParam().text), Failure);
}

INSTANTIATE_TEST_SUITE_P(
    Records, Damaged,
    testing::Values(
        DamagedCase{"Empty", L""}, DamagedCase{"OtherFile", L"MZ\x90"},
        DamagedCase{"LaterFormat", L"quarrion-record\t2\nmode\tAllUsers\n"},
        DamagedCase{"NoMode", L"quarrion-record\t1\n"},
        DamagedCase{"UnknownMode", L"quarrion-record\t1\nmode\tEveryone\n"},
        DamagedCase{"UnknownLine", L"quarrion-record\t1\nmode\tAllUsers\nrun\tx\n"},
        DamagedCase{"FieldMissing", L"quarrion-record\t1\nmode\tAllUsers\nfile\tq\n"},
        DamagedCase{"OddHex", L"quarrion-record\t1\nmode\tAllUsers\nvalue\t\tk\tn\t1:abc\t-\n"},
        DamagedCase{"NotHex", L"quarrion-record\t1\nmode\tAllUsers\nvalue\t\tk\tn\t1:zz\t-\n"},
        DamagedCase{"NoType", L"quarrion-record\t1\nmode\tAllUsers\nvalue\t\tk\tn\t:00\t-\n"},
        DamagedCase{"OursOfNoValue", L"quarrion-record\t1\nmode\tAllUsers\nours\t\tk\tn\t1:00\n"},
        DamagedCase{"OursOfAnotherValue", L"quarrion-record\t1\nmode\tAllUsers\n"
                                          L"value\t\tk\tn\t-\t-\nours\t\tk\tm\t1:00\n"},
        DamagedCase{"UnknownRemoval", L"quarrion-record\t1\nmode\tAllUsers\nremoval\tall\n"},
        DamagedCase{"ModeTwice", L"quarrion-record\t1\nmode\tAllUsers\nmode\tCurrentUser\n"},
        DamagedCase{"EmptyModeThenMode", L"quarrion-record\t1\nmode\t\nmode\tAllUsers\n"},
        DamagedCase{"CopyWithoutFolder", L"quarrion-record\t1\nmode\tAllUsers\ncopy\tC:\\q\t\n"},
        DamagedCase{"FolderWithAnEmptyNumber",
                    L"quarrion-record\t1\nmode\tAllUsers\nfolder\tC:\\q\tC:\\q\t\n"},
        DamagedCase{"FolderWithAFieldTooMany",
                    L"quarrion-record\t1\nmode\tAllUsers\nfolder\tC:\\q\tC:\\q\t1-2\tx\n"},
        DamagedCase{"CarriageReturnEndingAField",
                    L"quarrion-record\t1\nmode\tAllUsers\ncopy\tC:\\q\tC:\\q\r\r\n"},
        DamagedCase{"TypeBeyond32Bits",
                    L"quarrion-record\t1\nmode\tAllUsers\nvalue\t\tk\tn\t4294967297:00\t-\n"},
        DamagedCase{"TypeWithLeadingZero",
                    L"quarrion-record\t1\nmode\tAllUsers\nvalue\t\tk\tn\t01:00\t-\n"}),
    CaseName<DamagedCase>);

TEST(Plan, SetsAndRemovesAsSetupWroteThem) {
    const auto whole = record::ParsePlan(L"\xFEFFset\t\tSoftware\\Classes\\quarrion\t\tURL:Q\r\n"
                                         L"set\t64\tSoftware\\R\tQ S I\t\r\n"
                                         L"remove\t\tSoftware\\Classes\\quarrion\\shell\\open\\"
                                         L"command\tDelegateExecute\r\n"
                                         L"number\t\tSoftware\\Classes\\quarrion\tEditFlags\t2\r\n"
                                         L"number\t\tk\tn\t0x00200000\r\n"
                                         L"own\t64\tSoftware\\T\\Q\\Capabilities\r\n"
                                         L"own\t64\tSoftware\\T\\Q\\Capabilities\r\n"
                                         L"retired\t\tSoftware\\T\\Q\\PreviousHandler\n");
    const auto& plan = whole.values;
    ASSERT_EQ(plan.size(), 5u);
    EXPECT_EQ(plan[0].ours, record::TextValue(L"URL:Q"));
    EXPECT_EQ(plan[1].view, L"64");
    EXPECT_EQ(plan[1].name, L"Q S I");
    EXPECT_EQ(plan[1].ours, record::TextValue(L""));
    EXPECT_FALSE(plan[2].ours.present);
    EXPECT_EQ(plan[2].name, L"DelegateExecute");
    EXPECT_EQ(plan[3].ours, record::NumberValue(2));
    EXPECT_EQ(plan[4].ours, record::NumberValue(0x00200000));
    const std::vector<record::CreatedKey> own{{L"64", L"Software\\T\\Q\\Capabilities"}};
    EXPECT_EQ(whole.own, own) << "a key named twice is one key";
    ASSERT_EQ(whole.retired.size(), 1u);
    for (const wchar_t* line :
         {L"set\tk\tn\n", L"number\t\tk\tn\t-1\n", L"number\t\tk\tn\t4294967296\n",
          L"number\t\tk\tn\t0x100000000\n", L"number\t\tk\tn\t\n", L"number\t\tk\tn\t0x\n",
          L"number\t\tk\tn\t0x2g\n", L"number\t\tk\tn\t2a\n", L"remove\t\tk\tn\r\r\n", L"own\t\t\n",
          L"own\t\tk\tn\n"}) {
        EXPECT_THROW(record::ParsePlan(line), Failure) << testing::PrintToString(line);
    }
}

} // namespace
