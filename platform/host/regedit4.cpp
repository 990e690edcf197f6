#include "platform/host/regedit4.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace host {

namespace {

const DWORD RegSz = 1;
const DWORD RegBinary = 3;
const DWORD RegDword = 4;

struct Failure {
    std::string what;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A piece of the input fit for an error message: at most a few dozen
// characters, control and non-ASCII bytes shown as \xNN, so a megabyte line
// or binary garbage still gives one readable line.
std::string Excerpt(const std::string& s) {
    const size_t most = 40;
    std::string out;
    for (size_t i = 0; i < s.size() && i < most; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c > 0x7e) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (s.size() > most) out += "...";
    return out;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// Reads a quoted string starting at s[pos] == '"'; leaves pos after the
// closing quote. REGEDIT4 escapes only the backslash and the quote.
std::string ReadQuoted(const std::string& s, size_t& pos, const char* what) {
    std::string out;
    ++pos;
    while (pos < s.size()) {
        char c = s[pos++];
        if (c == '"') {
            return out;
        }
        if (c == '\\') {
            if (pos >= s.size()) break;
            char e = s[pos++];
            if (e != '\\' && e != '"') {
                throw Failure{"bad escape \\" + Excerpt(std::string(1, e)) + " in " + what +
                              " (only \\\\ and \\\" are allowed)"};
            }
            c = e;
        }
        out += c;
    }
    throw Failure{std::string("unterminated ") + what + ": expected a closing '\"'"};
}

void ExpectEnd(const std::string& s, size_t pos) {
    if (!Trim(s.substr(pos)).empty()) {
        throw Failure{"unexpected text after the value: '" + Excerpt(Trim(s.substr(pos))) + "'"};
    }
}

std::vector<BYTE> ReadHexList(const std::string& s) {
    std::vector<BYTE> out;
    std::string list = Trim(s);
    if (list.empty()) {
        return out;
    }
    size_t pos = 0;
    for (;;) {
        while (pos < list.size() && (list[pos] == ' ' || list[pos] == '\t')) ++pos;
        int hi = pos < list.size() ? HexDigit(list[pos]) : -1;
        if (hi < 0) {
            throw Failure{"bad hex: expected a hex byte at '" + Excerpt(list.substr(pos)) + "'"};
        }
        int value = hi;
        ++pos;
        if (pos < list.size() && HexDigit(list[pos]) >= 0) {
            value = value * 16 + HexDigit(list[pos]);
            ++pos;
        }
        out.push_back(static_cast<BYTE>(value));
        while (pos < list.size() && (list[pos] == ' ' || list[pos] == '\t')) ++pos;
        if (pos == list.size()) {
            return out;
        }
        if (list[pos] != ',') {
            throw Failure{"bad hex: expected ',' between bytes at '" + Excerpt(list.substr(pos)) +
                          "'"};
        }
        ++pos;
        if (pos == list.size()) {
            return out;  // a trailing comma, as wrapped lines leave
        }
    }
}

// `more` appends the next line of a continued hex list, or fails at the end.
template <typename More>
RegValue ReadValue(std::string line, More more) {
    RegValue value;
    size_t pos = 0;
    if (line[0] == '@') {
        pos = 1;
    } else {
        value.name = ReadQuoted(line, pos, "value name");
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != '=') {
        throw Failure{"expected '=' after the value name"};
    }
    ++pos;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    std::string rest = line.substr(pos);
    if (rest.compare(0, 3, "hex") == 0) {
        // Long hex lists go on over lines that end in a backslash.
        while (!rest.empty() && rest.back() == '\\') {
            rest.pop_back();
            rest += more();
        }
    }
    if (!rest.empty() && rest[0] == '"') {
        std::string text = ReadQuoted(line, pos, "string");
        ExpectEnd(line, pos);
        value.type = RegSz;
        value.data.assign(text.begin(), text.end());
        value.data.push_back(0);
    } else if (rest.compare(0, 6, "dword:") == 0) {
        std::string digits = Trim(rest.substr(6));
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            throw Failure{"bad dword: expected 1 to 8 hex digits, got '" + Excerpt(digits) + "'"};
        }
        DWORD number = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
        value.type = RegDword;
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<BYTE>(number >> (8 * i)));
    } else if (rest.compare(0, 4, "hex:") == 0) {
        value.type = RegBinary;
        value.data = ReadHexList(rest.substr(4));
    } else if (rest.compare(0, 4, "hex(") == 0) {
        size_t close = rest.find("):");
        std::string digits = close == std::string::npos ? "" : rest.substr(4, close - 4);
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            throw Failure{"bad hex(type): expected hex(N): with N in hex"};
        }
        value.type = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
        value.data = ReadHexList(rest.substr(close + 2));
    } else if (Trim(rest) == "-") {
        throw Failure{"value deletion (=-) is not supported here"};
    } else {
        throw Failure{"expected a value: \"string\", dword:, hex: or hex(N):"};
    }
    return value;
}

