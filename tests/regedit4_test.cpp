// What Windows 95/98's regedit exports is read as it stands, and written
// back less exactly the lines of what a run removed.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/host/regedit4.h"
#include "platform/host/system_dir.h"
#include "support/fixture.h"
#include "uninstall/uninstall.h"

using testing_support::ScratchSystem;

namespace {

// A whole export in regedit's layout: both roots a bare export writes,
// bare root sections, code page 1252 bytes, wrapped hex, every value form.
const std::string WholeExport =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xe9 M\xfcller\xae]\r\n"
    "@=\"\xab" "default\xbb\"\r\n"
    "\"Path\"=\"C:\\\\Program Files\\\\\\\"Caf\xe9\\\"\"\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
    "  16,17,18\r\n"
    "\"Expand\"=hex(2):25,77,69,6e,64,69,72,25,00\r\n"
    "\"None\"=hex(0):\r\n\r\n"
    "[HKEY_USERS]\r\n\r\n"
    "[HKEY_USERS\\.DEFAULT]\r\n\r\n"
    "[HKEY_USERS\\.DEFAULT\\Control Panel]\r\n"
    "\"Beep\"=\"yes\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xe9 M\xfcller\xae]\r\n"
    "\"Later\"=\"a second section of the same key\"\r\n\r\n";

std::vector<BYTE> Bytes(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }

TEST(Regedit4Reader, LoadsAWholeExportByteExact) {
    host::Registry registry;
    host::LoadResult loaded = host::LoadRegedit4(WholeExport, registry);
    ASSERT_TRUE(loaded.ok) << "line " << loaded.line << ": " << loaded.error;
    EXPECT_TRUE(loaded.sawRoot[static_cast<int>(host::Root::LocalMachine)]);
    EXPECT_TRUE(loaded.sawRoot[static_cast<int>(host::Root::Users)]);
    EXPECT_FALSE(loaded.sawRoot[static_cast<int>(host::Root::CurrentUser)]);

    const host::RegKey* key = registry.Find(host::Root::LocalMachine, "software\\CAF\xe9 m\xfcLLER\xae");
    ASSERT_NE(nullptr, key);
    EXPECT_EQ("Caf\xe9 M\xfcller\xae", key->name);
    // Both sections are one key, in the order the values were set.
    std::vector<std::string> names;
    for (const host::RegValue& v : key->Values()) names.push_back(v.name);
    EXPECT_EQ((std::vector<std::string>{"", "Path", "Count", "Blob", "Expand", "None", "Later"}), names);
    EXPECT_EQ(Bytes(std::string("\xab" "default\xbb", 9) + '\0'), key->FindValue("")->data);
    EXPECT_EQ(Bytes(std::string("C:\\Program Files\\\"Caf\xe9\"") + '\0'), key->FindValue("path")->data);
    EXPECT_EQ(Bytes(std::string("\x2a\0\0\0", 4)), key->FindValue("Count")->data);
    std::vector<BYTE> blob;
    for (int i = 0; i <= 0x18; ++i) blob.push_back(static_cast<BYTE>(i));
    EXPECT_EQ(blob, key->FindValue("Blob")->data);
    EXPECT_EQ(3u, key->FindValue("Blob")->type);
    EXPECT_EQ(2u, key->FindValue("Expand")->type);
    EXPECT_EQ(Bytes(std::string("%windir%") + '\0'), key->FindValue("Expand")->data);
    EXPECT_EQ(0u, key->FindValue("None")->type);
    EXPECT_TRUE(key->FindValue("None")->data.empty());
    EXPECT_NE(nullptr, registry.Find(host::Root::Users, ".DEFAULT\\Control Panel"));
}

TEST(Regedit4Reader, TakesEveryRootABranchExportMayStartAt) {
    for (const char* root : {"HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_CURRENT_USER",
                             "HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"}) {
        SCOPED_TRACE(root);
        host::Registry registry;
        host::LoadResult loaded = host::LoadRegedit4(
            std::string("REGEDIT4\n\n[") + root + "]\n\"v\"=\"1\"\n\n[" + root + "\\Sub]\n", registry);
        ASSERT_TRUE(loaded.ok) << loaded.error;
        int found = 0;
        for (int i = 0; i < host::RootCount; ++i) {
            if (host::RootName(static_cast<host::Root>(i)) != std::string(root)) continue;
            EXPECT_TRUE(loaded.sawRoot[i]);
            EXPECT_NE(nullptr, registry.roots[i]->FindValue("v"));
            EXPECT_NE(nullptr, registry.roots[i]->FindSubkey("sub"));
            ++found;
        }
        EXPECT_EQ(1, found);
    }
}

