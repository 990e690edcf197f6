// MessageBoxA, answered by whoever the test or the sim puts at the screen.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/host/machine_internal.h"

namespace host {

Responder ScriptedAnswers(std::vector<int> answers) {
    auto next = std::make_shared<size_t>(0);
    return [answers = std::move(answers), next](const char*, const char*, UINT) {
        return *next < answers.size() ? answers[(*next)++] : 0;
    };
}

Responder TerminalAnswers(std::FILE* in, std::FILE* out) {
    return [in, out](const char* text, const char* caption, UINT style) {
        bool okCancel = (style & 0xF) == MB_OKCANCEL;
        std::fprintf(out, "\n[%s]\n%s\n", caption, text);
        for (;;) {
            std::fputs(okCancel ? "(O)K or (C)ancel [OK]: " : "(O)K [OK]: ", out);
            std::fflush(out);
            char line[64];
            if (std::fgets(line, sizeof line, in) == nullptr) {
                std::fputs("\n", out);
                return 0;  // nobody at the screen
            }
            std::string answer;
            for (char* p = line; *p != '\0' && *p != '\n' && *p != '\r'; ++p) {
                answer += static_cast<char>(*p | 0x20);
            }
            if (answer.empty() || answer == "o" || answer == "ok") {
                return IDOK;
            }
            if (okCancel && (answer == "c" || answer == "cancel")) {
                return IDCANCEL;
            }
        }
    };
}

}  // namespace host

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    char ownerText[24] = "NULL";
    if (owner != nullptr) {
        std::snprintf(ownerText, sizeof ownerText, "0x%lX",
                      static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(owner)));
    }
    char styleText[16];
    std::snprintf(styleText, sizeof styleText, "0x%X", style);
    std::string call = std::string("MessageBoxA(") + ownerText + ", " + host::Quote(text) +
                       ", " + host::Quote(caption) + ", " + styleText + ")";
    int answer = 0;
    if (auto fault = host::TakeFault()) {
        answer = 0;  // the box could not be shown
        host::SetLastError(static_cast<DWORD>(*fault));
    } else {
        answer = host::machine().responder(text ? text : "", caption ? caption : "", style);
    }
    host::Record(call, answer);
    return answer;
}
