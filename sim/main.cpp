// kvuninst-sim: runs the uninstaller on Linux against a Windows 98 system
// kept on the host (a regedit export and folders as drives), then reports
// what the run removed.
#include <unistd.h>

#include <cctype>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/host/model.h"
#include "platform/host/system_dir.h"
#include "uninstall/uninstall.h"

namespace {

const char ShortUsage[] =
    "usage: kvuninst-sim [options] SYSTEM_DIR | --registry FILE --drive LETTER=DIR...\n"
    "       (kvuninst-sim --help lists the options)";

const char Usage[] =
    "usage: kvuninst-sim [options] SYSTEM_DIR\n"
    "       kvuninst-sim [options] --registry FILE --drive LETTER=DIR... [SYSTEM_DIR]\n"
    "  SYSTEM_DIR       a folder holding registry.reg and the drives c/ and d/\n"
    "  --registry FILE  the registry as Windows 95/98's regedit exports it\n"
    "                   (regedit /e FILE), instead of SYSTEM_DIR/registry.reg\n"
    "  --drive L=DIR    drive L: is the host folder DIR, such as a mounted disk\n"
    "                   image (may be given more than once)\n"
    "  --user NAME      HKEY_CURRENT_USER is HKEY_USERS\\NAME, for an export\n"
    "                   without HKEY_CURRENT_USER sections\n"
    "  --dry-run        change nothing on disk; report what the run would remove\n"
    "  --yes            answer OK to every box\n"
    "  --answers LIST   answer the boxes in order: ok, cancel or none (cannot be shown)\n"
    "  --nt             Windows NT's registry: sorted subkeys, no subtree deletion\n"
    "  --cwd DIR        the directory the program starts in (default c:\\windows)\n"
    "  --in-use PATH    the file is held open by another process without sharing\n"
    "                   delete, so deleting it fails (may be given more than once)\n"
    "  --trace          print every platform call with its arguments and result\n"
    "  --timing         print how long loading, the run and writing back took\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "kvuninst-sim: %s\n", message.c_str());
    return 2;
}

