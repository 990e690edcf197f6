#include "platform/host/system_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/host/model.h"
#include "platform/host/regedit4.h"

namespace host {

bool ReadFile(const std::string& path, std::string* text, std::string* error) {
    // Non-blocking, so a FIFO in the file's place is refused instead of
    // waiting for a writer forever; a regular file reads the same either way.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = path + ": " + (fd < 0 ? std::strerror(errno) : "not a regular file");
        if (fd >= 0) close(fd);
        return false;
    }
    text->clear();
    text->reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        text->append(buffer, static_cast<size_t>(n));
    }
    int readErrno = errno;
    close(fd);
    if (n < 0) {
        *error = path + ": " + std::strerror(readErrno);
        return false;
    }
    return true;
}

namespace {

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string List(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
    return out.empty() ? "none" : out;
}

// Picks what HKEY_CURRENT_USER reaches once the file is loaded.
bool ChooseCurrentUser(const LoadResult& loaded, const std::string& user, const std::string& file,
                       SystemDir* system, std::string* error) {
    Registry& registry = machine().registry;
    if (loaded.sawRoot[static_cast<int>(Root::CurrentUser)]) {
        if (!user.empty()) {
            *error = "--user '" + user + "': " + file +
                     " has HKEY_CURRENT_USER sections of its own, which are the current user";
            return false;
        }
        system->currentUser = "HKEY_CURRENT_USER (the file's own sections)";
        return true;
    }
    std::vector<std::string> names;
    std::vector<std::string> others;
    for (const auto& sub : registry.roots[static_cast<int>(Root::Users)]->Subkeys()) {
        names.push_back(sub->name);
        if (!SameName(sub->name, ".DEFAULT")) others.push_back(sub->name);
    }
    if (!user.empty()) {
        if (!registry.UseUser(user)) {
            *error = "--user '" + user + "': " + file + " has no HKEY_USERS\\" + user +
                     " (its users: " + List(names) + ")";
            return false;
        }
        system->currentUser = "HKEY_USERS\\" + registry.currentUserName + " (--user)";
        return true;
    }
    if (others.size() == 1) {
        registry.UseUser(others[0]);
        system->currentUser =
            "HKEY_USERS\\" + registry.currentUserName + " (the one user besides .DEFAULT)";
        return true;
    }
    if (registry.UseUser(".DEFAULT")) {
        system->currentUser = "HKEY_USERS\\" + registry.currentUserName +
                              (others.empty() ? std::string(" (no other user in the file)")
                                              : " (" + std::to_string(others.size()) +
                                                    " other users; --user picks one)");
        return true;
    }
    if (!others.empty()) {
        *error = file + ": HKEY_USERS holds " + std::to_string(others.size()) +
                 " users and no .DEFAULT: name the current user with --user (" + List(others) +
                 ")";
        return false;
    }
    system->currentUser = "HKEY_CURRENT_USER (empty: the file has no current user)";
    return true;
}

}  // namespace

bool LoadRegistryFile(const std::string& path, const std::string& user, SystemDir* system,
                      std::string* error) {
    system->registryFile = path;
    if (!ReadFile(path, &system->text, error)) {
        return false;
    }
    LoadResult loaded = LoadRegedit4(system->text, machine().registry, &system->source);
    if (!loaded.ok) {
        *error = path + ":" + std::to_string(loaded.line) + ": " + loaded.error;
        return false;
    }
    return ChooseCurrentUser(loaded, user, path, system, error);
}

bool MapDrive(char letter, const std::string& folder, std::string* error) {
    char* real = realpath(folder.c_str(), nullptr);
    if (real == nullptr) {
        *error = folder + ": " + std::strerror(errno);
        return false;
    }
    std::string resolved = real;
    std::free(real);
    if (!IsFolder(resolved)) {
        *error = folder + ": not a folder";
        return false;
    }
    machine().drives[letter] = resolved;
    return true;
}

bool LoadSystem(const std::string& dir, const std::string& registryFile, const std::string& user,
                SystemDir* system, std::string* error) {
    ResetMachine();
    *system = SystemDir();
    struct stat st;
    if (!dir.empty() && stat(dir.c_str(), &st) != 0) {
        *error = dir + ": " + std::strerror(errno);
        return false;
    }
    if (!dir.empty() && !S_ISDIR(st.st_mode)) {
        *error = dir + ": not a folder (expected a system folder holding registry.reg)";
        return false;
    }
    bool ok = LoadRegistryFile(registryFile.empty() ? dir + "/registry.reg" : registryFile, user,
                               system, error);
    for (char letter : {'c', 'd'}) {
        std::string drive = dir + "/" + letter;
        ok = ok && (dir.empty() || !IsFolder(drive) || MapDrive(letter, drive, error));
    }
    if (!ok) {
        ResetMachine();
    }
    return ok;
}

bool LoadSystemDir(const std::string& dir, SystemDir* system, std::string* error) {
    return LoadSystem(dir, "", "", system, error);
}

bool SaveRegistry(const SystemDir& system, std::string* error) {
    size_t removed = 0;
    std::vector<std::pair<size_t, size_t>> ranges =
        WriteBackRanges(system.text, system.source, &removed);
    if (removed == 0) {
        return true;
    }
    std::string temp = system.registryFile + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = temp + ": " + std::strerror(errno);
        return false;
    }
    // Straight from the text as read: what stays is most of it.
    bool written = true;
    for (const auto& [begin, end] : ranges) {
        for (size_t done = begin; written && done < end;) {
            ssize_t n = write(fd, system.text.data() + done, end - done);
            written = n > 0;
            done += written ? static_cast<size_t>(n) : 0;
        }
    }
    bool ok = written && fsync(fd) == 0;
    int writeErrno = errno;
    struct stat st;
    if (ok && stat(system.registryFile.c_str(), &st) == 0) {
        fchmod(fd, st.st_mode & 07777);
    }
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), system.registryFile.c_str()) != 0) {
        *error = system.registryFile + ": cannot write back: " +
                 std::strerror(ok ? errno : writeErrno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace host
