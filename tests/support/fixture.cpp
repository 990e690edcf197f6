#include "support/fixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "uninstall/uninstall.h"

namespace fs = std::filesystem;

namespace testing_support {

ScratchSystem::ScratchSystem(const std::string& source) {
    std::string pattern = (fs::temp_directory_path() / "kvuninst-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a scratch folder";
    }
    dir_ = pattern;
    if (source.empty()) {
        WriteText(dir_ + "/registry.reg", "REGEDIT4\n\n");
    } else {
        fs::copy(source, dir_, fs::copy_options::recursive);
    }
    Reload();
}

ScratchSystem::~ScratchSystem() {
    // Read-only files and folders must not stop the clean-up.
    std::error_code ignored;
    for (auto& entry : fs::recursive_directory_iterator(dir_, ignored)) {
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(dir_, ignored);
    host::ResetMachine();
}

void ScratchSystem::SetRegistry(const std::string& regedit4) {
    WriteText(dir_ + "/registry.reg", regedit4);
    Reload();
}

void ScratchSystem::AddFile(const std::string& relative, const std::string& content) {
    fs::create_directories(fs::path(dir_ + "/" + relative).parent_path());
    WriteText(dir_ + "/" + relative, content);
    Reload();
}

void ScratchSystem::AddDirectory(const std::string& relative) {
    fs::create_directories(dir_ + "/" + relative);
    Reload();
}

bool ScratchSystem::Exists(const std::string& relative) const {
    return fs::exists(fs::symlink_status(dir_ + "/" + relative));
}

void ScratchSystem::Reload() {
    // Keep what the test set on the machine besides the system itself.
    host::Machine& m = host::machine();
    bool nt = m.nt;
    std::string cwd = m.currentDirectory;
    std::string error;
    if (!host::LoadSystemDir(dir_, &system_, &error)) {
        ADD_FAILURE() << error;
    }
    host::machine().nt = nt;
    host::machine().currentDirectory = cwd;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadText(path));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

int RunWithAnswers(std::vector<int> answers) {
    host::machine().responder = host::ScriptedAnswers(std::move(answers));
    return WinMain(nullptr, nullptr, const_cast<LPSTR>(""), 10);
}

}  // namespace testing_support
