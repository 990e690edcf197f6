// The whole run, call for call, on the host model.
#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <cstdlib>

#include "support/fixture.h"
#include "uninstall/uninstall.h"

using testing_support::ReadLines;
using testing_support::RunWithAnswers;
using testing_support::ScratchSystem;

namespace {

const std::string Sample = EXAMPLES_DIR "/win98-korvan";

const std::string Box1 =
    "MessageBoxA(NULL, \"You must exit Korvan Modem Utility from your taskbar before you "
    "uninstall Korvan USB Modem.\", \"Korvan-USB\", 0x21)";
const std::string Box2 =
    "MessageBoxA(NULL, \"Are you sure you want to completely uninstall Korvan USB modem ?\", "
    "\"Korvan-USB\", 0x21)";
const std::string Box3 =
    "MessageBoxA(NULL, \"Korvan USB modem is removed successfully !!\", \"Korvan-USB\", 0x0)";

void ExpectJournal(const std::vector<std::string>& expected) {
    const std::vector<std::string>& actual = host::machine().journal;
    for (size_t i = 0; i < std::max(expected.size(), actual.size()); ++i) {
        std::string want = i < expected.size() ? expected[i] : "(nothing)";
        std::string got = i < actual.size() ? actual[i] : "(nothing)";
        ASSERT_EQ(want, got) << "first difference at journal line " << i + 1;
    }
}

// A run that ends at a box: one journal line per box shown, nothing else
// touched.
struct EarlyEnd {
    const char* name;
    std::vector<int> answers;
    std::vector<std::string> journal;
    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const EarlyEnd& c, std::ostream* os) { *os << c.name; }
};

class EarlyEndTest : public testing::TestWithParam<EarlyEnd> {};

TEST_P(EarlyEndTest, LeavesTheSystemUntouched) {
    ScratchSystem system(Sample);
    host::Registry before = host::machine().registry.Clone();
    std::vector<std::string> filesBefore = host::ListFiles();

    EXPECT_EQ(0, RunWithAnswers(GetParam().answers));

    ExpectJournal(GetParam().journal);
    EXPECT_TRUE(host::SameRegistry(before, host::machine().registry));
    EXPECT_EQ(filesBefore, host::ListFiles());
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, EarlyEndTest,
    testing::Values(EarlyEnd{"CancelAtWarning", {IDCANCEL}, {Box1 + " = 2"}},
                    EarlyEnd{"WarningCannotBeShown", {}, {Box1 + " = 0"}},
                    EarlyEnd{"CancelAtConfirmation", {IDOK, IDCANCEL}, {Box1 + " = 1", Box2 + " = 2"}},
                    EarlyEnd{"ConfirmationCannotBeShown", {IDOK, 0}, {Box1 + " = 1", Box2 + " = 0"}},
                    // Only IDOK goes on: any other button ends the run too.
                    EarlyEnd{"OtherButtonAtConfirmation", {IDOK, 7}, {Box1 + " = 1", Box2 + " = 7"}}),
    [](const testing::TestParamInfo<EarlyEnd>& info) { return std::string(info.param.name); });

// A full run against a recorded journal, and the end state it must leave.
struct FullRun {
    const char* name;
    std::string system;  // "" for a machine with no registry entries and no drives
    bool nt;
    const char* golden;
    std::vector<std::string> removedKeys;
    std::vector<std::string> removedFiles;
    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const FullRun& c, std::ostream* os) { *os << c.name; }
};

class FullRunTest : public testing::TestWithParam<FullRun> {};

