// Fuzzes the whole run: each input becomes a random Windows 98 system on the
// host model (registry, drives, files, start directory, box answers, NT or 98
// key deletion, sometimes a dry run or one failing call), WinMain runs on it,
// and the end state is held against an expectation worked out here from first
// principles.
// Any difference aborts; deleting something that is not the package's is
// reported as a foreign deletion.
//
// The package's paths, names and bytes are written out again below on
// purpose: an oracle that read the uninstaller's own tables would agree with
// any typo in them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_stats.h"
#include "platform/host/model.h"
#include "platform/platform.h"

namespace {

using host::RegKey;
using host::RegValue;

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

bool SameText(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

// ---------------------------------------------------------------------------
// What the package owns.

const char* const PackageFileNames[] = {
    "system32\\drivers\\pelgrin.sys", "system32\\drivers\\pelgrin.lib",
    "system\\quenor.vxd",             "system\\tarvel.vxd",
    "inf\\other\\korvankvusb.inf",    "inf\\other\\korvanquenor.inf",
    "inf\\quenor.inf",                "inf\\quenor.pnf",
};

// The 25 rows in the order they must be tried.
std::vector<std::string> PackageRows() {
    std::vector<std::string> rows;
    for (const char* name : PackageFileNames) rows.push_back(name);
    for (const char* name : PackageFileNames) rows.push_back(std::string("c:\\windows\\") + name);
    rows.push_back("c:\\windows\\hestrim.exe");
    for (const char* name : PackageFileNames) rows.push_back(std::string("d:\\windows\\") + name);
    return rows;
}

const char ModemClass[] = "System\\CurrentControlSet\\Services\\Class\\Modem";
const char UsbClass[] = "System\\CurrentControlSet\\Services\\Class\\USB";
const char EnumUsb[] = "Enum\\USB";
const char Uninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char Run[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

struct ClassRule {
    const char* path;
    const char* valueName;
    std::string prefix;
    size_t exactSize;  // 0: any size
};
const ClassRule ModemRule = {ModemClass, "PortDriver", "QUENOR.VXD", 0};
const ClassRule UsbRule = {UsbClass, "NTMPDriver", "PELGRIN.sys", 12};

// ---------------------------------------------------------------------------
// The random system.

struct FileNode {
    std::string winPath;   // lower case, "c:\windows\system\quenor.vxd"
    std::string hostPath;  // under the scratch folder, with the case it was given
    enum Kind { Dir, File, ReadOnly } kind;
};

std::string scratchRoot;

void RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* d = opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent* e = readdir(d)) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                    names.push_back(e->d_name);
            }
            closedir(d);
            for (const std::string& n : names) RemoveTree(path + "/" + n);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void MakeScratch() {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    scratchRoot = std::string(base) + "/kvuninst-fuzz-" + std::to_string(getpid());
    RemoveTree(scratchRoot);
    if (mkdir(scratchRoot.c_str(), 0755) != 0) {
        std::perror(scratchRoot.c_str());
        std::abort();
    }
    std::atexit([] { RemoveTree(scratchRoot); });
}

std::string FlipCase(FuzzedDataProvider& in, std::string s) {
    uint8_t mode = in.ConsumeIntegral<uint8_t>() % 4;
    for (size_t i = 0; i < s.size(); ++i) {
        char& c = s[i];
        bool flip = mode == 1 || (mode == 2 && (i % 3 == 0)) || (mode == 3 && i == 0);
        if (!flip) continue;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return s;
}

// A key or value name that Windows could store: no backslash, no NUL.
std::string RandomName(FuzzedDataProvider& in, size_t maxLength) {
    std::string s = in.ConsumeRandomLengthString(maxLength);
    for (char& c : s) {
        if (c == '\\' || c == '\0') c = '_';
    }
    return s.empty() ? "k" : s;
}

// Class entry names: mostly "0000".."0020", sometimes random, sometimes
// around the 256-character limit of the scan's name buffer.
std::string EntryName(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegral<uint8_t>() % 8) {
        case 0: return RandomName(in, 12);
        case 1: {
            size_t n = in.ConsumeIntegralInRange<size_t>(250, 300);
            std::string s(n, 'E');
            s[0] = static_cast<char>('0' + in.ConsumeIntegralInRange<int>(0, 9));
            return s;
        }
        default: {
            char text[8];
            std::snprintf(text, sizeof text, "%04d", in.ConsumeIntegralInRange<int>(0, 20));
            return text;
        }
    }
}

std::vector<BYTE> Bytes(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }

// Data that is, or nearly is, one of the two driver names.
std::vector<BYTE> DriverData(FuzzedDataProvider& in) {
    std::string base = in.ConsumeBool() ? "QUENOR.VXD" : "PELGRIN.sys";
    std::vector<BYTE> d = Bytes(base);
    switch (in.ConsumeIntegral<uint8_t>() % 11) {
        case 0: d.push_back(0); break;                       // as stored
        case 1: break;                                        // no terminator
        case 2: d.push_back(0); d.push_back(0); break;        // one byte long
        case 3: {                                             // one case flip
            size_t i = in.ConsumeIntegralInRange<size_t>(0, d.size() - 1);
            d[i] = static_cast<BYTE>(d[i] ^ 0x20);
            d.push_back(0);
            break;
        }
        case 4: {                                             // one byte off
            size_t i = in.ConsumeIntegralInRange<size_t>(0, d.size() - 1);
            d[i] = static_cast<BYTE>(d[i] + (in.ConsumeBool() ? 1 : -1));
            d.push_back(0);
            break;
        }
        case 5: d.resize(in.ConsumeIntegralInRange<size_t>(0, d.size())); break;
        case 6: {                                             // a longer name
            std::string tail = in.ConsumeRandomLengthString(8);
            d.insert(d.end(), tail.begin(), tail.end());
            d.push_back(0);
            break;
        }
        case 7: d.resize(in.ConsumeIntegralInRange<size_t>(250, 300), 'x'); break;
        case 8: {                                             // any bytes
            size_t n = in.ConsumeIntegralInRange<size_t>(0, 300);
            d = in.ConsumeBytes<BYTE>(n);
            break;
        }
        case 9: d.resize(in.ConsumeIntegralInRange<size_t>(0, 16), 0); break;
        default: d.push_back(0); d.resize(in.ConsumeIntegralInRange<size_t>(11, 13)); break;
    }
    return d;
}

DWORD RandomType(FuzzedDataProvider& in) {
    static const DWORD types[] = {1, 1, 1, 3, 4, 0, 2, 7, 0x4000};
    return types[in.ConsumeIntegral<uint8_t>() % (sizeof types / sizeof types[0])];
}

void RandomValues(FuzzedDataProvider& in, RegKey& key, int most) {
    int n = in.ConsumeIntegralInRange<int>(0, most);
    for (int i = 0; i < n; ++i) {
        RegValue v;
        v.name = in.ConsumeBool() ? "" : RandomName(in, 10);
        v.type = RandomType(in);
        v.data = in.ConsumeBytes<BYTE>(in.ConsumeIntegralInRange<size_t>(0, 20));
        key.SetValue(v);
    }
}

void RandomSubtree(FuzzedDataProvider& in, RegKey& key, int depth) {
    RandomValues(in, key, 2);
    if (depth == 0) return;
    int n = in.ConsumeIntegralInRange<int>(0, 2);
    for (int i = 0; i < n; ++i) RandomSubtree(in, key.Subkey(RandomName(in, 8)), depth - 1);
}

RegKey& Path(FuzzedDataProvider& in, RegKey& root, const std::string& path) {
    RegKey* key = &root;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        key = &key->Subkey(FlipCase(in, path.substr(start, end - start)));
        start = end + 1;
    }
    return *key;
}

