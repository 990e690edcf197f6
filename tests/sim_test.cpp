// kvuninst-sim's input path, run as a user runs it: bad options, folders and
// registry files must give one message naming the file and line, exit 2 and
// leave every file as it was; a good system loses exactly the package; and
// write-back replaces registry.reg whole or not at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/fixture.h"

namespace fs = std::filesystem;

namespace {

using testing_support::ReadText;
using testing_support::WriteText;

const std::string Sample = EXAMPLES_DIR "/win98-korvan";

// A copy of the sample in a fresh folder, removed afterwards.
class SystemCopy {
public:
    SystemCopy() {
        std::string pattern = (fs::temp_directory_path() / "kvuninst-sim-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a scratch folder";
        root_ = pattern;
        fs::copy(Sample, dir(), fs::copy_options::recursive);
    }
    ~SystemCopy() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::string root() const { return root_; }
    std::string dir() const { return root_ + "/system"; }
    std::string reg() const { return dir() + "/registry.reg"; }

private:
    std::string root_;
};

struct SimRun {
    int exitCode = -1;  // -1 when killed
    int signal = 0;
    std::string out;
    std::string err;
};

// Runs the sim with `args`; `inChild` runs between fork and exec (limits,
// signal dispositions).
SimRun RunSim(const std::vector<std::string>& args, const std::string& scratch,
              const std::function<void()>& inChild = {}) {
    std::string outFile = scratch + "/sim.out";
    std::string errFile = scratch + "/sim.err";
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(out, 1);
        dup2(err, 2);
        dup2(in, 0);
        alarm(30);  // a sim that hangs on its input fails the test instead of stalling it
        if (inChild) inChild();
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(SIM_PATH));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(SIM_PATH, argv.data());
        _exit(127);
    }
    SimRun run;
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    run.out = ReadText(outFile);
    run.err = ReadText(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return run;
}

// Every entry below `dir`: its kind, mode and bytes.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> snap;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        struct stat st;
        lstat(entry.path().c_str(), &st);
        std::string what = std::to_string(st.st_mode) + ":";
        if (S_ISREG(st.st_mode)) what += ReadText(entry.path().string());
        snap[fs::relative(entry.path(), dir).string()] = what;
    }
    return snap;
}

const std::string Header = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Enum]\n";

struct BadInput {
    const char* what;
    // Prepares the copy; returns the arguments for the sim.
    std::function<std::vector<std::string>(const SystemCopy&)> setup;
    // Must all appear in the message ({reg} stands for registry.reg's path,
    // {dir} for the system folder).
    std::vector<std::string> message;
};

std::vector<std::string> Yes(const SystemCopy& s) { return {"--yes", s.dir()}; }

// Replaces registry.reg with `text`.
std::function<std::vector<std::string>(const SystemCopy&)> Registry(std::string text) {
    return [text](const SystemCopy& s) {
        WriteText(s.reg(), text);
        return Yes(s);
    };
}

std::string Expand(std::string text, const SystemCopy& s) {
    for (auto [key, value] : {std::pair<std::string, std::string>{"{reg}", s.reg()},
                              {"{dir}", s.dir()}}) {
        for (size_t at; (at = text.find(key)) != std::string::npos;) text.replace(at, key.size(), value);
    }
    return text;
}

