// REGEDIT4 files, as the Windows 95/98 registry editor exports them.
#ifndef KVUNINST_HOST_REGEDIT4_H
#define KVUNINST_HOST_REGEDIT4_H

#include <string>

#include "platform/host/registry.h"

namespace host {

struct LoadResult {
    bool ok = false;
    size_t line = 0;     // where the input went wrong, from 1
    std::string error;   // what was expected there
    bool crlf = false;   // the input's line ends, kept for writing back
};

// Adds what `text` describes to `registry`.
LoadResult LoadRegedit4(const std::string& text, Registry& registry);

// The whole registry as a REGEDIT4 file: every key, in enumeration order.
std::string WriteRegedit4(const Registry& registry, bool crlf);

}  // namespace host

#endif