// Children from a pool of the package's own names and look-alikes.
void Children(FuzzedDataProvider& in, RegKey& parent, const std::vector<std::string>& pool) {
    int n = in.ConsumeIntegralInRange<int>(0, 4);
    for (int i = 0; i < n; ++i) {
        std::string name = in.ConsumeIntegralInRange<size_t>(0, pool.size()) == pool.size()
                               ? RandomName(in, 10)
                               : pool[in.ConsumeIntegralInRange<size_t>(0, pool.size() - 1)];
        RandomSubtree(in, parent.Subkey(FlipCase(in, name)), in.ConsumeIntegralInRange(0, 2));
    }
}

void ClassKey(FuzzedDataProvider& in, RegKey& hklm, const char* path) {
    RegKey& cls = Path(in, hklm, path);
    static const std::vector<std::string> valueNames = {
        "PortDriver", "NTMPDriver", "PortDriver", "NTMPDriver", "portdriver", "NTMPDRIVER",
        "PortDrive", "PortDriverX", "NTMPDrive", "NTMP Driver", "DriverDesc", ""};
    RandomValues(in, cls, 1);
    if (in.ConsumeBool()) {  // the class key itself carrying the value
        cls.SetValue({in.ConsumeBool() ? "PortDriver" : "NTMPDriver", 1, DriverData(in)});
    }
    int entries = in.ConsumeIntegralInRange<int>(0, 10);
    for (int i = 0; i < entries; ++i) {
        RegKey& entry = cls.Subkey(EntryName(in));
        int values = in.ConsumeIntegralInRange<int>(0, 3);
        for (int j = 0; j < values; ++j) {
            RegValue v;
            v.name = valueNames[in.ConsumeIntegralInRange<size_t>(0, valueNames.size() - 1)];
            v.type = RandomType(in);
            v.data = DriverData(in);
            entry.SetValue(v);
        }
        if (in.ConsumeIntegralInRange(0, 3) == 0) {
            RandomSubtree(in, entry.Subkey(in.ConsumeBool() ? "Init" : RandomName(in, 6)), 1);
        }
    }
}

