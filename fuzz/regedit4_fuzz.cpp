// Fuzzes the REGEDIT4 reader and the write-back: any text either loads or
// is refused with an error that names a line of it; whatever loads is
// written back byte for byte when nothing went, and when some keys and
// values went, the text written is the input less some of its lines and
// reads back as exactly what is left.
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "fuzz/fuzz_stats.h"
#include "platform/host/regedit4.h"

namespace {

[[noreturn]] void Breach(const std::string& what, const std::string& text) {
    std::fprintf(stderr, "kvuninst regedit4 oracle: %s\n", what.c_str());
    if (text.size() < 4096) std::fprintf(stderr, "--- text ---\n%s\n---\n", text.c_str());
    fuzzstats::CountFault(0);
    std::abort();
}

// Picks what to remove from the input's own bytes, so each input always
// removes the same things.
struct Chooser {
    unsigned state;
    bool Next() {
        state = state * 1103515245u + 12345u;
        return (state >> 16) % 4 == 0;
    }
};

void RemoveSome(host::RegKey& key, Chooser& choose) {
    std::vector<std::string> values;
    for (const host::RegValue& v : key.Values()) {
        if (choose.Next()) values.push_back(v.name);
    }
    for (const std::string& name : values) key.RemoveValue(name);
    std::vector<std::shared_ptr<host::RegKey>> subkeys = key.Subkeys();
    for (const auto& sub : subkeys) {
        if (choose.Next()) {
            key.RemoveSubkey(sub->name);
        } else {
            RemoveSome(*sub, choose);
        }
    }
}

// Whether some section of the file still names `key` or a key below it: a
// key that only a removed section's path named is gone from the file too.
bool Named(const host::RegKey& key, const std::set<const host::RegKey*>& sectioned) {
    if (sectioned.count(&key) != 0) return true;
    for (const auto& sub : key.Subkeys()) {
        if (Named(*sub, sectioned)) return true;
    }
    return false;
}

// `left` (what stayed in the model) against `read` (the file read back):
// the same keys still named and the same values. A key takes its place
// among its parent's subkeys, and the case of its name, from the first
// section that names it: when that section was taken out, the next one
// decides, as the file now says.
bool SameContent(const host::RegKey& left, const host::RegKey& read,
                 const std::set<const host::RegKey*>& sectioned) {
    if (!host::SameName(left.name, read.name) || left.Values() != read.Values()) return false;
    size_t named = 0;
    for (const auto& sub : left.Subkeys()) {
        if (!Named(*sub, sectioned)) continue;
        ++named;
        std::shared_ptr<host::RegKey> other = read.FindSubkey(sub->name);
        if (other == nullptr || !SameContent(*sub, *other, sectioned)) return false;
    }
    return named == read.Subkeys().size();
}

// Whether `part` is `whole` with some of its lines left out.
bool LinesOf(const std::string& part, const std::string& whole) {
    size_t p = 0;
    size_t w = 0;
    while (p < part.size()) {
        if (w >= whole.size()) return false;
        size_t pe = part.find('\n', p);
        size_t we = whole.find('\n', w);
        pe = pe == std::string::npos ? part.size() : pe + 1;
        we = we == std::string::npos ? whole.size() : we + 1;
        if (part.compare(p, pe - p, whole, w, we - w) == 0) p = pe;
        w = we;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzstats::CountInput();
    std::string text(reinterpret_cast<const char*>(data), size);
    host::Registry registry;
    host::RegSource source;
    host::LoadResult loaded = host::LoadRegedit4(text, registry, &source);
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
    size_t removed = 0;
    if (host::WriteBack(text, source, &removed) != text || removed != 0) {
        Breach("nothing was removed, yet the text written back differs", text);
    }
    Chooser choose{static_cast<unsigned>(size)};
    for (size_t i = 0; i < size && i < 64; ++i) choose.state = choose.state * 31 + data[i];
    for (int i = 0; i < host::RootCount; ++i) RemoveSome(*registry.roots[i], choose);
    std::string written = host::WriteBack(text, source, &removed);
    if (!LinesOf(written, text)) Breach("the text written back is not the input less lines", written);
    host::Registry again;
    host::LoadResult reloaded = host::LoadRegedit4(written, again);
    if (!reloaded.ok) {
        Breach("what was written does not load: line " + std::to_string(reloaded.line) + ": " +
                   reloaded.error,
               written);
    }
    std::set<const host::RegKey*> sectioned;
    for (const host::RegSource::Section& section : source.sections) {
        if (!section.key->deleted) sectioned.insert(section.key.get());
    }
    for (int i = 0; i < host::RootCount; ++i) {
        if (!SameContent(*registry.roots[i], *again.roots[i], sectioned)) {
            Breach("written and read back, the registry is not what was left", written);
        }
    }
    return 0;
}