// What the run took out of a loaded file, and the text that must remain.
struct WriteBackCase {
    const char* name;
    std::string input;
    std::vector<std::string> keys;                             // "HKEY_LOCAL_MACHINE\\A\\B"
    std::vector<std::pair<std::string, std::string>> values;  // key path, value name
    std::string expected;
    friend void PrintTo(const WriteBackCase& c, std::ostream* os) { *os << c.name; }
};

class WriteBackTest : public testing::TestWithParam<WriteBackCase> {};

host::Root RootOf(const std::string& path, std::string* rest) {
    size_t split = path.find('\\');
    *rest = split == std::string::npos ? "" : path.substr(split + 1);
    for (int i = 0; i < host::RootCount; ++i) {
        if (path.substr(0, split) == host::RootName(static_cast<host::Root>(i))) {
            return static_cast<host::Root>(i);
        }
    }
    ADD_FAILURE() << "no root in " << path;
    return host::Root::LocalMachine;
}

TEST_P(WriteBackTest, LeavesEveryOtherByte) {
    const WriteBackCase& c = GetParam();
    host::Registry registry;
    host::RegSource source;
    ASSERT_TRUE(host::LoadRegedit4(c.input, registry, &source).ok);
    size_t removed = 0;
    EXPECT_EQ(c.input, host::WriteBack(c.input, source, &removed));
    EXPECT_EQ(0u, removed);
    for (const std::string& path : c.keys) {
        std::string rest;
        host::Root root = RootOf(path, &rest);
        size_t split = rest.rfind('\\');
        auto parent = host::FindBelow(registry.SharedRoot(root),
                                      split == std::string::npos ? "" : rest.substr(0, split));
        ASSERT_NE(nullptr, parent) << path;
        ASSERT_NE(nullptr, parent->RemoveSubkey(rest.substr(split + 1))) << path;
    }
    for (const auto& [path, name] : c.values) {
        std::string rest;
        host::Root root = RootOf(path, &rest);
        auto key = host::FindBelow(registry.SharedRoot(root), rest);
        ASSERT_NE(nullptr, key) << path;
        ASSERT_TRUE(key->RemoveValue(name)) << path << " " << name;
    }
    EXPECT_EQ(c.expected, host::WriteBack(c.input, source, &removed));
}

const std::string Run = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Run";

INSTANTIATE_TEST_SUITE_P(
    Removals, WriteBackTest,
    testing::Values(
        // A key goes with its subtree's sections and one blank line each;
        // the neighbours stay as they were, whatever their order and case.
        WriteBackCase{"KeyWithSubtree",
                      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Zed]\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\Pkg]\r\n\"A\"=\"1\"\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\Pkg\\Sub]\r\n\"B\"=hex:01,\\\r\n  02\r\n\r\n"
                      "[hkey_local_machine\\alpha]\r\n\"C\"=\"3\"\r\n\r\n",
                      {"HKEY_LOCAL_MACHINE\\Pkg"},
                      {},
                      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Zed]\r\n\r\n"
                      "[hkey_local_machine\\alpha]\r\n\"C\"=\"3\"\r\n\r\n"},
        // A value goes with its continuation lines, nothing else.
        WriteBackCase{"WrappedValue",
                      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Run]\n\"Keep\"=\"x\"\n"
                      "\"Gone\"=hex:01,02,\\\n  03,04,\\\n  05\n\"After\"=dword:00000001\n\n",
                      {},
                      {{Run, "gone"}},
                      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Run]\n\"Keep\"=\"x\"\n"
                      "\"After\"=dword:00000001\n\n"},
        // Comments, odd spacing and a second section of the same key: both
        // of its sections go, the comments stay.
        WriteBackCase{"HandEditedFile",
                      "\nREGEDIT4\n; exported by hand\n[HKEY_LOCAL_MACHINE\\Pkg]\n  \"A\" = \"1\"\n"
                      "; about Pkg\n\n\n[HKEY_LOCAL_MACHINE\\Other]\n\"B\"=\"2\"\n"
                      "[HKEY_LOCAL_MACHINE\\Pkg]\n\"C\"=\"3\"",
                      {"HKEY_LOCAL_MACHINE\\Pkg"},
                      {},
                      "\nREGEDIT4\n; exported by hand\n; about Pkg\n\n"
                      "[HKEY_LOCAL_MACHINE\\Other]\n\"B\"=\"2\"\n"},
        // A value set twice: both lines, or a later import would bring it back.
        WriteBackCase{"ValueSetTwice",
                      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Run]\r\n\"V\"=\"old\"\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Run]\r\n\"v\"=\"new\"\r\n\"W\"=\"w\"\r\n",
                      {},
                      {{Run, "V"}},
                      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Run]\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Run]\r\n\"W\"=\"w\"\r\n"},
        // The last section of a file without a final line end.
        WriteBackCase{"LastSectionWithoutLineEnd",
                      "REGEDIT4\n\n[HKEY_USERS\\John]\n\n[HKEY_USERS\\John\\KVQUENOR]\n\"P\"=\"COM5\"",
                      {"HKEY_USERS\\John\\KVQUENOR"},
                      {},
                      "REGEDIT4\n\n[HKEY_USERS\\John]\n\n"}),
    [](const testing::TestParamInfo<WriteBackCase>& info) { return std::string(info.param.name); });