TEST(SimInput, BadInputIsNamedExitsTwoAndTouchesNothing) {
    std::string megabyte(1 << 20, 'z');
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919 + 13) % 256);
    const std::vector<BadInput> cases = {
        {"unknown option", [](const SystemCopy& s) { return std::vector<std::string>{"--bogus", s.dir()}; },
         {"unknown option '--bogus'"}},
        {"no folder given", [](const SystemCopy&) { return std::vector<std::string>{"--yes"}; },
         {"no SYSTEM_DIR given"}},
        {"missing folder", [](const SystemCopy& s) { return std::vector<std::string>{s.dir() + "/none"}; },
         {"{dir}/none", "No such file or directory"}},
        {"folder is a file", [](const SystemCopy& s) { return std::vector<std::string>{s.reg()}; },
         {"{reg}", "not a folder"}},
        {"registry.reg missing",
         [](const SystemCopy& s) {
             fs::remove(s.reg());
             return Yes(s);
         },
         {"{reg}", "No such file or directory"}},
        {"registry.reg is a folder",
         [](const SystemCopy& s) {
             fs::remove(s.reg());
             fs::create_directory(s.reg());
             return Yes(s);
         },
         {"{reg}", "not a regular file"}},
        {"registry.reg is a FIFO",
         [](const SystemCopy& s) {
             fs::remove(s.reg());
             mkfifo(s.reg().c_str(), 0644);
             return Yes(s);
         },
         {"{reg}", "not a regular file"}},
        {"empty registry.reg", Registry(""), {"{reg}:1:", "REGEDIT4", "empty"}},
        {"no header", Registry("[HKEY_LOCAL_MACHINE\\Enum]\n"), {"{reg}:1:", "header line REGEDIT4"}},
        {"version 5 header", Registry("Windows Registry Editor Version 5.00\n\n"),
         {"{reg}:1:", "header line REGEDIT4", "Windows Registry Editor"}},
        {"unterminated string", Registry(Header + "\"a\"=\"open\n"), {"{reg}:4:", "unterminated string"}},
        {"unterminated value name", Registry(Header + "\"c\n"), {"{reg}:4:", "unterminated value name"}},
        {"unterminated section", Registry(Header + "\n[HKEY_LOCAL_MACHINE\\Enum\\USB\n"),
         {"{reg}:5:", "unterminated section"}},
        {"bad hex", Registry(Header + "\"a\"=hex:41,4g\n"), {"{reg}:4:", "bad hex"}},
        {"bad hex(type)", Registry(Header + "\"a\"=hex(q):41\n"), {"{reg}:4:", "hex(N)"}},
        {"bad dword", Registry(Header + "\"a\"=dword:123456789\n"), {"{reg}:4:", "bad dword"}},
        {"bad escape", Registry(Header + "\"a\"=\"C:\\WINDOWS\"\n"), {"{reg}:4:", "bad escape \\W"}},
        {"empty key name", Registry(Header + "[HKEY_LOCAL_MACHINE\\Enum\\\\USB]\n"),
         {"{reg}:4:", "empty key name"}},
        {"unknown root", Registry(Header + "[HKEY_PERFORMANCE_DATA\\Global]\n"),
         {"{reg}:4:", "unknown root 'HKEY_PERFORMANCE_DATA'", "HKEY_USERS", "HKEY_DYN_DATA"}},
        {"value before any section", Registry("REGEDIT4\n\"a\"=\"b\"\n"), {"{reg}:2:", "before the first"}},
        {"a 1 MB line", Registry(Header + "\"a\"=hex:" + megabyte + "\n"), {"{reg}:4:", "bad hex", "..."}},
        {"hex continued past the end", Registry(Header + "\"a\"=hex:41,\\\n  42,\\\n"),
         {"{reg}:", "ends inside a continued hex value"}},
        {"binary garbage", Registry(garbage), {"{reg}:1:", "header line REGEDIT4"}},
        {"binary garbage after the header", Registry(Header + garbage), {"{reg}:4:"}},
        {"relative --cwd", [](const SystemCopy& s) { return std::vector<std::string>{"--yes", "--cwd", "windows", s.dir()}; },
         {"--cwd 'windows'", "absolute path"}},
        {"--cwd not on the system",
         [](const SystemCopy& s) {
             return std::vector<std::string>{"--yes", "--cwd", "c:\\nowhere", s.dir()};
         },
         {"--cwd 'c:\\nowhere'", "no such directory", "{dir}"}},
        {"--cwd on a file",
         [](const SystemCopy& s) {
             return std::vector<std::string>{"--yes", "--cwd", "c:\\windows\\win.ini", s.dir()};
         },
         {"--cwd 'c:\\windows\\win.ini'", "no such directory"}},
        {"--cwd without a value", [](const SystemCopy& s) { return std::vector<std::string>{s.dir(), "--cwd"}; },
         {"--cwd needs a directory"}},
        {"bad --answers", [](const SystemCopy& s) { return std::vector<std::string>{"--answers", "ok,maybe", s.dir()}; },
         {"'maybe' is not ok, cancel or none"}},
        {"--drive without a letter", [](const SystemCopy& s) { return std::vector<std::string>{"--drive", "c", s.dir()}; },
         {"--drive 'c': expected LETTER=DIR"}},
        {"--drive to a missing folder",
         [](const SystemCopy& s) {
             return std::vector<std::string>{"--yes", "--drive", "e=" + s.root() + "/none", s.dir()};
         },
         {"--drive e=", "none", "No such file or directory"}},
        {"--drive to a file",
         [](const SystemCopy& s) { return std::vector<std::string>{"--yes", "--drive", "c=" + s.reg(), s.dir()}; },
         {"--drive c={reg}", "not a folder"}},
        {"--drive twice",
         [](const SystemCopy& s) {
             return std::vector<std::string>{"--drive", "c=" + s.dir() + "/c", "--drive", "C=" + s.dir() + "/d", s.dir()};
         },
         {"--drive c: given twice"}},
        {"--registry missing",
         [](const SystemCopy& s) {
             return std::vector<std::string>{"--yes", "--registry", s.root() + "/none.reg", "--drive", "c=" + s.dir() + "/c"};
         },
         {"none.reg", "No such file or directory"}},
        {"--registry without a drive", [](const SystemCopy& s) { return std::vector<std::string>{"--yes", "--registry", s.reg()}; },
         {"no SYSTEM_DIR given", "--drive"}},
        {"--user not in the file",
         [](const SystemCopy& s) {
             WriteText(s.reg(), "REGEDIT4\n\n[HKEY_USERS\\.DEFAULT]\n\n[HKEY_USERS\\John]\n");
             return std::vector<std::string>{"--yes", "--user", "Bob", s.dir()};
         },
         {"--user 'Bob'", "{reg}", "has no HKEY_USERS\\Bob", "(its users: .DEFAULT, John)"}},
        {"--user beside the file's own current user",
         [](const SystemCopy& s) { return std::vector<std::string>{"--yes", "--user", "John", s.dir()}; },
         {"--user 'John'", "{reg}", "HKEY_CURRENT_USER sections of its own"}},
        {"two users and no .DEFAULT",
         Registry("REGEDIT4\n\n[HKEY_USERS\\John]\n\n[HKEY_USERS\\Mary]\n"),
         {"{reg}", "no .DEFAULT", "--user (John, Mary)"}},
        {"--in-use on a drive that is not there",
         [](const SystemCopy& s) { return std::vector<std::string>{"--yes", "--in-use", "e:\\x.exe", s.dir()}; },
         {"--in-use 'e:\\x.exe'", "there is no drive e:", "(drives: c:, d:)"}},
        {"--cwd on a drive that is not there",
         [](const SystemCopy& s) { return std::vector<std::string>{"--yes", "--cwd", "a:\\", s.dir()}; },
         {"--cwd 'a:\\'", "there is no drive a:"}},
    };
    for (const BadInput& c : cases) {
        SCOPED_TRACE(c.what);
        SystemCopy system;
        std::vector<std::string> args = c.setup(system);
        auto before = Snapshot(system.root());
        SimRun run = RunSim(args, system.root());
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind("kvuninst-sim: ", 0), 0u) << run.err;
        for (const std::string& part : c.message) {
            EXPECT_NE(run.err.find(Expand(part, system)), std::string::npos)
                << "message lacks '" << Expand(part, system) << "': " << run.err;
        }
        // One short message, whatever the input held.
        EXPECT_LT(run.err.size(), 600u) << run.err.substr(0, 600);
        EXPECT_EQ(Snapshot(system.root()), before) << "a file changed";
    }
}

