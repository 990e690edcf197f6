// DeleteFileA on drives kept in host folders, with FAT's case-insensitive
// names and the errors Windows gives.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <functional>

#include "platform/host/machine_internal.h"

namespace host {

namespace {

thread_local DWORD lastError = 0;

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\' || c == '/') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    return parts;
}

// Whether a dry run has already deleted the file at `hostPath`.
bool Vanished(const std::string& hostPath) {
    const std::set<std::string>& gone = machine().vanished;
    return !gone.empty() && gone.count(hostPath) != 0;
}

// The entry of `dir` named `name` without regard to case; an exact match wins.
std::optional<std::string> FindEntry(const std::string& dir, const std::string& name) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> found;
    while (dirent* e = readdir(d)) {
        std::string entry = e->d_name;
        if (entry == "." || entry == ".." || Vanished(dir + "/" + entry)) {
            continue;
        }
        if (entry == name) {
            found = entry;
            break;
        }
        if (!found && SameName(entry, name)) {
            found = entry;
        }
    }
    closedir(d);
    return found;
}

bool IsDirectory(const std::string& hostPath) {
    struct stat st;
    return lstat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The drive letter and the components below its root of an absolute or
// relative Windows path, with "." and ".." folded away.
bool Absolute(const std::string& path, char* drive, std::vector<std::string>* parts) {
    const std::string& cwd = machine().currentDirectory;
    char cwdDrive = static_cast<char>(std::tolower(static_cast<unsigned char>(cwd[0])));
    std::string rest;
    std::vector<std::string> base;
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        *drive = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
        rest = path.substr(2);
        bool rooted = !rest.empty() && (rest[0] == '\\' || rest[0] == '/');
        if (!rooted && *drive == cwdDrive) {
            base = Split(cwd.substr(2));
        }
    } else if (!path.empty() && (path[0] == '\\' || path[0] == '/')) {
        if (path.size() > 1 && (path[1] == '\\' || path[1] == '/')) {
            return false;  // UNC names reach no modelled drive
        }
        *drive = cwdDrive;
        rest = path;
    } else {
        *drive = cwdDrive;
        base = Split(cwd.substr(2));
        rest = path;
    }
    parts->clear();
    for (const std::string& part : base) {
        if (!part.empty()) {
            parts->push_back(part);
        }
    }
    for (const std::string& part : Split(rest)) {
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (!parts->empty()) {
                parts->pop_back();
            }
        } else {
            parts->push_back(part);
        }
    }
    return true;
}

}  // namespace

void SetLastError(DWORD error) { lastError = error; }

ResolvedPath Resolve(const std::string& path) {
    ResolvedPath out;
    char drive = 0;
    std::vector<std::string> parts;
    if (!Absolute(path, &drive, &parts)) {
        out.error = ERROR_PATH_NOT_FOUND;
        return out;
    }
    auto root = machine().drives.find(drive);
    if (root == machine().drives.end() || !IsDirectory(root->second)) {
        out.error = ERROR_PATH_NOT_FOUND;
        return out;
    }
    std::string here = root->second;
    std::string shown = std::string(1, drive) + ":";
    for (size_t i = 0; i < parts.size(); ++i) {
        bool last = i + 1 == parts.size();
        std::optional<std::string> entry = FindEntry(here, parts[i]);
        if (!entry || (!last && !IsDirectory(here + "/" + *entry))) {
            out.error = last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
            return out;
        }
        here += "/" + *entry;
        shown += "\\" + *entry;
    }
    out.hostPath = here;
    out.winPath = parts.empty() ? shown + "\\" : shown;
    out.isDirectory = IsDirectory(here);
    return out;
}

std::vector<std::string> ListFiles() {
    std::vector<std::string> files;
    std::function<void(const std::string&, const std::string&)> walk =
        [&](const std::string& hostDir, const std::string& winDir) {
            DIR* d = opendir(hostDir.c_str());
            if (d == nullptr) {
                return;
            }
            std::vector<std::string> names;
            while (dirent* e = readdir(d)) {
                std::string name = e->d_name;
                if (name != "." && name != ".." && !Vanished(hostDir + "/" + name)) {
                    names.push_back(name);
                }
            }
            closedir(d);
            for (const std::string& name : names) {
                std::string hostPath = hostDir + "/" + name;
                if (IsDirectory(hostPath)) {
                    walk(hostPath, winDir + "\\" + name);
                } else {
                    files.push_back(winDir + "\\" + name);
                }
            }
        };
    for (const auto& [letter, hostRoot] : machine().drives) {
        walk(hostRoot, std::string(1, letter) + ":");
    }
    std::sort(files.begin(), files.end(), NameLess());
    return files;
}

}  // namespace host

DWORD WINAPI GetLastError(void) { return host::lastError; }

BOOL WINAPI DeleteFileA(LPCSTR path) {
    std::string call = std::string("DeleteFileA(") + host::Quote(path) + ")";
    auto fail = [&](DWORD error) {
        host::SetLastError(error);
        host::Record(call, 0);
        return FALSE;
    };
    if (auto fault = host::TakeFault()) {
        return fail(static_cast<DWORD>(*fault));
    }
    if (path == nullptr || *path == '\0') {
        return fail(ERROR_PATH_NOT_FOUND);
    }
    host::ResolvedPath target = host::Resolve(path);
    if (target.hostPath.empty()) {
        return fail(target.error);
    }
    struct stat st;
    if (lstat(target.hostPath.c_str(), &st) != 0) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    // A directory, and a file without its owner's write bit (the read-only
    // attribute), cannot be deleted as a file.
    if (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR) == 0) {
        return fail(ERROR_ACCESS_DENIED);
    }
    for (const std::string& held : host::machine().filesInUse) {
        host::ResolvedPath heldPath = host::Resolve(held);
        if (heldPath.hostPath == target.hostPath) {
            return fail(ERROR_SHARING_VIOLATION);
        }
    }
    if (host::machine().dryRun) {
        host::machine().vanished.insert(target.hostPath);
    } else if (unlink(target.hostPath.c_str()) != 0) {
        return fail(ERROR_ACCESS_DENIED);
    }
    host::machine().removed.files.push_back(target.winPath);
    host::SetLastError(0);
    host::Record(call, 1);
    return TRUE;
}