void BuildRegistry(FuzzedDataProvider& in, host::Registry& reg) {
    RegKey& hklm = reg.RootKey(host::Root::LocalMachine);
    if (in.ConsumeIntegralInRange(0, 3) == 0) {
        // A whole export: the current user is a profile under HKEY_USERS.
        RegKey& users = reg.RootKey(host::Root::Users);
        Children(in, users.Subkey(".DEFAULT"), {"KVQUENOR", "Control Panel"});
        users.Subkey(FlipCase(in, "John"));
        reg.UseUser("john");
    }
    RegKey& hkcu = *reg.currentUser;
    if (in.ConsumeIntegralInRange(0, 7) != 0) {
        RegKey& usb = Path(in, hklm, EnumUsb);
        Children(in, usb, {"VID_0E5A&PID_7B14", "KVUSB&VID_0E5A&PID_7B14", "VID_0E5A&PID_7B15",
                           "VID_0E5A&PID_7B1", "KVUSB&VID_0E5A&PID_7B14 ", "ROOT_HUB"});
    } else if (in.ConsumeBool()) {
        // The device keys where the package's are not: one level off.
        Path(in, hklm, "Enum").Subkey("VID_0E5A&PID_7B14");
    }
    if (in.ConsumeIntegralInRange(0, 7) != 0) ClassKey(in, hklm, ModemClass);
    if (in.ConsumeIntegralInRange(0, 7) != 0) ClassKey(in, hklm, UsbClass);
    if (in.ConsumeBool()) ClassKey(in, hklm, "System\\CurrentControlSet\\Services\\Class\\Ports");
    if (in.ConsumeIntegralInRange(0, 5) != 0) {
        Children(in, Path(in, hklm, Uninstall),
                 {"KORVANQUENOR", "KORVANQUENOR2", "KORVANQUENO", "WinZip"});
    }
    if (in.ConsumeIntegralInRange(0, 5) != 0) {
        RegKey& run = Path(in, hklm, Run);
        static const std::vector<std::string> names = {"KORVANUSB", "korvanusb", "KORVANUSB2",
                                                       "KORVANUS", "ScanRegistry", ""};
        int n = in.ConsumeIntegralInRange<int>(0, 4);
        for (int i = 0; i < n; ++i) {
            run.SetValue({names[in.ConsumeIntegralInRange<size_t>(0, names.size() - 1)],
                          RandomType(in), Bytes(in.ConsumeRandomLengthString(12))});
        }
        if (in.ConsumeBool()) RandomSubtree(in, run.Subkey("KORVANUSB"), 1);
    }
    Children(in, hkcu, {"KVQUENOR", "KVQUENOR2", "Control Panel", "KVQUENO"});
    if (in.ConsumeBool()) Path(in, hkcu, "Software\\KVQUENOR");
    if (in.ConsumeBool()) hkcu.SetValue({"KVQUENOR", 1, Bytes("value, not a key")});
    RandomValues(in, hklm, 1);
}

const size_t MostFileNodes = 40;

struct System {
    std::vector<FileNode> nodes;  // parents before children
    std::set<std::string> inUse;  // lower-case Windows paths
};

// One folder of a Windows-like layout with the package's files, their
// neighbours, read-only copies and folders of the same names.
void Folder(FuzzedDataProvider& in, System& sys, const std::string& winDir,
            const std::string& hostDir, const std::vector<std::string>& pool, int depth);

void Entry(FuzzedDataProvider& in, System& sys, const std::string& winDir,
           const std::string& hostDir, const std::string& name, FileNode::Kind kind) {
    // Every entry costs a few system calls per run; a few dozen are plenty
    // to put something at and beside each of the package's paths.
    if (sys.nodes.size() >= MostFileNodes) return;
    std::string cased = FlipCase(in, name);
    std::string winPath = winDir + "\\" + Lower(name);
    for (const FileNode& n : sys.nodes) {
        if (n.winPath == winPath) return;  // FAT has one entry per name
    }
    sys.nodes.push_back({winPath, hostDir + "/" + cased, kind});
    if (kind != FileNode::Dir && in.ConsumeIntegralInRange(0, 9) == 0) sys.inUse.insert(winPath);
}

const std::vector<std::string>& SubPool(const std::string& name) {
    static const std::map<std::string, std::vector<std::string>> pools = {
        {"windows", {"hestrim.exe", "hestrim.ex", "win.ini", "quenor.vxd", "pelgrin.sys"}},
        {"system", {"quenor.vxd", "tarvel.vxd", "quenor.vx", "quenor.vxd.bak", "serial.vxd",
                    "pelgrin.sys"}},
        {"system32", {"pelgrin.sys"}},
        {"drivers", {"pelgrin.sys", "pelgrin.lib", "pelgrin.sy", "uhcd.sys", "quenor.vxd"}},
        {"inf", {"quenor.inf", "quenor.pnf", "quenor.inf.bak", "mdmgen.inf", "korvankvusb.inf"}},
        {"other", {"korvankvusb.inf", "korvanquenor.inf", "othervend.inf", "quenor.inf"}},
    };
    static const std::vector<std::string> none;
    auto it = pools.find(name);
    return it == pools.end() ? none : it->second;
}

