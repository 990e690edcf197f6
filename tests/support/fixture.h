// Scratch Windows 98 systems for the host tests.
#ifndef KVUNINST_TESTS_FIXTURE_H
#define KVUNINST_TESTS_FIXTURE_H

#include <string>
#include <vector>

#include "platform/host/model.h"
#include "platform/host/system_dir.h"

namespace testing_support {

// A throwaway system folder, removed when the object goes. The machine is
// reset and pointed at it.
class ScratchSystem {
public:
    // Starts from a copy of `source` (a folder with registry.reg, c/, d/), or
    // from an empty registry and no drives when `source` is empty.
    explicit ScratchSystem(const std::string& source = "");
    ~ScratchSystem();
    ScratchSystem(const ScratchSystem&) = delete;
    ScratchSystem& operator=(const ScratchSystem&) = delete;

    const std::string& dir() const { return dir_; }
    // Replaces registry.reg with the REGEDIT4 text and reloads the system.
    void SetRegistry(const std::string& regedit4);
    // Creates a file (and its folders) under the system folder, e.g.
    // "c/windows/system/quenor.vxd".
    void AddFile(const std::string& relative, const std::string& content = "x");
    void AddDirectory(const std::string& relative);
    bool Exists(const std::string& relative) const;
    // Loads the folder into the machine again (drives appear only once they
    // exist).
    void Reload();

private:
    std::string dir_;
    host::SystemDir system_;
};

std::string ReadText(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

// Runs WinMain with the answers given and returns its result.
int RunWithAnswers(std::vector<int> answers);

}  // namespace testing_support

#endif