bool ParseAnswers(const std::string& list, std::vector<int>* answers, std::string* error) {
    size_t start = 0;
    for (;;) {
        size_t end = list.find(',', start);
        std::string word = list.substr(start, end == std::string::npos ? end : end - start);
        if (word == "ok") {
            answers->push_back(IDOK);
        } else if (word == "cancel") {
            answers->push_back(IDCANCEL);
        } else if (word == "none") {
            answers->push_back(0);
        } else {
            *error = "--answers: '" + word + "' is not ok, cancel or none";
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
        start = end + 1;
    }
}

// "c=/mnt/win98" into its lower-case letter and folder.
bool ParseDrive(const std::string& text, char* letter, std::string* folder) {
    if (text.size() < 3 || text[1] != '=' || !std::isalpha(static_cast<unsigned char>(text[0]))) {
        return false;
    }
    *letter = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    *folder = text.substr(2);
    return true;
}

std::string DriveLetters() {
    std::string letters;
    for (const auto& [letter, folder] : host::machine().drives) {
        letters += (letters.empty() ? "" : ", ") + std::string(1, letter) + ":";
    }
    return letters.empty() ? "none" : letters;
}

// Why a Windows path given on the command line does not resolve: `what`
// names what was looked for.
std::string WhereNot(const std::string& path, const char* what) {
    char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
    auto drive = host::machine().drives.find(letter);
    if (drive == host::machine().drives.end()) {
        return std::string("there is no drive ") + letter + ": (drives: " + DriveLetters() + ")";
    }
    return std::string("no such ") + what + " on drive " + letter + ": (" + drive->second + ")";
}

bool IsAbsolute(const std::string& path) {
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

template <typename List, typename Show>
void Report(const char* verb, const char* what, const List& items, Show show) {
    std::printf("%s %zu %s%s\n", verb, items.size(), what, items.size() == 1 ? "" : "s");
    for (const auto& item : items) {
        std::printf("  %s\n", show(item).c_str());
    }
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> answers;
    bool answered = false;
    bool nt = false;
    bool trace = false;
    bool dryRun = false;
    bool timing = false;
    std::string cwd = "c:\\windows";
    std::vector<std::string> inUse;
    std::string registryFile;
    std::string user;
    std::map<char, std::string> drives;
    std::string dir;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--yes") {
            answers = {IDOK, IDOK, IDOK};
            answered = true;
        } else if (arg == "--answers") {
            std::string error;
            if (!value(&text)) return Fail("--answers needs a list such as ok,cancel");
            answers.clear();
            if (!ParseAnswers(text, &answers, &error)) return Fail(error);
            answered = true;
        } else if (arg == "--nt") {
            nt = true;
        } else if (arg == "--trace") {
            trace = true;
        } else if (arg == "--dry-run") {
            dryRun = true;
        } else if (arg == "--timing") {
            timing = true;
        } else if (arg == "--cwd") {
            if (!value(&cwd)) return Fail("--cwd needs a directory such as c:\\windows");
        } else if (arg == "--in-use") {
            if (!value(&text)) return Fail("--in-use needs a file such as c:\\windows\\hestrim.exe");
            inUse.push_back(text);
        } else if (arg == "--registry") {
            if (!value(&registryFile) || registryFile.empty()) {
                return Fail("--registry needs a file exported by regedit, such as win98.reg");
            }
        } else if (arg == "--user") {
            if (!value(&user) || user.empty()) return Fail("--user needs a name under HKEY_USERS");
        } else if (arg == "--drive") {
            char letter = 0;
            std::string folder;
            if (!value(&text) || !ParseDrive(text, &letter, &folder)) {
                return Fail("--drive '" + text + "': expected LETTER=DIR, such as c=/mnt/win98");
            }
            if (!drives.emplace(letter, folder).second) {
                return Fail(std::string("--drive ") + letter + ": given twice");
            }
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("unknown option '" + arg + "'\n" + ShortUsage);
        } else if (dir.empty()) {
            dir = arg;
        } else {
            return Fail("only one SYSTEM_DIR may be given ('" + arg + "' is a second)");
        }
    }
    if (dir.empty() && (registryFile.empty() || drives.empty())) {
        return Fail(std::string("no SYSTEM_DIR given (or --registry FILE with --drive LETTER=DIR)\n") +
                    ShortUsage);
    }

    auto started = std::chrono::steady_clock::now();
    host::SystemDir system;
    std::string error;
    if (!host::LoadSystem(dir, registryFile, user, &system, &error)) {
        return Fail(error);
    }
    host::Machine& m = host::machine();
    for (const auto& [letter, folder] : drives) {
        // Named drives take the place of the system folder's.
        if (!host::MapDrive(letter, folder, &error)) {
            return Fail(std::string("--drive ") + letter + "=" + error);
        }
    }
    m.nt = nt;
    m.dryRun = dryRun;
    if (!IsAbsolute(cwd)) {
        return Fail("--cwd '" + cwd + "': expected an absolute path such as c:\\windows");
    }
    m.currentDirectory = cwd;
    if (!host::Resolve(cwd).isDirectory) {
        return Fail("--cwd '" + cwd + "': " + WhereNot(cwd, "directory"));
    }
    for (const std::string& path : inUse) {
        if (!IsAbsolute(path) || host::Resolve(path).hostPath.empty()) {
            return Fail("--in-use '" + path + "': " +
                        (IsAbsolute(path) ? WhereNot(path, "file")
                                          : "expected an absolute path such as c:\\windows\\hestrim.exe"));
        }
        m.filesInUse.insert(path);
    }
    if (answered) {
        m.responder = host::ScriptedAnswers(answers);
    } else if (isatty(STDIN_FILENO)) {
        m.responder = host::TerminalAnswers(stdin, stdout);
    }  // otherwise nobody can see a box: each one fails to show
    double loadTime = Seconds(started);

    started = std::chrono::steady_clock::now();
    int result = WinMain(nullptr, nullptr, const_cast<LPSTR>(""), 10);
    double runTime = Seconds(started);

    if (trace) {
        for (const std::string& line : m.journal) {
            std::printf("%s\n", line.c_str());
        }
    }
    started = std::chrono::steady_clock::now();
    if (!dryRun && !host::SaveRegistry(system, &error)) {
        return Fail(error);
    }
    double writeTime = Seconds(started);

    const char* verb = dryRun ? "would remove" : "removed";
    auto same = [](const std::string& s) { return s; };
    std::printf("current user: %s\n", system.currentUser.c_str());
    Report(verb, "file", m.removed.files, same);
    Report(verb, "registry key", m.removed.keys, [](const std::pair<std::string, size_t>& key) {
        return key.second == 0 ? key.first
                               : key.first + " (and " + std::to_string(key.second) +
                                     (key.second == 1 ? " key" : " keys") + " below it)";
    });
    Report(verb, "registry value", m.removed.values, same);
    std::printf("exit code %d\n", result);
    if (timing) {
        std::fflush(stdout);
        std::fprintf(stderr, "kvuninst-sim: timing: load %.3f s, run %.3f s, write-back %.3f s\n",
                     loadTime, runTime, writeTime);
    }
    // Freeing a registry of real size key by key takes longer than the run:
    // the process is done, so leave that to its end.
    std::fflush(stdout);
    std::_Exit(result);
}
