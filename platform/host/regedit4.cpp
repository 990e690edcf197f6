#include "platform/host/regedit4.h"

#include <cstdio>
#include <string_view>

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
std::string Excerpt(std::string_view s) {
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

std::string_view Trim(std::string_view s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

void SkipBlanks(std::string_view s, size_t& pos) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
}

// Reads a quoted string starting at s[pos] == '"'; leaves pos after the
// closing quote. REGEDIT4 escapes only the backslash and the quote.
std::string ReadQuoted(std::string_view s, size_t& pos, const char* what) {
    std::string out;
    ++pos;
    while (pos < s.size()) {
        size_t stop = pos;
        while (stop < s.size() && s[stop] != '"' && s[stop] != '\\') ++stop;
        if (stop == s.size()) break;
        out.append(s.data() + pos, stop - pos);
        pos = stop + 1;
        if (s[stop] == '"') {
            return out;
        }
        if (pos >= s.size()) break;
        char e = s[pos++];
        if (e != '\\' && e != '"') {
            throw Failure{"bad escape \\" + Excerpt(std::string_view(&e, 1)) + " in " + what +
                          " (only \\\\ and \\\" are allowed)"};
        }
        out += e;
    }
    throw Failure{std::string("unterminated ") + what + ": expected a closing '\"'"};
}

std::vector<BYTE> ReadHexList(std::string_view s) {
    std::vector<BYTE> out;
    std::string_view list = Trim(s);
    if (list.empty()) {
        return out;
    }
    out.reserve(list.size() / 3 + 1);
    size_t pos = 0;
    for (;;) {
        // regedit's own form, two digits and a comma, first.
        while (pos + 2 < list.size() && list[pos + 2] == ',') {
            int hi = HexDigit(list[pos]);
            int lo = HexDigit(list[pos + 1]);
            if (hi < 0 || lo < 0) break;
            out.push_back(static_cast<BYTE>(hi * 16 + lo));
            pos += 3;
        }
        if (pos == list.size()) {
            return out;  // a trailing comma, as wrapped lines leave
        }
        SkipBlanks(list, pos);
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
        SkipBlanks(list, pos);
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

bool HexDigits(std::string_view digits) {
    return !digits.empty() && digits.size() <= 8 &&
           digits.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

DWORD HexNumber(std::string_view digits) {
    DWORD n = 0;
    for (char c : digits) n = n * 16 + static_cast<DWORD>(HexDigit(c));
    return n;
}

// `more` gives the next line of a continued hex list, or fails at the end.
template <typename More>
RegValue ReadValue(std::string_view line, More more) {
    RegValue value;
    size_t pos = 0;
    if (line[0] == '@') {
        pos = 1;
    } else {
        value.name = ReadQuoted(line, pos, "value name");
    }
    SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != '=') {
        throw Failure{"expected '=' after the value name"};
    }
    ++pos;
    SkipBlanks(line, pos);
    std::string_view rest = line.substr(pos);
    std::string joined;
    if (rest.compare(0, 3, "hex") == 0 && !rest.empty() && rest.back() == '\\') {
        // Long hex lists go on over lines that end in a backslash.
        joined.assign(rest);
        while (!joined.empty() && joined.back() == '\\') {
            joined.pop_back();
            joined += more();
        }
        rest = joined;
    }
    if (!rest.empty() && rest[0] == '"') {
        std::string text = ReadQuoted(line, pos, "string");
        if (!Trim(line.substr(pos)).empty()) {
            throw Failure{"unexpected text after the value: '" + Excerpt(Trim(line.substr(pos))) +
                          "'"};
        }
        value.type = RegSz;
        value.data.assign(text.begin(), text.end());
        value.data.push_back(0);
    } else if (rest.compare(0, 6, "dword:") == 0) {
        std::string_view digits = Trim(rest.substr(6));
        if (!HexDigits(digits)) {
            throw Failure{"bad dword: expected 1 to 8 hex digits, got '" + Excerpt(digits) + "'"};
        }
        DWORD number = HexNumber(digits);
        value.type = RegDword;
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<BYTE>(number >> (8 * i)));
    } else if (rest.compare(0, 4, "hex:") == 0) {
        value.type = RegBinary;
        value.data = ReadHexList(rest.substr(4));
    } else if (rest.compare(0, 4, "hex(") == 0) {
        size_t close = rest.find("):");
        std::string_view digits = close == std::string_view::npos ? "" : rest.substr(4, close - 4);
        if (!HexDigits(digits)) {
            throw Failure{"bad hex(type): expected hex(N): with N in hex"};
        }
        value.type = HexNumber(digits);
        value.data = ReadHexList(rest.substr(close + 2));
    } else if (Trim(rest) == "-") {
        throw Failure{"value deletion (=-) is not supported here"};
    } else {
        throw Failure{"expected a value: \"string\", dword:, hex: or hex(N):"};
    }
    return value;
}

// The previous section's path, part by part, with the key each part
// reached: regedit writes a key's subkeys right after it, so most sections
// share all but their last part with the one before.
struct SectionPath {
    std::vector<std::string_view> parts;
    std::vector<std::shared_ptr<RegKey>> keys;
};

std::shared_ptr<RegKey> ReadSection(std::string_view line, Registry& registry, LoadResult& result,
                                    SectionPath& previous) {
    std::string_view body = Trim(line);
    if (body.size() < 2 || body.back() != ']') {
        throw Failure{"unterminated section: expected ']' at the end of the line"};
    }
    body = body.substr(1, body.size() - 2);
    if (!body.empty() && body[0] == '-') {
        throw Failure{"key deletion ([-...]) is not supported here"};
    }
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        size_t end = body.find('\\', start);
        parts.push_back(body.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    size_t same = 0;
    while (same < parts.size() && same < previous.parts.size() && parts[same] == previous.parts[same]) {
        ++same;
    }
    previous.keys.resize(same);
    if (same == 0) {
        std::string rootName(parts[0]);
        for (int i = 0; i < RootCount; ++i) {
            if (SameName(rootName, RootName(static_cast<Root>(i)))) {
                previous.keys.push_back(registry.roots[i]);
                result.sawRoot[i] = true;
            }
        }
        if (previous.keys.empty()) {
            previous.parts.clear();
            throw Failure{"unknown root '" + Excerpt(rootName) +
                          "': expected HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER, "
                          "HKEY_CLASSES_ROOT, HKEY_CURRENT_CONFIG or HKEY_DYN_DATA"};
        }
        same = 1;
    }
    for (size_t i = same; i < parts.size(); ++i) {
        if (parts[i].empty()) {
            previous.parts.clear();
            previous.keys.clear();
            throw Failure{"empty key name in '" + Excerpt(body) + "'"};
        }
        std::string name(parts[i]);
        previous.keys.push_back(previous.keys.back()->SharedSubkey(name));
    }
    previous.parts = std::move(parts);
    return previous.keys.back();
}

// Line n of `text` without its line end.
std::string_view LineText(const std::string& text, const std::vector<size_t>& starts, size_t n) {
    size_t begin = starts[n];
    size_t end = n + 1 < starts.size() ? starts[n + 1] : text.size();
    std::string_view line(text.data() + begin, end - begin);
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

LoadResult LoadRegedit4(const std::string& text, Registry& registry, RegSource* source) {
    LoadResult result;
    RegSource local;
    RegSource& src = source != nullptr ? *source : local;
    src = RegSource();
    for (size_t start = 0; start < text.size();) {
        src.lineStart.push_back(start);
        size_t end = text.find('\n', start);
        start = end == std::string::npos ? text.size() : end + 1;
    }
    const size_t count = src.lineStart.size();
    auto line = [&](size_t n) { return LineText(text, src.lineStart, n); };
    size_t n = 0;
    try {
        while (n < count && Trim(line(n)).empty()) ++n;
        if (n == count || line(n) != "REGEDIT4") {
            result.line = n < count ? n + 1 : 1;
            throw Failure{n < count ? "expected the header line REGEDIT4, found '" +
                                          Excerpt(line(n)) + "'"
                                    : "expected the header line REGEDIT4, the file is empty"};
        }
        std::shared_ptr<RegKey> key;
        SectionPath path;
        for (++n; n < count; ++n) {
            result.line = n + 1;
            std::string_view here = line(n);
            if (here.find('\0') != std::string_view::npos) {
                throw Failure{"a NUL byte in the line: this is not a text file"};
            }
            std::string_view trimmed = Trim(here);
            if (trimmed.empty() || trimmed[0] == ';') {
                continue;
            }
            if (trimmed[0] == '[') {
                key = ReadSection(trimmed, registry, result, path);
                src.sections.push_back({n, key});
                continue;
            }
            if (trimmed[0] != '"' && trimmed[0] != '@') {
                throw Failure{"expected a [section] or a value line (\"name\"=... or @=...)"};
            }
            if (key == nullptr) {
                throw Failure{"a value before the first [section]"};
            }
            size_t first = n;
            RegValue value = ReadValue(trimmed, [&]() {
                if (++n >= count) {
                    throw Failure{"the file ends inside a continued hex value"};
                }
                result.line = n + 1;
                return std::string(Trim(line(n)));
            });
            src.values.push_back({first, n, key.get(), value.name});
            key->SetValue(std::move(value));
        }
    } catch (const Failure& failure) {
        result.error = failure.what;
        return result;
    }
    result.ok = true;
    result.line = 0;
    return result;
}

std::vector<std::pair<size_t, size_t>> WriteBackRanges(const std::string& text,
                                                       const RegSource& source,
                                                       size_t* removedLines) {
    const std::vector<size_t>& starts = source.lineStart;
    std::vector<bool> drop(starts.size(), false);
    for (const RegSource::ValueLines& v : source.values) {
        if (v.key->deleted || v.key->FindValue(v.name) == nullptr) {
            for (size_t n = v.first; n <= v.last; ++n) drop[n] = true;
        }
    }
    for (size_t s = 0; s < source.sections.size(); ++s) {
        const RegSource::Section& section = source.sections[s];
        if (!section.key->deleted) {
            continue;
        }
        drop[section.line] = true;
        size_t end = s + 1 < source.sections.size() ? source.sections[s + 1].line : starts.size();
        for (size_t n = section.line + 1; n < end; ++n) {
            if (!drop[n] && Trim(LineText(text, starts, n)).empty()) {
                drop[n] = true;
                break;
            }
        }
    }
    std::vector<std::pair<size_t, size_t>> ranges;
    size_t removed = 0;
    for (size_t n = 0; n < starts.size(); ++n) {
        if (drop[n]) {
            ++removed;
            continue;
        }
        size_t end = n + 1 < starts.size() ? starts[n + 1] : text.size();
        if (!ranges.empty() && ranges.back().second == starts[n]) {
            ranges.back().second = end;
        } else {
            ranges.emplace_back(starts[n], end);
        }
    }
    if (removedLines != nullptr) *removedLines = removed;
    return ranges;
}

std::string WriteBack(const std::string& text, const RegSource& source, size_t* removedLines) {
    std::string out;
    for (const auto& [begin, end] : WriteBackRanges(text, source, removedLines)) {
        out.append(text, begin, end - begin);
    }
    return out;
}

}  // namespace host