// registry.reg text with the given sections (keys, with all below them) and
// value lines ("section path", "value name") taken out.
std::string Without(const std::string& text, const std::vector<std::string>& keys,
                    const std::vector<std::pair<std::string, std::string>>& values) {
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    std::string out;
    std::string section;
    bool dropped = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(start, end - start);
        start = end;
        std::string bare = line.substr(0, line.find_last_not_of("\r\n") + 1);
        if (!bare.empty() && bare[0] == '[') {
            section = lower(bare.substr(1, bare.size() - 2));
            dropped = false;
            for (const std::string& key : keys) {
                std::string k = lower(key);
                dropped = dropped || section == k || section.rfind(k + "\\", 0) == 0;
            }
        }
        bool valueGone = false;
        for (const auto& [key, name] : values) {
            valueGone = valueGone || (section == lower(key) && bare.rfind("\"" + name + "\"=", 0) == 0);
        }
        if (!dropped && !valueGone) out += line;
    }
    return out;
}

TEST(SimRun, SampleLosesExactlyThePackage) {
    SystemCopy system;
    std::string input = ReadText(system.reg());
    SimRun run = RunSim({"--yes", system.dir()}, system.root());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    // What went, in the order the program removed it.
    EXPECT_EQ(run.out,
              "current user: HKEY_CURRENT_USER (the file's own sections)\n"
              "removed 12 files\n"
              "  c:\\windows\\system32\\drivers\\pelgrin.sys\n"
              "  c:\\windows\\system32\\drivers\\pelgrin.lib\n"
              "  c:\\windows\\system\\QUENOR.VXD\n"
              "  c:\\windows\\system\\tarvel.vxd\n"
              "  c:\\windows\\inf\\other\\korvankvusb.inf\n"
              "  c:\\windows\\inf\\other\\korvanquenor.inf\n"
              "  c:\\windows\\inf\\quenor.inf\n"
              "  c:\\windows\\inf\\quenor.pnf\n"
              "  c:\\windows\\HESTRIM.EXE\n"
              "  d:\\windows\\system32\\drivers\\pelgrin.sys\n"
              "  d:\\windows\\system\\quenor.vxd\n"
              "  d:\\windows\\inf\\quenor.inf\n"
              "removed 6 registry keys\n"
              "  HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_0E5A&PID_7B14 (and 1 key below it)\n"
              "  HKEY_LOCAL_MACHINE\\Enum\\USB\\KVUSB&VID_0E5A&PID_7B14 (and 1 key below it)\n"
              "  HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0001 (and 2 keys below it)\n"
              "  HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\USB\\0003\n"
              "  HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KORVANQUENOR\n"
              "  HKEY_CURRENT_USER\\KVQUENOR (and 1 key below it)\n"
              "removed 1 registry value\n"
              "  HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run \"KORVANUSB\"\n"
              "exit code 0\n");
    const std::string hklm = "HKEY_LOCAL_MACHINE\\";
    EXPECT_EQ(ReadText(system.reg()),
              Without(input,
                      {hklm + "Enum\\USB\\KVUSB&VID_0E5A&PID_7B14", hklm + "Enum\\USB\\VID_0E5A&PID_7B14",
                       hklm + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KORVANQUENOR",
                       hklm + "System\\CurrentControlSet\\Services\\Class\\Modem\\0001",
                       hklm + "System\\CurrentControlSet\\Services\\Class\\USB\\0003",
                       "HKEY_CURRENT_USER\\KVQUENOR"},
                      {{hklm + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "KORVANUSB"}}));
    // Whatever stays of the package's look-alikes stays byte for byte.
    EXPECT_TRUE(fs::exists(system.dir() + "/d/windows/hestrim.exe"));
    EXPECT_TRUE(fs::exists(system.dir() + "/c/windows/inf/quenor.inf.bak"));
}

