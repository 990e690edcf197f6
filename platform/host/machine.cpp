#include "platform/host/machine_internal.h"

#include <cstdio>

namespace host {

namespace {
Machine& Instance() {
    static Machine instance;
    return instance;
}
}  // namespace

Machine& machine() { return Instance(); }

void ResetMachine() { Instance() = Machine(); }

size_t Machine::OpenHandleCount() const {
    size_t n = 0;
    for (const auto& entry : handles) {
        n += entry.second.open ? 1 : 0;
    }
    return n;
}

std::string Quote(const char* text) {
    if (text == nullptr) {
        return "NULL";
    }
    std::string out = "\"";
    for (const char* p = text; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c > 0x7e) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::optional<LONG> TakeFault() {
    Machine& m = machine();
    if (m.fault && m.fault->call == m.journal.size()) {
        return m.fault->error;
    }
    return std::nullopt;
}

void Record(const std::string& call, long result) {
    machine().journal.push_back(call + " = " + std::to_string(result));
}

}  // namespace host