RegKey& ReadSection(const std::string& line, Registry& registry) {
    std::string body = Trim(line);
    if (body.size() < 2 || body.back() != ']') {
        throw Failure{"unterminated section: expected ']' at the end of the line"};
    }
    body = body.substr(1, body.size() - 2);
    if (!body.empty() && body[0] == '-') {
        throw Failure{"key deletion ([-...]) is not supported here"};
    }
    size_t split = body.find('\\');
    std::string rootName = body.substr(0, split);
    RegKey* key = nullptr;
    for (Root root : {Root::LocalMachine, Root::CurrentUser}) {
        if (SameName(rootName, RootName(root))) key = &registry.RootKey(root);
    }
    if (key == nullptr) {
        throw Failure{"unknown root '" + Excerpt(rootName) +
                      "': expected HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER"};
    }
    while (split != std::string::npos) {
        size_t next = body.find('\\', split + 1);
        std::string name = body.substr(split + 1, next == std::string::npos ? std::string::npos
                                                                             : next - split - 1);
        if (name.empty()) {
            throw Failure{"empty key name in '" + Excerpt(body) + "'"};
        }
        key = &key->Subkey(name);
        split = next;
    }
    return *key;
}

}  // namespace

LoadResult LoadRegedit4(const std::string& text, Registry& registry) {
    LoadResult result;
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            if (lines.empty()) result.crlf = true;
        }
        lines.push_back(line);
        start = end + 1;
    }
    size_t n = 0;
    try {
        while (n < lines.size() && Trim(lines[n]).empty()) ++n;
        if (n == lines.size() || lines[n] != "REGEDIT4") {
            result.line = n < lines.size() ? n + 1 : 1;
            throw Failure{n < lines.size() ? "expected the header line REGEDIT4, found '" +
                                                 Excerpt(lines[n]) + "'"
                                           : "expected the header line REGEDIT4, the file is empty"};
        }
        RegKey* key = nullptr;
        for (++n; n < lines.size(); ++n) {
            result.line = n + 1;
            std::string line = lines[n];
            if (line.find('\0') != std::string::npos) {
                throw Failure{"a NUL byte in the line: this is not a text file"};
            }
            std::string trimmed = Trim(line);
            if (trimmed.empty() || trimmed[0] == ';') {
                continue;
            }
            if (trimmed[0] == '[') {
                key = &ReadSection(trimmed, registry);
                continue;
            }
            if (trimmed[0] != '"' && trimmed[0] != '@') {
                throw Failure{"expected a [section] or a value line (\"name\"=... or @=...)"};
            }
            if (key == nullptr) {
                throw Failure{"a value before the first [section]"};
            }
            key->SetValue(ReadValue(trimmed, [&]() {
                if (++n >= lines.size()) {
                    throw Failure{"the file ends inside a continued hex value"};
                }
                result.line = n + 1;
                return Trim(lines[n]);
            }));
        }
    } catch (const Failure& failure) {
        result.error = failure.what;
        return result;
    }
    result.ok = true;
    result.line = 0;
    return result;
}

namespace {

bool PrintableString(const std::vector<BYTE>& data) {
    if (data.empty() || data.back() != 0) return false;
    for (size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') return false;
    }
    return true;
}

void WriteValue(const RegValue& value, const char* eol, std::string& out) {
    std::string line;
    if (value.name.empty()) {
        line = "@=";
    } else {
        line = "\"";
        for (char c : value.name) {
            if (c == '\\' || c == '"') line += '\\';
            line += c;
        }
        line += "\"=";
    }
    if (value.type == RegSz && PrintableString(value.data)) {
        line += '"';
        for (size_t i = 0; i + 1 < value.data.size(); ++i) {
            char c = static_cast<char>(value.data[i]);
            if (c == '\\' || c == '"') line += '\\';
            line += c;
        }
        out += line + "\"" + eol;
        return;
    }
    char buf[32];
    if (value.type == RegDword && value.data.size() == 4) {
        DWORD n = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                  static_cast<DWORD>(value.data[3]) << 24;
        std::snprintf(buf, sizeof buf, "dword:%08x", n);
        out += line + buf + eol;
        return;
    }
    if (value.type == RegBinary) {
        line += "hex:";
    } else {
        std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
        line += buf;
    }
    // Wrapped as the registry editor does, so lines stay under 80 columns.
    for (size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", value.data[i]);
        line += buf;
        if (i + 1 < value.data.size()) {
            line += ',';
            if (line.size() > 76) {
                out += line + "\\" + eol;
                line = "  ";
            }
        }
    }
    out += line + eol;
}

void WriteKey(const RegKey& key, const std::string& path, bool isRoot, const char* eol,
              std::string& out) {
    if (!isRoot || !key.values.empty()) {
        out += "[" + path + "]" + eol;
        for (const RegValue& value : key.values) {
            WriteValue(value, eol, out);
        }
        out += eol;
    }
    for (const auto& entry : key.subkeys) {
        WriteKey(*entry.second, path + "\\" + entry.second->name, false, eol, out);
    }
}

}  // namespace

std::string WriteRegedit4(const Registry& registry, bool crlf) {
    const char* eol = crlf ? "\r\n" : "\n";
    std::string out = std::string("REGEDIT4") + eol + eol;
    for (Root root : {Root::LocalMachine, Root::CurrentUser}) {
        WriteKey(registry.RootKey(root), RootName(root), true, eol, out);
    }
    return out;
}

}  // namespace host