void Folder(FuzzedDataProvider& in, System& sys, const std::string& winDir,
            const std::string& hostDir, const std::vector<std::string>& pool, int depth) {
    int files = in.ConsumeIntegralInRange<int>(0, static_cast<int>(pool.size()));
    for (int i = 0; i < files && !pool.empty(); ++i) {
        const std::string& name = pool[in.ConsumeIntegralInRange<size_t>(0, pool.size() - 1)];
        uint8_t k = in.ConsumeIntegral<uint8_t>() % 8;
        Entry(in, sys, winDir, hostDir, name,
              k == 0 ? FileNode::Dir : k == 1 ? FileNode::ReadOnly : FileNode::File);
    }
    if (depth == 0) return;
    static const std::map<std::string, std::vector<std::string>> below = {
        {"", {"windows", "system", "system32", "inf", "win98"}},
        {"windows", {"system", "system32", "inf"}},
        {"win98", {"system", "inf"}},
        {"system32", {"drivers"}},
        {"inf", {"other"}},
        {"system", {"system"}},
    };
    std::string self = winDir.size() <= 3 ? "" : winDir.substr(winDir.rfind('\\') + 1);
    auto it = below.find(self);
    if (it == below.end()) return;
    for (const std::string& sub : it->second) {
        uint8_t k = in.ConsumeIntegral<uint8_t>() % 16;
        if (k == 0) continue;  // missing
        size_t before = sys.nodes.size();
        // Now and then a file stands where the folder should be.
        Entry(in, sys, winDir, hostDir, sub, k == 1 ? FileNode::File : FileNode::Dir);
        if (sys.nodes.size() == before || sys.nodes.back().kind != FileNode::Dir) continue;
        std::string childWin = sys.nodes.back().winPath;
        std::string childHost = sys.nodes.back().hostPath;
        Folder(in, sys, childWin, childHost, SubPool(sub), depth - 1);
    }
}

void BuildFiles(FuzzedDataProvider& in, System& sys, host::Machine& m) {
    for (char drive : {'c', 'd'}) {
        if (in.ConsumeIntegralInRange(0, 9) == 0) continue;  // no such drive
        std::string hostDir = scratchRoot + "/" + drive;
        sys.nodes.push_back({std::string(1, drive) + ":", hostDir, FileNode::Dir});
        m.drives[drive] = hostDir;
        Folder(in, sys, std::string(1, drive) + ":", hostDir, {"hestrim.exe", "quenor.vxd"}, 3);
    }
}

// What the scratch folder holds between runs: host path to kind. Consecutive
// inputs are mostly small mutations of each other, so the next system is
// made by changing only what differs, which saves most of the system calls.
std::map<std::string, FileNode::Kind> onDisk;

void Create(const System& sys) {
    std::map<std::string, FileNode::Kind> wanted;
    for (const FileNode& n : sys.nodes) wanted[n.hostPath] = n.kind;
    // Deepest first, so a folder is empty by the time it goes.
    std::vector<std::string> stale;
    for (const auto& [path, kind] : onDisk) {
        auto it = wanted.find(path);
        if (it == wanted.end() || it->second != kind) stale.push_back(path);
    }
    for (size_t i = stale.size(); i-- > 0;) {
        if (onDisk[stale[i]] == FileNode::Dir) {
            RemoveTree(stale[i]);  // also whatever is below it that stays wanted
        } else {
            unlink(stale[i].c_str());
        }
    }
    for (const std::string& path : stale) onDisk.erase(path);
    for (auto it = onDisk.begin(); it != onDisk.end();) {
        struct stat st;
        it = lstat(it->first.c_str(), &st) == 0 ? std::next(it) : onDisk.erase(it);
    }
    for (const FileNode& n : sys.nodes) {
        if (onDisk.count(n.hostPath)) continue;
        int rc = 0;
        if (n.kind == FileNode::Dir) {
            rc = mkdir(n.hostPath.c_str(), 0755);
        } else {
            int fd = open(n.hostPath.c_str(), O_CREAT | O_EXCL | O_WRONLY,
                          n.kind == FileNode::ReadOnly ? 0444 : 0644);
            rc = fd < 0 ? -1 : close(fd);
        }
        if (rc != 0) {
            std::perror(n.hostPath.c_str());
            std::abort();
        }
        onDisk[n.hostPath] = n.kind;
    }
}

