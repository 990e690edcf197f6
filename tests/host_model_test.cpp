// The host model behaves as Windows 95/98 does for what the uninstaller
// relies on; a wrong model would let a wrong program pass.
#include <gtest/gtest.h>

#include <ostream>
#include <sys/stat.h>

#include <cstring>

#include "platform/host/regedit4.h"
#include "support/fixture.h"
#include "uninstall/uninstall.h"

using testing_support::ScratchSystem;

namespace {

const char Tree[] =
    "REGEDIT4\n\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\b]\n"
    "\"Value\"=\"twelve bytes\"\n\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\A\\Instance]\n\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\C]\n\n"
    "[HKEY_CURRENT_USER\\Top]\n";

HKEY Open(HKEY root, const char* path) {
    HKEY key = reinterpret_cast<HKEY>(0x1);  // shows whether a failure writes null
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(root, path, &key)) << path;
    return key;
}

TEST(HostRegistry, OpenFindsExistingKeysOnlyAndNeverCreates) {
    ScratchSystem system;
    system.SetRegistry(Tree);
    host::Registry before = host::machine().registry.Clone();

    HKEY key = reinterpret_cast<HKEY>(0x1);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\USB\\Missing", &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\Missing\\USB", &key));
    EXPECT_TRUE(host::SameRegistry(before, host::machine().registry));

    HKEY usb = Open(HKEY_LOCAL_MACHINE, "enum\\usb");  // names ignore case
    EXPECT_EQ(HKEY_CURRENT_USER, Open(HKEY_CURRENT_USER, nullptr));
    EXPECT_EQ(HKEY_CURRENT_USER, Open(HKEY_CURRENT_USER, ""));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));  // closing a root is harmless
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(usb));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(usb));
    EXPECT_EQ(0u, host::machine().OpenHandleCount());
}

// Windows 95/98 keeps no order of its own: subkeys enumerate as the file
// first names them (the tree's "b" before "A", and "A" named by a deeper
// section). NT sorts them without regard to case.
TEST(HostRegistry, EnumeratesInFileOrderOn98AndSortedOnNTWithWindowsStatuses) {
    for (bool nt : {false, true}) {
        SCOPED_TRACE(nt ? "NT" : "98");
        ScratchSystem system;
        system.SetRegistry(Tree);
        host::machine().nt = nt;
        HKEY usb = Open(HKEY_LOCAL_MACHINE, "Enum\\USB");
        char name[256];
        std::vector<std::string> names;
        for (DWORD i = 0; RegEnumKeyA(usb, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
            names.push_back(name);
        }
        EXPECT_EQ(nt ? (std::vector<std::string>{"A", "b", "C"})
                     : (std::vector<std::string>{"b", "A", "C"}),
                  names);
        EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyA(usb, 3, name, sizeof name));
        EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyA(usb, 1, name, 2));    // one letter and its terminator
        EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyA(usb, 1, name, 1));  // no room for the terminator
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegEnumKeyA(nullptr, 0, name, sizeof name));
        RegCloseKey(usb);
        EXPECT_EQ(ERROR_INVALID_HANDLE, RegEnumKeyA(usb, 0, name, sizeof name));
    }
}

TEST(HostRegistry, QueryReportsTheDataSizeAndRefusesWhatDoesNotFit) {
    ScratchSystem system;
    system.SetRegistry(Tree);
    HKEY b = Open(HKEY_LOCAL_MACHINE, "Enum\\USB\\b");
    BYTE data[256];
    DWORD length = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(b, "value", nullptr, nullptr, data, &length));
    EXPECT_EQ(13u, length);  // the string with its terminator
    EXPECT_EQ(0, std::memcmp(data, "twelve bytes", 13));
    length = 13;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(b, "Value", nullptr, nullptr, data, &length));
    length = 12;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(b, "Value", nullptr, nullptr, data, &length));
    EXPECT_EQ(13u, length);
    length = sizeof data;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(b, "Other", nullptr, nullptr, data, &length));
    RegCloseKey(b);
}

