// A Windows 98 system kept in a folder: registry.reg (REGEDIT4) and the
// drives c/ and d/.
#ifndef KVUNINST_HOST_SYSTEM_DIR_H
#define KVUNINST_HOST_SYSTEM_DIR_H

#include <string>

namespace host {

struct SystemDir {
    std::string dir;
    std::string registryFile;  // dir + "/registry.reg"
    bool crlf = false;
};

// Points the machine at `dir`: loads its registry and maps its drive
// folders. On failure says why in `error` and leaves the machine reset.
bool LoadSystemDir(const std::string& dir, SystemDir* system, std::string* error);

// Writes the machine's registry back to registry.reg through a temporary
// file and a rename, so a crash never leaves half a file.
bool SaveRegistry(const SystemDir& system, std::string* error);

// Reads a whole file; false with the reason when it cannot.
bool ReadFile(const std::string& path, std::string* text, std::string* error);

}  // namespace host

#endif