// After a run that passed the checks: the tree is the system less what the
// run deleted.
void Settle(const System& sys, const std::set<std::string>& deleted) {
    for (const FileNode& n : sys.nodes) {
        if (deleted.count(n.winPath)) onDisk.erase(n.hostPath);
    }
}

// ---------------------------------------------------------------------------
// The expectation.

struct Breach {
    std::set<std::string> deleted;     // files the run removed, as expected
    std::vector<std::string> foreign;  // things gone that are not the package's
    std::vector<std::string> other;
    bool Any() const { return !foreign.empty() || !other.empty(); }
};

std::string Join(const std::string& cwd, const std::string& rel) {
    std::string base = Lower(cwd);
    while (!base.empty() && base.back() == '\\') base.pop_back();
    return base + "\\" + rel;
}

// Where the journal's faulted call sits and what it was.
struct Fault {
    bool active = false;
    size_t index = 0;
    std::string line;
    bool Is(const std::string& prefix) const {
        return active && line.compare(0, prefix.size(), prefix) == 0;
    }
};

const RegKey* Child(const RegKey* key, const std::string& name) {
    if (key == nullptr) return nullptr;
    for (const auto& sub : key->Subkeys()) {
        if (SameText(sub->name, name)) return sub.get();
    }
    return nullptr;
}

const RegKey* Walk(const RegKey* key, const std::string& path) {
    size_t start = 0;
    while (key != nullptr && start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        key = Child(key, path.substr(start, end - start));
        start = end + 1;
    }
    return key;
}

void EraseChild(RegKey& parent, const std::string& name) {
    if (const RegKey* child = Child(&parent, name)) parent.RemoveSubkey(child->name);
}

// A class key's entries in the order RegEnumKeyA must give them: as they
// were created on 98, sorted by their upper-case form on NT.
std::vector<const RegKey*> EnumerationOrder(const RegKey& cls, bool nt) {
    std::vector<const RegKey*> entries;
    for (const auto& sub : cls.Subkeys()) entries.push_back(sub.get());
    if (nt) {
        auto upper = [](std::string s) {
            for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return s;
        };
        std::stable_sort(entries.begin(), entries.end(), [&](const RegKey* a, const RegKey* b) {
            std::string x = upper(a->name), y = upper(b->name);
            return std::lexicographical_compare(
                x.begin(), x.end(), y.begin(), y.end(),
                [](char p, char q) { return static_cast<unsigned char>(p) < static_cast<unsigned char>(q); });
        });
    }
    return entries;
}

RegKey* MutableWalk(RegKey& root, const std::string& path) {
    return const_cast<RegKey*>(Walk(&root, path));
}

struct Step {
    const char* root;  // "HKLM" or "HKCU"
    const char* path;  // nullptr for the root itself
};
const Step Steps[7] = {{"HKLM", EnumUsb},   {"HKLM", EnumUsb}, {"HKLM", ModemClass},
                       {"HKLM", UsbClass},  {"HKLM", Uninstall}, {"HKLM", Run},
                       {"HKCU", nullptr}};

std::string OpenLine(const Step& s) {
    return std::string("RegOpenKeyA(") + s.root + ", " + host::Quote(s.path) + ", out) = ";
}

// The class entry the scan must delete, or "" for none.
std::string ExpectedClassDeletion(const RegKey* cls, const ClassRule& rule, bool nt,
                                  const Fault& fault, bool classOpenFaulted) {
    if (cls == nullptr || classOpenFaulted) return "";
    std::string show = std::string("HKLM\\") + rule.path;
    size_t index = 0;
    for (const RegKey* entry : EnumerationOrder(*cls, nt)) {
        const std::string& name = entry->name;
        if (fault.Is("RegEnumKeyA(" + show + ", " + std::to_string(index) + ", buf, 256) = ")) return "";
        if (name.size() >= 256) return "";  // does not fit the name buffer
        ++index;
        if (fault.Is("RegOpenKeyA(" + show + ", " + host::Quote(name.c_str()) + ", out) = ")) continue;
        if (fault.Is("RegQueryValueExA(" + show + "\\" + name + ", " + host::Quote(rule.valueName) +
                     ", NULL, NULL, buf, &256) = ")) {
            continue;
        }
        const RegValue* value = nullptr;
        for (const RegValue& v : entry->Values()) {
            if (SameText(v.name, rule.valueName)) value = &v;
        }
        if (value == nullptr || value->data.size() > 256) continue;
        if (rule.exactSize != 0 && value->data.size() != rule.exactSize) continue;
        if (value->data.size() < rule.prefix.size() ||
            std::memcmp(value->data.data(), rule.prefix.data(), rule.prefix.size()) != 0) {
            continue;
        }
        if (fault.Is("RegDeleteKeyA(" + show + ", " + host::Quote(name.c_str()) + ") = ")) return "";
        if (nt && !entry->Subkeys().empty()) return "";
        return name;
    }
    return "";
}