TEST(SimRun, RegistryWithoutFinalNewlineLoads) {
    // An editor that drops the last line end should not make the file unreadable.
    SystemCopy system;
    WriteText(system.reg(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\KVQUENOR]\n\"LastPort\"=\"COM5\"");
    SimRun run = RunSim({"--yes", system.dir()}, system.root());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("  HKEY_CURRENT_USER\\KVQUENOR\n"), std::string::npos) << run.out;
    EXPECT_EQ(ReadText(system.reg()), "REGEDIT4\n\n");
}

std::vector<std::string> Leftovers(const SystemCopy& system) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(system.dir())) {
        std::string name = entry.path().filename().string();
        if (name.rfind("registry.reg", 0) == 0 && name != "registry.reg") names.push_back(name);
    }
    return names;
}

// The registry writes go to a temporary beside registry.reg, renamed over it
// only once complete: a file size limit stops the write half way.
TEST(SimRun, WriteBackKilledHalfWayLeavesRegistryWhole) {
    SystemCopy system;
    std::string input = ReadText(system.reg());
    const rlim_t limit = 2048;
    ASSERT_GT(input.size(), limit * 2);
    SimRun run = RunSim({"--yes", system.dir()}, system.root(), [limit] {
        struct rlimit fsize = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &fsize);
        signal(SIGXFSZ, SIG_DFL);
    });
    EXPECT_EQ(run.signal, SIGXFSZ) << "the sim was meant to die writing; exit " << run.exitCode;
    EXPECT_EQ(ReadText(system.reg()), input);
    // What it was writing is the temporary: cut at the limit, never renamed.
    std::vector<std::string> temps = Leftovers(system);
    ASSERT_EQ(temps.size(), 1u);
    std::string partial = ReadText(system.dir() + "/" + temps[0]);
    EXPECT_EQ(partial.size(), limit);
    EXPECT_EQ(partial.rfind("REGEDIT4", 0), 0u);
}

