// Process entry point in place of the C runtime's: KVUNINST.EXE links no
// runtime library, so it loads on a bare Windows 95/98 machine.
#include "platform/platform.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

// The loader does not promise the stack alignment GCC assumes for i686.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void
WinMainCRTStartup() {
    // The command line handed to WinMain starts after the program's name,
    // which may be quoted.
    LPSTR arguments = GetCommandLineA();
    bool quoted = false;
    while (*arguments != '\0' && (quoted || (*arguments != ' ' && *arguments != '\t'))) {
        if (*arguments == '"') {
            quoted = !quoted;
        }
        ++arguments;
    }
    while (*arguments == ' ' || *arguments == '\t') {
        ++arguments;
    }
    ExitProcess(static_cast<UINT>(WinMain(reinterpret_cast<HINSTANCE>(&__ImageBase),
                                          nullptr, arguments, SW_SHOWDEFAULT)));
}