bool IsClassTarget(const RegKey& entry, const ClassRule& rule) {
    for (const RegValue& v : entry.Values()) {
        if (!SameText(v.name, rule.valueName)) continue;
        return v.data.size() <= 256 && (rule.exactSize == 0 || v.data.size() == rule.exactSize) &&
               v.data.size() >= rule.prefix.size() &&
               std::memcmp(v.data.data(), rule.prefix.data(), rule.prefix.size()) == 0;
    }
    return false;
}

// Whether a key that went missing (full path, topmost) is one of the
// package's targets.
bool IsTargetKey(const host::Registry& before, const std::string& path) {
    std::string p = Lower(path);
    static const char* const fixed[] = {
        "hkey_local_machine\\enum\\usb\\vid_0e5a&pid_7b14",
        "hkey_local_machine\\enum\\usb\\kvusb&vid_0e5a&pid_7b14",
        "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\uninstall\\korvanquenor"};
    for (const char* f : fixed) {
        if (p == f) return true;
    }
    // HKEY_CURRENT_USER may be a user's profile under HKEY_USERS.
    std::string user = before.currentUserName.empty() ? "hkey_current_user"
                                                      : "hkey_users\\" + Lower(before.currentUserName);
    if (p == user + "\\kvquenor") return true;
    for (const ClassRule* rule : {&ModemRule, &UsbRule}) {
        std::string prefix = "hkey_local_machine\\" + Lower(rule->path) + "\\";
        if (p.compare(0, prefix.size(), prefix) != 0) continue;
        std::string name = path.substr(prefix.size());
        if (name.find('\\') != std::string::npos) return false;
        const RegKey* entry = Child(Walk(&before.RootKey(host::Root::LocalMachine), rule->path), name);
        return entry != nullptr && IsClassTarget(*entry, *rule);
    }
    return false;
}

struct RunSetup {
    bool nt = false;
    bool dryRun = false;  // the model deletes no host file
    std::string cwd;
    std::vector<int> answers;
    std::optional<host::InjectedFault> fault;
};