struct Deletion {
    const char* name;
    bool nt;
    const char* subkey;
    LONG status;
    bool gone;
    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const Deletion& c, std::ostream* os) { *os << c.name; }
};

class HostKeyDeletion : public testing::TestWithParam<Deletion> {};

TEST_P(HostKeyDeletion, TakesTheSubtreeOn98AndRefusesOnNT) {
    const Deletion& d = GetParam();
    ScratchSystem system;
    system.SetRegistry(Tree);
    host::machine().nt = d.nt;
    HKEY usb = Open(HKEY_LOCAL_MACHINE, "Enum\\USB");
    EXPECT_EQ(d.status, RegDeleteKeyA(usb, d.subkey));
    std::string path = std::string("Enum\\USB\\") + d.subkey;
    EXPECT_EQ(d.gone, host::machine().registry.Find(host::Root::LocalMachine, path) == nullptr);
    RegCloseKey(usb);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, HostKeyDeletion,
    testing::Values(Deletion{"LeafOn98", false, "C", ERROR_SUCCESS, true},
                    Deletion{"SubtreeOn98", false, "a", ERROR_SUCCESS, true},
                    Deletion{"LeafOnNT", true, "C", ERROR_SUCCESS, true},
                    Deletion{"SubtreeOnNT", true, "A", ERROR_ACCESS_DENIED, false},
                    Deletion{"Missing", false, "D", ERROR_FILE_NOT_FOUND, true}),
    [](const testing::TestParamInfo<Deletion>& info) { return std::string(info.param.name); });

TEST(HostRegistry, HandlesOnADeletedKeyStillClose) {
    ScratchSystem system;
    system.SetRegistry(Tree);
    HKEY usb = Open(HKEY_LOCAL_MACHINE, "Enum\\USB");
    HKEY instance = Open(usb, "A\\Instance");
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(usb, "A"));
    char name[256];
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegEnumKeyA(instance, 0, name, sizeof name));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(instance));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(Open(usb, "b"), "VALUE"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(Open(usb, "b"), "Value"));
}

// DeleteFileA's answer for each kind of path, as FAT under Windows 98 gives it.
struct FileCase {
    const char* name;
    const char* path;
    BOOL result;
    DWORD error;
    const char* goneFile;  // under the system folder, when the call must remove it
    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }
};

class HostDeleteFile : public testing::TestWithParam<FileCase> {};

