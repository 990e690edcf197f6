#include "platform/host/system_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

bool LoadSystemDir(const std::string& dir, SystemDir* system, std::string* error) {
    ResetMachine();
    struct stat st;
    if (stat(dir.c_str(), &st) != 0) {
        *error = dir + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        *error = dir + ": not a folder (expected a system folder holding registry.reg)";
        return false;
    }
    system->dir = dir;
    system->registryFile = dir + "/registry.reg";
    std::string text;
    if (!ReadFile(system->registryFile, &text, error)) {
        return false;
    }
    LoadResult loaded = LoadRegedit4(text, machine().registry);
    if (!loaded.ok) {
        *error = system->registryFile + ":" + std::to_string(loaded.line) + ": " + loaded.error;
        ResetMachine();
        return false;
    }
    system->crlf = loaded.crlf;
    for (char letter : {'c', 'd'}) {
        std::string drive = dir + "/" + letter;
        if (stat(drive.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            machine().drives[letter] = drive;
        }
    }
    return true;
}

bool SaveRegistry(const SystemDir& system, std::string* error) {
    std::string text = WriteRegedit4(machine().registry, system.crlf);
    std::string temp = system.registryFile + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = temp + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    bool ok = done == text.size() && fsync(fd) == 0;
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