TEST_P(FullRunTest, MakesEveryCallInOrderAndRemovesOnlyThePackage) {
    const FullRun& run = GetParam();
    ScratchSystem system(run.system);
    host::machine().nt = run.nt;
    host::Registry before = host::machine().registry.Clone();
    std::vector<std::string> filesBefore = host::ListFiles();

    // Box 3's answer is not looked at: give none.
    EXPECT_EQ(0, RunWithAnswers({IDOK, IDOK}));

    std::string golden = std::string(GOLDEN_DIR "/") + run.golden;
    if (std::getenv("KVUNINST_UPDATE_GOLDEN") != nullptr) {
        // Re-records the journal; review the diff before committing it.
        std::string text;
        for (const std::string& line : host::machine().journal) text += line + "\n";
        testing_support::WriteText(golden, text);
    }
    ExpectJournal(ReadLines(golden));
    EXPECT_EQ(0u, host::machine().OpenHandleCount()) << "a registry handle was left open";

    host::RegistryDiff diff = host::Diff(before, host::machine().registry);
    std::vector<std::string> removedKeys;
    for (const auto& [path, below] : diff.removedKeys) removedKeys.push_back(path);
    EXPECT_EQ(run.removedKeys, removedKeys);
    std::vector<std::string> expectedValues;
    if (run.system == Sample) {
        expectedValues.push_back(
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run \"KORVANUSB\"");
    }
    EXPECT_EQ(expectedValues, diff.removedValues);
    EXPECT_TRUE(diff.addedKeys.empty() && diff.addedValues.empty() && diff.changedValues.empty());

    std::vector<std::string> removedFiles;
    std::vector<std::string> filesAfter = host::ListFiles();
    for (const std::string& file : filesBefore) {
        if (std::find(filesAfter.begin(), filesAfter.end(), file) == filesAfter.end()) {
            removedFiles.push_back(file);
        }
    }
    EXPECT_EQ(run.removedFiles, removedFiles);
}

const std::vector<std::string> SampleFiles = {
    "c:\\windows\\HESTRIM.EXE",
    "c:\\windows\\inf\\other\\korvankvusb.inf",
    "c:\\windows\\inf\\other\\korvanquenor.inf",
    "c:\\windows\\inf\\quenor.inf",
    "c:\\windows\\inf\\quenor.pnf",
    "c:\\windows\\system32\\drivers\\pelgrin.lib",
    "c:\\windows\\system32\\drivers\\pelgrin.sys",
    "c:\\windows\\system\\QUENOR.VXD",
    "c:\\windows\\system\\tarvel.vxd",
    "d:\\windows\\inf\\quenor.inf",
    "d:\\windows\\system32\\drivers\\pelgrin.sys",
    "d:\\windows\\system\\quenor.vxd",
};

INSTANTIATE_TEST_SUITE_P(
    Systems, FullRunTest,
    testing::Values(
        FullRun{"EmptySystem", "", false, "empty-system.journal", {}, {}},
        FullRun{"SampleAsWindows98",
                Sample,
                false,
                "sample-98.journal",
                {"HKEY_LOCAL_MACHINE\\Enum\\USB\\KVUSB&VID_0E5A&PID_7B14",
                 "HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_0E5A&PID_7B14",
                 "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KORVANQUENOR",
                 "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0001",
                 "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\USB\\0003",
                 "HKEY_CURRENT_USER\\KVQUENOR"},
                SampleFiles},
        // The class rules' quirks, each entry a near miss but the first match.
        FullRun{"ClassQuirks",
                FIXTURES_DIR "/class-quirks",
                false,
                "class-quirks.journal",
                {"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0003",
                 "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\USB\\0003"},
                {}},
        // Windows 98 lists class entries as they were created, not sorted:
        // the first match in that order goes, where NT takes the lowest name.
        FullRun{"UnsortedClassAs98",
                FIXTURES_DIR "/unsorted-class",
                false,
                "unsorted-class-98.journal",
                {"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0001",
                 "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\USB\\0004"},
                {}},
        FullRun{"UnsortedClassAsNT",
                FIXTURES_DIR "/unsorted-class",
                true,
                "unsorted-class-nt.journal",
                {"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0000",
                 "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\USB\\0003"},
                {}},
        // NT keeps every key that still has subkeys and goes on.
        FullRun{"SampleAsWindowsNT",
                Sample,
                true,
                "sample-nt.journal",
                {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KORVANQUENOR",
                 "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\USB\\0003"},
                SampleFiles}),
    [](const testing::TestParamInfo<FullRun>& info) { return std::string(info.param.name); });

TEST(WinMainArguments, AreIgnored) {
    std::vector<std::string> reference;
    for (const char* commandLine : {"", "/S", "c:\\windows\\kvuninst.exe \"quoted arg\" -x"}) {
        for (int show : {0, 1, 10}) {
            ScratchSystem system(Sample);
            host::machine().responder = host::ScriptedAnswers({IDOK, IDOK, IDOK});
            EXPECT_EQ(0, WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr,
                                 const_cast<LPSTR>(commandLine), show));
            if (reference.empty()) {
                reference = host::machine().journal;
            }
            EXPECT_EQ(reference, host::machine().journal)
                << "command line '" << commandLine << "', show command " << show;
        }
    }
}

}  // namespace