TEST_P(HostDeleteFile, ResolvesAndReportsAsWindows) {
    const FileCase& c = GetParam();
    ScratchSystem system;
    system.AddFile("c/windows/system/QUENOR.VXD");
    system.AddFile("c/windows/inf/quenor.inf");
    system.AddFile("c/windows/readonly.txt");
    chmod((system.dir() + "/c/windows/readonly.txt").c_str(), 0444);
    system.AddFile("c/windows/hestrim.exe");
    system.AddDirectory("c/windows/inf/quenor.pnf");
    system.AddFile("c/temp/inf/quenor.inf");
    system.AddFile("c/top.txt");
    host::machine().filesInUse.insert("C:\\WINDOWS\\HESTRIM.EXE");

    EXPECT_EQ(c.result, DeleteFileA(c.path));
    EXPECT_EQ(c.error, GetLastError());
    if (c.goneFile != nullptr) {
        EXPECT_FALSE(system.Exists(c.goneFile));
    }
    // Nothing else goes.
    size_t expected = 6 - (c.goneFile != nullptr ? 1 : 0);
    EXPECT_EQ(expected, host::ListFiles().size());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, HostDeleteFile,
    testing::Values(
        FileCase{"AbsoluteAnyCase", "c:\\windows\\system\\quenor.vxd", TRUE, 0, "c/windows/system/QUENOR.VXD"},
        FileCase{"DriveLetterCase", "C:\\Windows\\Inf\\QUENOR.INF", TRUE, 0, "c/windows/inf/quenor.inf"},
        FileCase{"RelativeToStart", "inf\\quenor.inf", TRUE, 0, "c/windows/inf/quenor.inf"},
        FileCase{"DotDot", "..\\temp\\inf\\quenor.inf", TRUE, 0, "c/temp/inf/quenor.inf"},
        FileCase{"DriveRelative", "c:system\\quenor.vxd", TRUE, 0, "c/windows/system/QUENOR.VXD"},
        FileCase{"RootedOnStartDrive", "\\top.txt", TRUE, 0, "c/top.txt"},
        FileCase{"MissingFile", "c:\\windows\\system\\tarvel.vxd", FALSE, ERROR_FILE_NOT_FOUND, nullptr},
        FileCase{"MissingFolder", "c:\\windows\\system32\\drivers\\pelgrin.sys", FALSE, ERROR_PATH_NOT_FOUND, nullptr},
        FileCase{"FileAsFolder", "c:\\windows\\hestrim.exe\\x", FALSE, ERROR_PATH_NOT_FOUND, nullptr},
        FileCase{"MissingDrive", "d:\\windows\\inf\\quenor.inf", FALSE, ERROR_PATH_NOT_FOUND, nullptr},
        FileCase{"Directory", "c:\\windows\\inf\\quenor.pnf", FALSE, ERROR_ACCESS_DENIED, nullptr},
        FileCase{"ReadOnly", "c:\\windows\\readonly.txt", FALSE, ERROR_ACCESS_DENIED, nullptr},
        FileCase{"InUse", "c:\\windows\\hestrim.exe", FALSE, ERROR_SHARING_VIOLATION, nullptr}),
    [](const testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

// The relative rows act on whatever folder the program was started in.
struct StartCase {
    const char* name;
    const char* start;
    std::vector<std::string> kept;
    // Names the case in test listings instead of dumping its bytes.
    friend void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }
};

class StartDirectory : public testing::TestWithParam<StartCase> {};

TEST_P(StartDirectory, RelativeRowsResolveAgainstIt) {
    ScratchSystem system;
    for (const char* f : {"c/windows/system/quenor.vxd", "c/temp/system/quenor.vxd",
                          "c/temp/inf/other/korvanquenor.inf", "c/temp/hestrim.exe",
                          "d/windows/hestrim.exe", "d/windows/inf/quenor.pnf", "d/win98/inf/quenor.pnf"}) {
        system.AddFile(f);
    }
    host::machine().currentDirectory = GetParam().start;
    EXPECT_EQ(0, testing_support::RunWithAnswers({IDOK, IDOK}));
    EXPECT_EQ(GetParam().kept, host::ListFiles());
}

INSTANTIATE_TEST_SUITE_P(
    Runs, StartDirectory,
    testing::Values(
        // The tray utility is tried only as c:\windows\hestrim.exe.
        StartCase{"WindowsDirectory", "c:\\windows",
                  {"c:\\temp\\hestrim.exe", "c:\\temp\\inf\\other\\korvanquenor.inf",
                   "c:\\temp\\system\\quenor.vxd", "d:\\win98\\inf\\quenor.pnf", "d:\\windows\\hestrim.exe"}},
        StartCase{"OtherFolder", "c:\\temp",
                  {"c:\\temp\\hestrim.exe", "d:\\win98\\inf\\quenor.pnf", "d:\\windows\\hestrim.exe"}},
        // Windows elsewhere is reached only through the relative rows.
        StartCase{"WindowsOnDInAnotherFolder", "d:\\win98",
                  {"c:\\temp\\hestrim.exe", "c:\\temp\\inf\\other\\korvanquenor.inf",
                   "c:\\temp\\system\\quenor.vxd", "d:\\windows\\hestrim.exe"}}),
    [](const testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

}  // namespace
