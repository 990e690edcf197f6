// REGEDIT4 files, as the Windows 95/98 registry editor exports them, read
// into the model and written back less exactly what a run removed.
#ifndef KVUNINST_HOST_REGEDIT4_H
#define KVUNINST_HOST_REGEDIT4_H

#include <memory>
#include <string>
#include <vector>

#include "platform/host/registry.h"

namespace host {

// Which lines of the file each key and value came from, so that writing
// back can leave every other byte as it was.
struct RegSource {
    struct Section {
        size_t line;  // the [header], counted from 0
        std::shared_ptr<RegKey> key;
    };
    struct ValueLines {
        size_t first, last;  // the value's line and its continuation lines
        const RegKey* key;   // kept alive by its section's entry
        std::string name;
    };
    std::vector<size_t> lineStart;  // where each line begins in the text
    std::vector<Section> sections;  // in file order
    std::vector<ValueLines> values;
};

struct LoadResult {
    bool ok = false;
    size_t line = 0;     // where the input went wrong, from 1
    std::string error;   // what was expected there
    bool sawRoot[RootCount] = {};  // which roots the file's sections name
};

// Adds what `text` describes to `registry`; with `source`, also notes where
// each key and value stands in `text`.
LoadResult LoadRegedit4(const std::string& text, Registry& registry, RegSource* source = nullptr);

// `text` less the lines of every key that is now deleted (each of its
// sections with one blank line after it) and of every value its key no
// longer has; `removedLines` counts them.
std::string WriteBack(const std::string& text, const RegSource& source, size_t* removedLines);

}  // namespace host

#endif
