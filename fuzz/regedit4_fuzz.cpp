// Fuzzes the REGEDIT4 reader: any text either loads or is refused with an
// error that names a line of it, and whatever loads survives being written
// back and read again unchanged.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_stats.h"
#include "platform/host/regedit4.h"

namespace {

[[noreturn]] void Breach(const std::string& what, const std::string& text) {
    std::fprintf(stderr, "kvuninst regedit4 oracle: %s\n", what.c_str());
    if (text.size() < 4096) std::fprintf(stderr, "--- input ---\n%s\n---\n", text.c_str());
    fuzzstats::CountFault(0);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzstats::CountInput();
    std::string text(reinterpret_cast<const char*>(data), size);
    host::Registry registry;
    host::LoadResult loaded = host::LoadRegedit4(text, registry);
    if (!loaded.ok) {
        size_t lines = 1;
        for (char c : text) lines += c == '\n';
        if (loaded.line < 1 || loaded.line > lines) {
            Breach("error names line " + std::to_string(loaded.line) + " of " +
                       std::to_string(lines) + ": " + loaded.error,
                   text);
        }
        // A message is for a person: it must say something and stay short
        // however long the offending line is.
        if (loaded.error.empty() || loaded.error.size() > 300) {
            Breach("error text of " + std::to_string(loaded.error.size()) + " characters", text);
        }
        return 0;
    }
    std::string written = host::WriteRegedit4(registry, loaded.crlf);
    host::Registry again;
    host::LoadResult reloaded = host::LoadRegedit4(written, again);
    if (!reloaded.ok) {
        Breach("what was written does not load: line " + std::to_string(reloaded.line) + ": " +
                   reloaded.error,
               written);
    }
    if (reloaded.crlf != loaded.crlf) Breach("line ends changed on the way back", written);
    if (!host::SameRegistry(registry, again)) {
        Breach("written and read back, the registry differs", written);
    }
    if (host::WriteRegedit4(again, reloaded.crlf) != written) {
        Breach("writing the reloaded registry gives other text", written);
    }
    return 0;
}