TEST(SimRun, FailedWriteBackIsReportedAndCleansUp) {
    SystemCopy system;
    std::string input = ReadText(system.reg());
    SimRun run = RunSim({"--yes", system.dir()}, system.root(), [] {
        struct rlimit fsize = {2048, 2048};
        setrlimit(RLIMIT_FSIZE, &fsize);
        signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
    });
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find(system.reg() + ": cannot write back: File too large"), std::string::npos)
        << run.err;
    EXPECT_EQ(ReadText(system.reg()), input);
    EXPECT_EQ(Leftovers(system), std::vector<std::string>{});
}

// What `regedit /e` writes on a Windows 98 machine with user profiles: no
// HKEY_CURRENT_USER, the logged-on user beside .DEFAULT under HKEY_USERS,
// and a Modem entry that regedit listed before the lower-numbered one.
std::string WholeExport(const std::string& sample) {
    std::string text = sample;
    for (size_t at; (at = text.find("[HKEY_CURRENT_USER")) != std::string::npos;) {
        text.replace(at, 18, "[HKEY_USERS\\John");
    }
    const std::string modem = "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem]\r\n";
    size_t at = text.find(modem);
    at = text.find("\r\n\r\n", at) + 4;
    text.insert(at, "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0009]\r\n"
                    "\"DriverDesc\"=\"Korvan USB Modem, installed again\"\r\n"
                    "\"PortDriver\"=\"QUENOR.VXD\"\r\n\r\n");
    at = text.find("[HKEY_USERS\\John");
    text.insert(at, "[HKEY_USERS]\r\n\r\n[HKEY_USERS\\.DEFAULT]\r\n\r\n"
                    "[HKEY_USERS\\.DEFAULT\\KVQUENOR]\r\n\"LastPort\"=\"COM1\"\r\n\r\n"
                    "[HKEY_USERS\\John]\r\n\r\n");
    return text;
}

