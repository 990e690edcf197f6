// A Windows 98 system kept on the host: the registry as a REGEDIT4 export
// and host folders as its drives. A system folder holds registry.reg and
// the drives c/ and d/; a registry file and drive folders can also be named
// one by one.
#ifndef KVUNINST_HOST_SYSTEM_DIR_H
#define KVUNINST_HOST_SYSTEM_DIR_H

#include <string>

#include "platform/host/regedit4.h"

namespace host {

struct SystemDir {
    std::string registryFile;
    std::string text;  // the file as read, for writing back
    RegSource source;
    // What HKEY_CURRENT_USER is, for the report: "HKEY_CURRENT_USER" or
    // "HKEY_USERS\John", with why that one.
    std::string currentUser;
};

// Loads `path` into the machine's registry. HKEY_CURRENT_USER is the file's
// own when it has such sections; otherwise the user `user` under HKEY_USERS,
// or when `user` is empty the one user besides .DEFAULT, else .DEFAULT.
bool LoadRegistryFile(const std::string& path, const std::string& user, SystemDir* system,
                      std::string* error);

// Maps drive `letter` to the host folder `folder`, which must exist.
bool MapDrive(char letter, const std::string& folder, std::string* error);

// Resets the machine and points it at a system: the registry file
// `registryFile`, or else dir/registry.reg, with the current user chosen by
// `user` as LoadRegistryFile does, and whichever of dir's c/ and d/ exist.
// `dir` may be empty when `registryFile` is given. On failure says why in
// `error` and leaves the machine reset.
bool LoadSystem(const std::string& dir, const std::string& registryFile, const std::string& user,
                SystemDir* system, std::string* error);
// The system folder `dir` alone.
bool LoadSystemDir(const std::string& dir, SystemDir* system, std::string* error);

// Writes registry.reg back less what the run removed, through a temporary
// file and a rename, so a crash never leaves half a file. Writes nothing
// when nothing was removed.
bool SaveRegistry(const SystemDir& system, std::string* error);

// Reads a whole file; false with the reason when it cannot.
bool ReadFile(const std::string& path, std::string* text, std::string* error);

}  // namespace host

#endif
