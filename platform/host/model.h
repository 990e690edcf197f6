// The host model of a Windows 95/98 machine: the state behind the platform
// functions of platform/platform.h, and the controls that tests and
// kvuninst-sim use to set it up and read it back. The uninstaller itself
// never includes this.
#ifndef KVUNINST_HOST_MODEL_H
#define KVUNINST_HOST_MODEL_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/host/registry.h"

namespace host {

// Answers a message box: IDOK, IDCANCEL, or 0 when it cannot be shown.
using Responder = std::function<int(const char* text, const char* caption, UINT style)>;

// Gives the scripted answers in order; once they run out, boxes cannot be shown.
Responder ScriptedAnswers(std::vector<int> answers);
// Shows the box on `out` and reads OK or Cancel from `in`; end of input is 0.
Responder TerminalAnswers(std::FILE* in, std::FILE* out);

// A platform call made to fail: the call with this index in the journal
// (counted from 0) does nothing and reports `error`.
struct InjectedFault {
    size_t call = 0;
    LONG error = 0;
};

// A handle the model gave out: the key it reaches and the path it was opened
// for, as the journal shows it.
struct OpenKey {
    std::shared_ptr<RegKey> key;
    std::string path;
    bool open = true;
};

struct Machine {
    Registry registry;
    // Windows NT's registry: subkeys enumerate sorted by name, and deleting a
    // key that still has subkeys is refused. Windows 95/98 enumerates them as
    // they were created and deletes the whole subtree.
    bool nt = false;

    // Drive letter (lower case) to the host folder that holds its root.
    std::map<char, std::string> drives;
    std::string currentDirectory = "c:\\windows";
    // Files another process holds open without sharing delete, as
    // case-insensitive Windows paths ("c:\windows\hestrim.exe").
    std::set<std::string, NameLess> filesInUse;
    // A dry run deletes no host file: what DeleteFileA removes only vanishes
    // from the model's view of the drives.
    bool dryRun = false;
    std::set<std::string> vanished;  // host paths

    // What the run removed, in the order it did: files as "c:\windows\x"
    // with the host's case, keys by their full path with how many keys went
    // below each, values as the key's path and "name".
    struct Removed {
        std::vector<std::string> files;
        std::vector<std::pair<std::string, size_t>> keys;
        std::vector<std::string> values;
    } removed;

    Responder responder = ScriptedAnswers({});
    std::optional<InjectedFault> fault;

    std::vector<std::string> journal;

    std::map<std::uintptr_t, OpenKey> handles;
    std::uintptr_t nextHandle = 0x100;
    size_t OpenHandleCount() const;
};

// The one machine the platform functions act on.
Machine& machine();
// Forgets all state: empty registry, no drives, no handles, empty journal.
void ResetMachine();

// Where a Windows path lands on the host, or the Windows error for it.
struct ResolvedPath {
    std::string hostPath;  // empty when the path does not resolve
    std::string winPath;   // "c:\windows\HESTRIM.EXE": the drive and the host's names
    DWORD error = 0;       // ERROR_PATH_NOT_FOUND or ERROR_FILE_NOT_FOUND
    bool isDirectory = false;
};
// Resolves `path` against the current directory, matching names without
// regard to case as FAT does.
ResolvedPath Resolve(const std::string& path);

// Every file on the modelled drives that a dry run has not deleted, as
// "c:\windows\x" with the host's case, sorted.
std::vector<std::string> ListFiles();

// The text a journal line shows for a string argument.
std::string Quote(const char* text);

}  // namespace host

#endif