TEST(SimRun, WholeExportWithDrivesElsewhereLosesWhatWindows98Would) {
    SystemCopy system;
    // The export and the drives in folders of their own, as a technician
    // has them: no system folder at all.
    std::string exportFile = system.root() + "/win98.reg";
    std::string input = WholeExport(ReadText(system.reg()));
    WriteText(exportFile, input);
    fs::rename(system.dir() + "/c", system.root() + "/disk-c");
    fs::rename(system.dir() + "/d", system.root() + "/disk-d");
    fs::remove_all(system.dir());
    SimRun run = RunSim({"--yes", "--registry", exportFile, "--drive", "c=" + system.root() + "/disk-c",
                         "--drive", "D=" + system.root() + "/disk-d"},
                        system.root());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n')),
              "current user: HKEY_USERS\\John (the one user besides .DEFAULT)");
    const std::string modem = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\";
    EXPECT_NE(run.out.find("  " + modem + "0009\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(modem + "0001"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("  HKEY_USERS\\John\\KVQUENOR (and 1 key below it)\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("removed 12 files\n"), std::string::npos) << run.out;
    const std::string hklm = "HKEY_LOCAL_MACHINE\\";
    EXPECT_EQ(ReadText(exportFile),
              Without(input,
                      {hklm + "Enum\\USB\\KVUSB&VID_0E5A&PID_7B14", hklm + "Enum\\USB\\VID_0E5A&PID_7B14",
                       hklm + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KORVANQUENOR",
                       modem + "0009", hklm + "System\\CurrentControlSet\\Services\\Class\\USB\\0003",
                       "HKEY_USERS\\John\\KVQUENOR"},
                      {{hklm + "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "KORVANUSB"}}));
    // Nothing written beside it: the temporary was renamed over it.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(system.root())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"disk-c", "disk-d", "win98.reg"}), names);
}

// Runs the sim on a fresh copy of the sample with `extra` options and `edit`
// applied to the copy first; returns the run and whether the copy changed.
struct Outcome {
    SimRun run;
    bool changed;
};
Outcome RunOnCopy(const std::vector<std::string>& extra,
                  const std::function<void(const SystemCopy&)>& edit = {}) {
    SystemCopy system;
    if (edit) edit(system);
    auto before = Snapshot(system.root());
    std::vector<std::string> args = extra;
    args.push_back(system.dir());
    SimRun run = RunSim(args, system.root());
    return {run, Snapshot(system.root()) != before};
}

TEST(SimRun, DryRunChangesNothingAndReportsWhatARunWould) {
    const std::vector<std::pair<const char*, std::vector<std::string>>> modes = {
        {"98", {"--yes"}},
        {"NT", {"--yes", "--nt"}},
        {"started from c:\\", {"--yes", "--cwd", "c:\\"}},
        {"file in use", {"--yes", "--in-use", "c:\\windows\\hestrim.exe"}},
    };
    for (const auto& [name, options] : modes) {
        SCOPED_TRACE(name);
        std::vector<std::string> dry = options;
        dry.push_back("--dry-run");
        Outcome real = RunOnCopy(options);
        Outcome trial = RunOnCopy(dry);
        ASSERT_EQ(trial.run.exitCode, 0) << trial.run.err;
        EXPECT_FALSE(trial.changed) << "the dry run changed the system";
        EXPECT_TRUE(real.changed);
        std::string expected = real.run.out;
        for (size_t at; (at = expected.find("\nremoved ")) != std::string::npos;) {
            expected.replace(at, 9, "\nwould remove ");
        }
        EXPECT_EQ(expected, trial.run.out);
    }
}

// Rows 1 to 8 act on the start directory: a floppy's root when started from
// it, as a user does who runs the program from its floppy.
TEST(SimRun, StartedFromAFloppyDriveMappedAnywhere) {
    SystemCopy system;
    std::string floppy = system.root() + "/floppy";
    fs::create_directories(floppy + "/SYSTEM");
    WriteText(floppy + "/SYSTEM/QUENOR.VXD", "a stray copy\n");
    WriteText(floppy + "/KVUNINST.EXE", "the program\n");
    SimRun run = RunSim({"--yes", "--drive", "a=" + floppy, "--cwd", "a:\\", system.dir()}, system.root());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("removed 13 files\n  a:\\SYSTEM\\QUENOR.VXD\n"
                           "  c:\\windows\\system32\\drivers\\pelgrin.sys\n"),
              std::string::npos)
        << run.out;
    EXPECT_FALSE(fs::exists(floppy + "/SYSTEM/QUENOR.VXD"));
    EXPECT_TRUE(fs::exists(floppy + "/KVUNINST.EXE"));
}

// A drive folder may hold symbolic links (a disk image unpacked by a tool
// that makes them, or a hand-made system): a link is deleted as a link and
// never followed out of the drive.
TEST(SimRun, LinksOutOfADriveAreNeverFollowed) {
    SystemCopy system;
    std::string outside = system.root() + "/outside";
    fs::create_directories(outside + "/inf");
    WriteText(outside + "/precious.vxd", "not the package's\n");
    WriteText(outside + "/inf/quenor.inf", "not the package's either\n");
    std::string windows = system.dir() + "/c/windows";
    fs::remove(windows + "/system/QUENOR.VXD");
    fs::create_symlink(outside + "/precious.vxd", windows + "/system/quenor.vxd");
    fs::remove_all(windows + "/inf");
    fs::create_directory_symlink(outside + "/inf", windows + "/inf");
    auto outsideBefore = Snapshot(outside);
    SimRun run = RunSim({"--yes", system.dir()}, system.root());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("  c:\\windows\\system\\quenor.vxd\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("c:\\windows\\inf"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(fs::symlink_status(windows + "/system/quenor.vxd")));
    EXPECT_TRUE(fs::is_symlink(windows + "/inf"));
    EXPECT_EQ(Snapshot(outside), outsideBefore);
}

}  // namespace