Breach Check(const RunSetup& run, const System& sys, const host::Registry& before,
             const host::Machine& m) {
    Breach b;
    const std::vector<std::string>& j = m.journal;
    Fault fault;
    if (run.fault && run.fault->call < j.size()) {
        fault = {true, run.fault->call, j[run.fault->call]};
    }
    auto box = [&](size_t i) -> int {
        if (fault.active && fault.index == i) return 0;
        return i < run.answers.size() ? run.answers[i] : 0;
    };
    bool go = box(0) == IDOK && box(1) == IDOK;

    // --- the journal: what was attempted
    std::vector<std::string> rows = PackageRows();
    size_t stepStart[8] = {};
    if (!go) {
        size_t want = box(0) == IDOK ? 2 : 1;
        if (j.size() != want) b.other.push_back("the run went on after a box that was not OK");
    } else {
        for (size_t r = 0; r < rows.size(); ++r) {
            std::string want = "DeleteFileA(" + host::Quote(rows[r].c_str()) + ") = ";
            if (2 + r >= j.size() || j[2 + r].compare(0, want.size(), want) != 0) {
                b.other.push_back("file row " + std::to_string(r + 1) + " not attempted: " + want);
                return b;
            }
        }
        size_t at = 2 + rows.size();
        for (int s = 0; s < 7; ++s) {
            std::string want = OpenLine(Steps[s]);
            while (at < j.size() && j[at].compare(0, want.size(), want) != 0) ++at;
            if (at == j.size()) {
                b.other.push_back("registry step " + std::to_string(s + 1) + " not attempted");
                return b;
            }
            stepStart[s] = at++;
        }
        stepStart[7] = j.size() - 1;
        const std::string last = "MessageBoxA(NULL, \"Korvan USB modem is removed successfully !!\", "
                                 "\"Korvan-USB\", 0x0) = ";
        if (j.back().compare(0, last.size(), last) != 0) b.other.push_back("no final box");
        // A fixed-name step whose open gave a key must act on it and close it.
        for (int s : {0, 1, 4, 5, 6}) {
            size_t at = stepStart[s];
            bool opened = j[at].substr(j[at].rfind(" = ") + 3) == "0" &&
                          !(fault.active && fault.index == at);
            bool closed = false;
            for (size_t i = at + 1; i < stepStart[s + 1]; ++i) {
                closed = closed || j[i].compare(0, 12, "RegCloseKey(") == 0;
            }
            if (opened && stepStart[s + 1] - at < 3) {
                b.other.push_back("registry step " + std::to_string(s + 1) + " did not act");
            }
            if (!closed) b.other.push_back("registry step " + std::to_string(s + 1) + " did not close");
        }
        for (int s : {2, 3}) {
            if (stepStart[s] + 1 >= j.size() || j[stepStart[s] + 1].compare(0, 12, "RegEnumKeyA(") != 0) {
                b.other.push_back("class step " + std::to_string(s + 1) + " did not enumerate");
            }
        }
        bool closeFaulted = fault.Is("RegCloseKey(");
        if (m.OpenHandleCount() > (closeFaulted ? 1u : 0u)) {
            b.other.push_back(std::to_string(m.OpenHandleCount()) + " handle(s) left open");
        }
    }

    // --- files: expected end state
    std::set<std::string> expectGone;
    if (go) {
        for (size_t r = 0; r < rows.size(); ++r) {
            if (fault.active && fault.index == 2 + r) continue;
            std::string target = Lower(rows[r]);
            if (target.size() < 2 || target[1] != ':') target = Join(run.cwd, target);
            for (const FileNode& n : sys.nodes) {
                if (n.winPath == target && n.kind == FileNode::File && !sys.inUse.count(target)) {
                    expectGone.insert(n.winPath);
                }
            }
        }
    }
    std::set<std::string> targets;
    for (const std::string& row : rows) {
        targets.insert(row[1] == ':' ? Lower(row) : Join(run.cwd, Lower(row)));
    }
    // One directory read per folder tells what is there and what kind it is.
    std::map<std::string, std::map<std::string, bool>> listed;  // dir -> name -> is a folder
    auto list = [&](const std::string& dir) -> const std::map<std::string, bool>& {
        auto it = listed.find(dir);
        if (it != listed.end()) return it->second;
        std::map<std::string, bool>& names = listed[dir];
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d)) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                    names[e->d_name] = e->d_type == DT_DIR;
                }
            }
            closedir(d);
        }
        return names;
    };
    std::map<std::string, size_t> known;  // dir -> entries of ours found in it
    for (const FileNode& n : sys.nodes) {
        size_t slash = n.hostPath.rfind('/');
        const auto& names = list(n.hostPath.substr(0, slash));
        auto it = names.find(n.hostPath.substr(slash + 1));
        bool there = it != names.end();
        bool gone = !run.dryRun && expectGone.count(n.winPath) != 0;
        if (!there && !gone) {
            (targets.count(n.winPath) ? b.other : b.foreign).push_back("file " + n.winPath + " deleted");
        } else if (there && gone) {
            b.other.push_back("file " + n.winPath + " kept though it could go");
        } else if (there && it->second != (n.kind == FileNode::Dir)) {
            b.other.push_back("file " + n.winPath + " changed kind");
        } else if (there && n.kind == FileNode::ReadOnly) {
            struct stat st;
            if (lstat(n.hostPath.c_str(), &st) != 0 || (st.st_mode & 0222) != 0) {
                b.other.push_back("file " + n.winPath + " lost its read-only mode");
            }
        }
        if (there) ++known[n.hostPath.substr(0, slash)];
    }
    for (const FileNode& n : sys.nodes) {
        if (n.kind == FileNode::Dir && list(n.hostPath).size() != known[n.hostPath]) {
            b.other.push_back("something created in " + n.winPath);
        }
    }
    if (list(scratchRoot).size() != known[scratchRoot]) b.other.push_back("a drive was created");
    // What the run reports as removed is what went, or on a dry run what
    // would have gone: the same either way.
    std::set<std::string> reported;
    for (const std::string& f : m.removed.files) reported.insert(Lower(f));
    if (reported != expectGone) {
        b.other.push_back(std::to_string(reported.size()) + " file(s) reported removed, " +
                          std::to_string(expectGone.size()) + " expected");
    }
    if (!run.dryRun) b.deleted = expectGone;

    // --- registry: expected end state
    host::Registry expect = before.Clone();
    if (go) {
        auto fixed = [&](int s, const char* name, bool value) {
            if (fault.active && (fault.index == stepStart[s] || fault.index == stepStart[s] + 1)) return;
            RegKey* parent = Steps[s].path ? MutableWalk(Steps[s].root[2] == 'L'
                                                             ? expect.RootKey(host::Root::LocalMachine)
                                                             : *expect.currentUser,
                                                         Steps[s].path)
                                           : expect.currentUser.get();
            if (parent == nullptr) return;
            if (value) {
                for (const RegValue& v : parent->Values()) {
                    if (SameText(v.name, name)) {
                        parent->RemoveValue(std::string(v.name));
                        break;
                    }
                }
                return;
            }
            const RegKey* child = Child(parent, name);
            if (child == nullptr || (run.nt && !child->Subkeys().empty())) return;
            EraseChild(*parent, name);
        };
        fixed(0, "VID_0E5A&PID_7B14", false);
        fixed(1, "KVUSB&VID_0E5A&PID_7B14", false);
        for (int s : {2, 3}) {
            const ClassRule& rule = s == 2 ? ModemRule : UsbRule;
            RegKey* cls = MutableWalk(expect.RootKey(host::Root::LocalMachine), rule.path);
            bool openFaulted = fault.active && fault.index == stepStart[s];
            // A fault inside the other scan must not be mistaken for this one's.
            Fault here = fault.active && fault.index > stepStart[s] && fault.index < stepStart[s + 1]
                             ? fault
                             : Fault{};
            std::string gone = ExpectedClassDeletion(cls, rule, run.nt, here, openFaulted);
            if (!gone.empty()) EraseChild(*cls, gone);
        }
        fixed(4, "KORVANQUENOR", false);
        fixed(5, "KORVANUSB", true);
        fixed(6, "KVQUENOR", false);
    }
    if (!host::SameRegistry(expect, m.registry)) {
        host::RegistryDiff diff = host::Diff(expect, m.registry);
        for (const auto& [path, below] : diff.removedKeys) {
            bool ours = IsTargetKey(before, path);
            (ours ? b.other : b.foreign).push_back("key " + path + " deleted");
        }
        for (const std::string& v : diff.removedValues) {
            bool ours = SameText(v, std::string("HKEY_LOCAL_MACHINE\\") + Run + " \"KORVANUSB\"");
            (ours ? b.other : b.foreign).push_back("value " + v + " deleted");
        }
        for (const auto& [path, below] : host::Diff(m.registry, expect).removedKeys) {
            b.other.push_back("key " + path + " kept though it should go");
        }
        for (const std::string& v : host::Diff(m.registry, expect).removedValues) {
            b.other.push_back("value " + v + " kept though it should go");
        }
        for (const std::string& v : diff.addedKeys) b.other.push_back("key " + v + " created");
        for (const std::string& v : diff.addedValues) b.other.push_back("value " + v + " created");
        for (const std::string& v : diff.changedValues) b.other.push_back("value " + v + " changed");
        if (!b.Any()) b.other.push_back("registry differs from the expectation");
    }
    return b;
}

