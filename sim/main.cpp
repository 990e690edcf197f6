// kvuninst-sim: runs the uninstaller on Linux against a Windows 98 system
// kept in a folder, then reports what the run removed.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/host/model.h"
#include "platform/host/system_dir.h"
#include "uninstall/uninstall.h"

namespace {

const char Usage[] =
    "usage: kvuninst-sim [--yes | --answers ok,cancel,...] [--nt] [--cwd 'c:\\windows'] "
    "[--in-use 'c:\\windows\\x.exe']... [--trace] SYSTEM_DIR\n"
    "  --in-use PATH  the file is held open by another process without sharing delete,\n"
    "                 so deleting it fails (may be given more than once)\n";

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

template <typename List>
void Report(const char* what, const List& items) {
    std::printf("removed %zu %s%s\n", items.size(), what, items.size() == 1 ? "" : "s");
    for (const auto& item : items) {
        std::printf("  %s\n", item.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> answers;
    bool answered = false;
    bool nt = false;
    bool trace = false;
    std::string cwd = "c:\\windows";
    std::vector<std::string> inUse;
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
            if (!value(&text)) return Fail("--answers needs a list such as ok,cancel\n" + std::string(Usage));
            answers.clear();
            if (!ParseAnswers(text, &answers, &error)) return Fail(error);
            answered = true;
        } else if (arg == "--nt") {
            nt = true;
        } else if (arg == "--trace") {
            trace = true;
        } else if (arg == "--cwd") {
            if (!value(&cwd)) return Fail("--cwd needs a directory such as c:\\windows");
        } else if (arg == "--in-use") {
            if (!value(&text)) return Fail("--in-use needs a file such as c:\\windows\\hestrim.exe");
            inUse.push_back(text);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("unknown option '" + arg + "'\n" + Usage);
        } else if (dir.empty()) {
            dir = arg;
        } else {
            return Fail("only one SYSTEM_DIR may be given ('" + arg + "' is a second)");
        }
    }
    if (dir.empty()) {
        return Fail(std::string("no SYSTEM_DIR given\n") + Usage);
    }

    host::SystemDir system;
    std::string error;
    if (!host::LoadSystemDir(dir, &system, &error)) {
        return Fail(error);
    }
    host::Machine& m = host::machine();
    m.ntKeyDeletion = nt;
    if (cwd.size() < 3 || cwd[1] != ':' || (cwd[2] != '\\' && cwd[2] != '/')) {
        return Fail("--cwd '" + cwd + "': expected an absolute path such as c:\\windows");
    }
    m.currentDirectory = cwd;
    if (!host::Resolve(cwd).isDirectory) {
        return Fail("--cwd '" + cwd + "': no such directory in " + dir);
    }
    for (const std::string& path : inUse) {
        if (host::Resolve(path).hostPath.empty()) {
            return Fail("--in-use '" + path + "': no such file in " + dir);
        }
        m.filesInUse.insert(path);
    }
    if (answered) {
        m.responder = host::ScriptedAnswers(answers);
    } else if (isatty(STDIN_FILENO)) {
        m.responder = host::TerminalAnswers(stdin, stdout);
    }  // otherwise nobody can see a box: each one fails to show

    host::Registry before = m.registry.Clone();
    std::vector<std::string> filesBefore = host::ListFiles();

    int result = WinMain(nullptr, nullptr, const_cast<LPSTR>(""), 10);

    if (trace) {
        for (const std::string& line : m.journal) {
            std::printf("%s\n", line.c_str());
        }
    }
    host::RegistryDiff diff = host::Diff(before, m.registry);
    if (!diff.Empty() && !host::SaveRegistry(system, &error)) {
        return Fail(error);
    }
    std::vector<std::string> filesAfter = host::ListFiles();
    std::vector<std::string> removedFiles;
    for (const std::string& file : filesBefore) {
        bool kept = false;
        for (const std::string& after : filesAfter) kept = kept || after == file;
        if (!kept) removedFiles.push_back(file);
    }
    std::vector<std::string> removedKeys;
    for (const auto& [path, below] : diff.removedKeys) {
        removedKeys.push_back(below == 0 ? path
                                         : path + " (and " + std::to_string(below) +
                                               (below == 1 ? " key" : " keys") + " below it)");
    }
    Report("file", removedFiles);
    Report("registry key", removedKeys);
    Report("registry value", diff.removedValues);
    std::printf("exit code %d\n", result);
    return result;
}