// Which key HKEY_CURRENT_USER reaches, by what the file holds and --user.
struct CurrentUserCase {
    const char* name;
    std::string sections;  // after the header
    std::string user;      // --user, "" for none
    std::string shown;     // the report's words, "" when refused
    std::string removed;   // where KVQUENOR went from, or the error's words
    friend void PrintTo(const CurrentUserCase& c, std::ostream* os) { *os << c.name; }
};

class CurrentUserTest : public testing::TestWithParam<CurrentUserCase> {};

TEST_P(CurrentUserTest, IsTheFilesOwnOrAUserUnderHkeyUsers) {
    const CurrentUserCase& c = GetParam();
    ScratchSystem system;
    testing_support::WriteText(system.dir() + "/export.reg", "REGEDIT4\n\n" + c.sections);
    host::ResetMachine();
    host::SystemDir loaded;
    std::string error;
    bool ok = host::LoadRegistryFile(system.dir() + "/export.reg", c.user, &loaded, &error);
    if (c.shown.empty()) {
        EXPECT_FALSE(ok);
        EXPECT_NE(std::string::npos, error.find(c.removed)) << error;
        EXPECT_NE(std::string::npos, error.find("export.reg")) << error;
        return;
    }
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(c.shown, loaded.currentUser);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, nullptr, &key));
    RegDeleteKeyA(key, "KVQUENOR");
    RegCloseKey(key);
    ASSERT_EQ(1u, host::machine().removed.keys.size());
    EXPECT_EQ(c.removed, host::machine().removed.keys[0].first);
}

const std::string Default = "[HKEY_USERS\\.DEFAULT]\n\n[HKEY_USERS\\.DEFAULT\\KVQUENOR]\n\n";
const std::string John = "[HKEY_USERS\\John]\n\n[HKEY_USERS\\John\\KVQUENOR]\n\n";
const std::string Mary = "[HKEY_USERS\\Mary]\n\n[HKEY_USERS\\Mary\\KVQUENOR]\n\n";

INSTANTIATE_TEST_SUITE_P(
    Exports, CurrentUserTest,
    testing::Values(
        CurrentUserCase{"OwnSections", Default + "[HKEY_CURRENT_USER\\KVQUENOR]\n", "",
                        "HKEY_CURRENT_USER (the file's own sections)", "HKEY_CURRENT_USER\\KVQUENOR"},
        CurrentUserCase{"TheOneUserBesidesDefault", Default + John, "",
                        "HKEY_USERS\\John (the one user besides .DEFAULT)", "HKEY_USERS\\John\\KVQUENOR"},
        CurrentUserCase{"OnlyDefault", Default, "", "HKEY_USERS\\.DEFAULT (no other user in the file)",
                        "HKEY_USERS\\.DEFAULT\\KVQUENOR"},
        CurrentUserCase{"TwoUsersFallBackToDefault", Default + John + Mary, "",
                        "HKEY_USERS\\.DEFAULT (2 other users; --user picks one)",
                        "HKEY_USERS\\.DEFAULT\\KVQUENOR"},
        CurrentUserCase{"UserPicked", Default + John + Mary, "mary", "HKEY_USERS\\Mary (--user)",
                        "HKEY_USERS\\Mary\\KVQUENOR"},
        CurrentUserCase{"UserNotInTheFile", Default + John, "Bob", "",
                        "--user 'Bob': " /* then the file */},
        CurrentUserCase{"UserNotInTheFileListsNames", Default + John, "Bob", "",
                        "(its users: .DEFAULT, John)"},
        CurrentUserCase{"TwoUsersNoDefault", John + Mary, "", "", "name the current user with --user (John, Mary)"},
        CurrentUserCase{"UserBesideOwnSections", John + "[HKEY_CURRENT_USER\\KVQUENOR]\n", "John", "",
                        "has HKEY_CURRENT_USER sections of its own"}),
    [](const testing::TestParamInfo<CurrentUserCase>& info) { return std::string(info.param.name); });

TEST(JournalStrings, TellTheBackslashFromAByteShownInHex) {
    EXPECT_EQ("\"a\\\\x01\"", host::Quote("a\\x01"));  // the four characters \x01
    EXPECT_EQ("\"a\\x01\"", host::Quote("a\x01"));      // the byte 0x01
    EXPECT_EQ("\"say \\\"hi\\\" \\xE9\"", host::Quote("say \"hi\" \xe9"));
    EXPECT_EQ("NULL", host::Quote(nullptr));
}

}  // namespace