const char* const CwdChoices[] = {"c:\\windows", "C:\\WINDOWS", "c:\\windows\\", "d:\\windows",
                                  "c:\\",        "c:\\win98",   "c:\\windows\\system",
                                  "e:\\windows"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (scratchRoot.empty()) MakeScratch();
    FuzzedDataProvider in(data, size);
    host::ResetMachine();
    host::Machine& m = host::machine();

    RunSetup run;
    run.nt = in.ConsumeIntegralInRange(0, 3) == 0;
    run.dryRun = in.ConsumeIntegralInRange(0, 3) == 0;
    run.cwd = CwdChoices[in.ConsumeIntegralInRange<size_t>(0, 7)];
    for (int i = 0; i < 3; ++i) {
        static const int answers[] = {IDOK, IDOK, IDOK, IDOK, IDOK, IDCANCEL, 0, 6};
        run.answers.push_back(answers[in.ConsumeIntegral<uint8_t>() % 8]);
    }
    if (in.ConsumeIntegralInRange(0, 3) == 0) {
        static const LONG errors[] = {2, 3, 5, 6, 32, 87, 234, 259};
        run.fault = host::InjectedFault{in.ConsumeIntegralInRange<size_t>(0, 90),
                                        errors[in.ConsumeIntegral<uint8_t>() % 8]};
    }
    System sys;
    BuildFiles(in, sys, m);
    BuildRegistry(in, m.registry);

    m.nt = run.nt;
    m.dryRun = run.dryRun;
    m.currentDirectory = run.cwd;
    m.responder = host::ScriptedAnswers(run.answers);
    m.fault = run.fault;
    for (const std::string& held : sys.inUse) m.filesInUse.insert(FlipCase(in, held));
    host::Registry before = m.registry.Clone();
    Create(sys);

    int result = WinMain(nullptr, nullptr, const_cast<LPSTR>(""), 10);

    Breach b = Check(run, sys, before, m);
    if (result != 0) b.other.push_back("WinMain returned " + std::to_string(result));
    fuzzstats::CountInput();
    if (b.Any()) {
        std::fprintf(stderr, "kvuninst run oracle: breach (%s mode%s, cwd %s)\n",
                     run.nt ? "NT" : "98", run.dryRun ? ", dry run" : "", run.cwd.c_str());
        for (const std::string& s : b.foreign) std::fprintf(stderr, "  foreign deletion: %s\n", s.c_str());
        for (const std::string& s : b.other) std::fprintf(stderr, "  %s\n", s.c_str());
        std::fprintf(stderr, "journal:\n");
        for (const std::string& line : m.journal) std::fprintf(stderr, "  %s\n", line.c_str());
        fuzzstats::CountFault(b.foreign.size());
        std::abort();
    }
    Settle(sys, b.deleted);
    // Free now what the run allocated: libFuzzer suspects a leak, and checks
    // at great cost, whenever an input ends with more allocations than frees.
    host::ResetMachine();
    return 0;
}
