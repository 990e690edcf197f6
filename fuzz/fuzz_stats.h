// Counts kept by a fuzz target for scripts/fuzz, which cannot learn them
// from libFuzzer (least of all in fork mode, where many short-lived workers
// run): how many inputs ran and how many breaches were found. Each process
// writes "inputs faults foreign" to KVUNINST_FUZZ_STATS/<pid>, at exit and
// before an abort (a crashing process runs no exit handlers).
#ifndef KVUNINST_FUZZ_STATS_H
#define KVUNINST_FUZZ_STATS_H

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzstats {

struct Counts {
    unsigned long long systems = 0;
    unsigned long long faults = 0;
    unsigned long long foreign = 0;
};

inline Counts& counts() {
    static Counts c;
    return c;
}

inline void Write() {
    const char* dir = std::getenv("KVUNINST_FUZZ_STATS");
    if (dir == nullptr) return;
    std::string path = std::string(dir) + "/" + std::to_string(getpid());
    if (std::FILE* f = std::fopen(path.c_str(), "w")) {
        std::fprintf(f, "%llu %llu %llu\n", counts().systems, counts().faults, counts().foreign);
        std::fclose(f);
    }
}

inline void CountInput() {
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(Write);
    }
    // Now and then, so a killed run still leaves a figure near the truth.
    if (++counts().systems % 65536 == 0) Write();
}

inline void CountFault(unsigned long long foreignDeletions) {
    ++counts().faults;
    counts().foreign += foreignDeletions;
    Write();
}

}  // namespace fuzzstats

#endif
