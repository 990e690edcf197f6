// Every platform call of a full run on the sample system, made to fail in
// turn with the error a real Windows 98 would give for it. Whatever fails,
// the run must go on with every later step, show the final box, return 0,
// and leave behind only the one entry the failed call was about.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/model.h"
#include "support/fixture.h"

namespace {

using testing_support::ScratchSystem;

const std::string Sample = EXAMPLES_DIR "/win98-korvan";

struct Outcome {
    host::Registry registry;
    std::vector<std::string> files;
    std::vector<std::string> journal;
    int result = -1;
    size_t openHandles = 0;
};

Outcome RunSample(std::optional<host::InjectedFault> fault) {
    ScratchSystem system(Sample);
    host::machine().fault = fault;
    Outcome out;
    out.result = testing_support::RunWithAnswers({IDOK, IDOK, IDOK});
    out.registry = host::machine().registry.Clone();
    out.files = host::ListFiles();
    out.journal = host::machine().journal;
    out.openHandles = host::machine().OpenHandleCount();
    return out;
}

std::string Function(const std::string& line) { return line.substr(0, line.find('(')); }
std::string Result(const std::string& line) { return line.substr(line.rfind(" = ") + 3); }
std::string Call(const std::string& line) { return line.substr(0, line.rfind(" = ")); }

// The first quoted argument of a journal line, unquoted.
std::string Quoted(const std::string& line) {
    size_t open = line.find('"');
    return line.substr(open + 1, line.find('"', open + 1) - open - 1);
}
// The first argument: a handle's key path, or the path of a file.
std::string Handle(const std::string& line) {
    size_t open = line.find('(') + 1;
    size_t end = std::min(line.find(", ", open), line.find(')', open));
    return line.substr(open, end - open);
}

std::string FullKeyPath(const std::string& shown) {
    if (shown.compare(0, 4, "HKLM") == 0) return "HKEY_LOCAL_MACHINE" + shown.substr(4);
    if (shown.compare(0, 4, "HKCU") == 0) return "HKEY_CURRENT_USER" + shown.substr(4);
    return shown;
}

bool OpensStep(const std::string& line) {
    return Function(line) == "RegOpenKeyA" &&
           (Handle(line) == "HKLM" || Handle(line) == "HKCU");
}

// What a run with call k failing keeps that the clean run removed.
struct Left {
    std::vector<std::string> files;   // as host::ListFiles shows them
    std::vector<std::string> keys;    // as host::Diff shows them
    std::vector<std::string> values;
};

// The registry deletion the clean run made in the step holding call k, and
// its journal index.
std::optional<size_t> StepDeletion(const std::vector<std::string>& clean, size_t k) {
    size_t start = k;
    while (start > 0 && !OpensStep(clean[start])) --start;
    for (size_t i = start; i < clean.size(); ++i) {
        if (i > start && (OpensStep(clean[i]) || Function(clean[i]) == "MessageBoxA")) break;
        std::string f = Function(clean[i]);
        if ((f == "RegDeleteKeyA" || f == "RegDeleteValueA") && Result(clean[i]) == "0") return i;
    }
    return std::nullopt;
}

void AddDeletion(const std::string& line, Left& left) {
    std::string parent = FullKeyPath(Handle(line));
    if (Function(line) == "RegDeleteKeyA") {
        left.keys.push_back(parent + "\\" + Quoted(line));
    } else {
        left.values.push_back(parent + " \"" + Quoted(line) + "\"");
    }
}

// `fileOf` maps each DeleteFileA row to the file it reaches on the fresh
// sample ("" when none).
Left Behind(const std::vector<std::string>& clean, size_t k,
            const std::map<size_t, std::string>& fileOf) {
    Left left;
    const std::string& line = clean[k];
    std::string f = Function(line);
    if (f == "DeleteFileA") {
        if (Result(line) != "1") return left;
        // A later row that reaches the same file deletes it instead.
        for (size_t i = k + 1; i < clean.size(); ++i) {
            if (Function(clean[i]) == "DeleteFileA" && fileOf.at(i) == fileOf.at(k)) return left;
        }
        left.files.push_back(fileOf.at(k));
        return left;
    }
    std::optional<size_t> deletion = StepDeletion(clean, k);
    if (!deletion || *deletion < k) return left;
    const std::string& del = clean[*deletion];
    // In a class scan only the calls on the way to the entry that went keep
    // it: another entry failing to open or to answer is passed over anyway.
    std::string entry = FullKeyPath(Handle(del)) + "\\" + Quoted(del);
    bool onTheWay = OpensStep(line) || f == "RegEnumKeyA" || *deletion == k ||
                    (f == "RegOpenKeyA" && FullKeyPath(Handle(line)) + "\\" + Quoted(line) == entry) ||
                    (f == "RegQueryValueExA" && FullKeyPath(Handle(line)) == entry);
    if (onTheWay) AddDeletion(del, left);
    return left;
}

// The errors a real system gives for each call, and a box that cannot be
// shown (whose error code MessageBoxA only leaves for GetLastError).
const std::map<std::string, std::vector<LONG>> ErrorsFor = {
    {"MessageBoxA", {8}},
    {"DeleteFileA", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"RegOpenKeyA", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
    {"RegEnumKeyA", {ERROR_ACCESS_DENIED, ERROR_NO_MORE_ITEMS}},
    {"RegQueryValueExA", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
    {"RegDeleteKeyA", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
    {"RegDeleteValueA", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
    {"RegCloseKey", {ERROR_INVALID_HANDLE}},
};

// The calls that mark the run's steps: each file row, each registry step's
// open, the final box.
std::vector<std::string> Steps(const std::vector<std::string>& journal) {
    std::vector<std::string> steps;
    for (size_t i = 2; i < journal.size(); ++i) {
        if (Function(journal[i]) == "DeleteFileA" || OpensStep(journal[i]) ||
            Function(journal[i]) == "MessageBoxA") {
            steps.push_back(Call(journal[i]));
        }
    }
    return steps;
}

std::vector<std::string> Minus(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.erase(std::remove_if(a.begin(), a.end(),
                           [&](const std::string& x) {
                               return std::find(b.begin(), b.end(), x) != b.end();
                           }),
            a.end());
    return a;
}

TEST(Sweep, EveryFailingCallLeavesOnlyItsOwnEntry) {
    Outcome clean = RunSample(std::nullopt);
    ASSERT_EQ(clean.result, 0);
    const std::vector<std::string>& j = clean.journal;
    ASSERT_GT(j.size(), 2u + 25u + 7u);

    host::Registry initialRegistry;
    std::vector<std::string> initialFiles;
    std::map<size_t, std::string> fileOf;
    {
        ScratchSystem fresh(Sample);
        initialRegistry = host::machine().registry.Clone();
        initialFiles = host::ListFiles();
        const std::string driveRoot = fresh.dir() + "/";
        for (size_t i = 0; i < j.size(); ++i) {
            if (Function(j[i]) != "DeleteFileA") continue;
            std::string host = host::Resolve(Quoted(j[i])).hostPath;
            std::string file;
            if (!host.empty()) {
                file = host.substr(driveRoot.size(), 1) + ":";
                for (char c : host.substr(driveRoot.size() + 1)) file += c == '/' ? '\\' : c;
            }
            fileOf[i] = file;
        }
    }
    const std::vector<std::string> cleanSteps = Steps(j);

    size_t runs = 0;
    for (size_t k = 0; k < j.size(); ++k) {
        for (LONG error : ErrorsFor.at(Function(j[k]))) {
            SCOPED_TRACE("call " + std::to_string(k) + " fails with " + std::to_string(error) +
                         ": " + j[k]);
            Outcome faulted = RunSample(host::InjectedFault{k, error});
            ++runs;
            EXPECT_EQ(faulted.result, 0);
            if (k < 2) {
                // Box 1 or 2 not shown: the run ends there and touches nothing.
                EXPECT_EQ(faulted.journal.size(), k + 1);
                EXPECT_TRUE(host::SameRegistry(faulted.registry, initialRegistry));
                EXPECT_EQ(faulted.files, initialFiles);
                continue;
            }
            // Every step is still attempted, down to the final box.
            std::vector<std::string> steps = Steps(faulted.journal);
            EXPECT_EQ(steps, cleanSteps);
            EXPECT_EQ(Call(faulted.journal.back()), Call(j.back()));

            Left left = Behind(j, k, fileOf);
            host::RegistryDiff diff = host::Diff(clean.registry, faulted.registry);
            EXPECT_TRUE(diff.removedKeys.empty() && diff.removedValues.empty() &&
                        diff.changedValues.empty())
                << "the failing call made the run remove more";
            EXPECT_EQ(diff.addedKeys, left.keys);
            EXPECT_EQ(diff.addedValues, left.values);
            EXPECT_EQ(Minus(faulted.files, clean.files), left.files);
            EXPECT_EQ(Minus(clean.files, faulted.files), std::vector<std::string>{});

            bool closeFailed = Function(j[k]) == "RegCloseKey" && Result(j[k]) == "0" &&
                               Handle(j[k]) != "HKCU" && Handle(j[k]) != "HKLM";
            EXPECT_EQ(faulted.openHandles, closeFailed ? 1u : 0u);
        }
    }
    EXPECT_GT(runs, j.size());
}

}  // namespace
