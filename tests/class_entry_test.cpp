// Which class entry the scan picks, on class keys built for each quirk.
#include <gtest/gtest.h>

#include <ostream>

#include "support/fixture.h"
#include "uninstall/uninstall.h"

namespace {

const DWORD RegSz = 1;
const DWORD RegBinary = 3;

struct Entry {
    std::string name;
    std::string valueName;
    DWORD type;
    std::string data;  // raw bytes, terminator included where a string has one
};

struct Case {
    const char* name;
    const ClassEntryRule* rule;
    std::vector<Entry> entries;
    std::string deleted;  // the entry that must go, "" for none
    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

std::string Str(const std::string& text) { return text + std::string(1, '\0'); }

class ClassEntryTest : public testing::TestWithParam<Case> {};

TEST_P(ClassEntryTest, DeletesOnlyTheLowestMatchingEntry) {
    const Case& c = GetParam();
    host::ResetMachine();
    host::RegKey& classKey = host::machine().registry.RootKey(host::Root::LocalMachine).Subkey("Class");
    for (const Entry& entry : c.entries) {
        host::RegKey& key = classKey.Subkey(entry.name);
        if (!entry.valueName.empty()) {
            key.SetValue({entry.valueName, entry.type, {entry.data.begin(), entry.data.end()}});
        }
        key.Subkey("Settings");  // deleted along with its entry on Windows 98
    }
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "Class", &handle));

    DeleteMatchingClassEntry(handle, *c.rule);

    for (const Entry& entry : c.entries) {
        bool kept = classKey.FindSubkey(entry.name) != nullptr;
        EXPECT_EQ(entry.name != c.deleted, kept) << "entry " << entry.name.substr(0, 40);
    }
    RegCloseKey(handle);
    EXPECT_EQ(0u, host::machine().OpenHandleCount()) << "the scan left an entry's handle open";
    host::ResetMachine();
}

const std::string Quenor = "QUENOR.VXD";
const std::string Pelgrin = "PELGRIN.sys";
const std::string LongName = "0" + std::string(255, 'x');  // 256 characters: does not fit

INSTANTIATE_TEST_SUITE_P(
    PortDriver, ClassEntryTest,
    testing::Values(
        Case{"StringMatch", &PortDriverRule,
             {{"0000", "PortDriver", RegSz, Str("serial.vxd")}, {"0001", "PortDriver", RegSz, Str(Quenor)}},
             "0001"},
        Case{"FirstMatchOnly", &PortDriverRule,
             {{"0000", "PortDriver", RegSz, Str(Quenor)}, {"0001", "PortDriver", RegSz, Str(Quenor)}},
             "0000"},
        Case{"PrefixOfALongerName", &PortDriverRule,
             {{"0000", "PortDriver", RegSz, Str("QUENOR.VXD.OLD")}}, "0000"},
        Case{"NoTerminatorNeeded", &PortDriverRule, {{"0000", "PortDriver", RegBinary, Quenor}}, "0000"},
        Case{"LowerCaseDoesNotMatch", &PortDriverRule,
             {{"0000", "PortDriver", RegSz, Str("quenor.vxd")}, {"0001", "PortDriver", RegSz, Str("QUENOr.VXD")}},
             ""},
        Case{"ValueNameIgnoresCase", &PortDriverRule, {{"0000", "portdriver", RegSz, Str(Quenor)}}, "0000"},
        Case{"OtherValueNameIsIgnored", &PortDriverRule,
             {{"0000", "NTMPDriver", RegSz, Str(Quenor)}, {"0001", "", 0, ""}}, ""},
        Case{"EmptyData", &PortDriverRule, {{"0000", "PortDriver", RegBinary, ""}}, ""},
        // A query that does not fit leaves the data's start in the buffer; the
        // next entry's shorter data must not be completed from it.
        Case{"OverSizedDataThenShortData", &PortDriverRule,
             {{"0000", "PortDriver", RegSz, Str(Quenor + std::string(290, 'y'))},
              {"0001", "PortDriver", RegBinary, "QUENOR.VX"}},
             ""},
        Case{"DataOfExactly256Bytes", &PortDriverRule,
             {{"0000", "PortDriver", RegBinary, Quenor + std::string(246, 'y')}}, "0000"},
        Case{"DataOf257BytesIsPassedOver", &PortDriverRule,
             {{"0000", "PortDriver", RegBinary, Quenor + std::string(247, 'y')},
              {"0001", "PortDriver", RegSz, Str(Quenor)}},
             "0001"},
        Case{"NameOf255CharactersFits", &PortDriverRule,
             {{std::string(255, '0'), "PortDriver", RegSz, Str(Quenor)}}, std::string(255, '0')},
        // A name too long for the buffer ends the scan before later entries.
        Case{"TooLongNameEndsTheScan", &PortDriverRule,
             {{LongName, "PortDriver", RegSz, Str(Quenor)}, {"1", "PortDriver", RegSz, Str(Quenor)}}, ""}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    NTMPDriver, ClassEntryTest,
    testing::Values(
        Case{"TwelveByteString", &NTMPDriverRule,
             {{"0000", "NTMPDriver", RegSz, Str("uhcd.sys")}, {"0001", "NTMPDriver", RegSz, Str(Pelgrin)}},
             "0001"},
        Case{"UpperCaseExtensionDoesNotMatch", &NTMPDriverRule,
             {{"0000", "NTMPDriver", RegSz, Str("PELGRIN.SYS")}}, ""},
        Case{"ThirteenBytesDoNotMatch", &NTMPDriverRule,
             {{"0000", "NTMPDriver", RegSz, Str(Pelgrin + std::string(1, '\0'))},
              {"0001", "NTMPDriver", RegSz, Str("PELGRIN.sys2")}},
             ""},
        Case{"ElevenBytesDoNotMatch", &NTMPDriverRule, {{"0000", "NTMPDriver", RegBinary, Pelgrin}}, ""},
        Case{"TwelfthByteIsNotCompared", &NTMPDriverRule,
             {{"0000", "NTMPDriver", RegBinary, Pelgrin + "X"}}, "0000"},
        Case{"BinaryTypeMatches", &NTMPDriverRule, {{"0000", "NTMPDriver", RegBinary, Str(Pelgrin)}}, "0000"},
        Case{"FirstMatchOnly", &NTMPDriverRule,
             {{"0000", "NTMPDriver", RegSz, Str("PELGRIN.sy")}, {"0001", "NTMPDriver", RegSz, Str(Pelgrin)},
              {"0002", "NTMPDriver", RegSz, Str(Pelgrin)}},
             "0001"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ClassEntryScan, MissingClassKeyEndsAtTheFirstEnumeration) {
    host::ResetMachine();
    DeleteMatchingClassEntry(nullptr, PortDriverRule);
    EXPECT_EQ(std::vector<std::string>{"RegEnumKeyA(NULL, 0, buf, 256) = 6"}, host::machine().journal);
}

// Deleting the match renumbers the entries after it; the scan must stop
// rather than look at them again.
TEST(ClassEntryScan, StopsAtTheDeletion) {
    host::ResetMachine();
    host::RegKey& classKey = host::machine().registry.RootKey(host::Root::LocalMachine).Subkey("Class");
    classKey.Subkey("0000").SetValue({"PortDriver", RegSz, {'Q', 'U', 'E', 'N', 'O', 'R', '.', 'V', 'X', 'D', 0}});
    classKey.Subkey("0001");
    HKEY handle = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "Class", &handle));
    host::machine().journal.clear();
    DeleteMatchingClassEntry(handle, PortDriverRule);
    EXPECT_EQ((std::vector<std::string>{
                  "RegEnumKeyA(HKLM\\Class, 0, buf, 256) = 0",
                  "RegOpenKeyA(HKLM\\Class, \"0000\", out) = 0",
                  "RegQueryValueExA(HKLM\\Class\\0000, \"PortDriver\", NULL, NULL, buf, &256) = 0",
                  "RegDeleteKeyA(HKLM\\Class, \"0000\") = 0",
                  "RegCloseKey(HKLM\\Class\\0000) = 0",
              }),
              host::machine().journal);
    host::ResetMachine();
}

}  // namespace
