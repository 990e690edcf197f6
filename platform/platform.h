// The one door from the uninstaller to the operating system.
//
// On Windows this is the toolchain's <windows.h>. Everywhere else it declares
// the same names, types and constants, and the functions are provided by the
// host model in platform/host/, which behaves like Windows 95/98 and journals
// every call.
#ifndef KVUNINST_PLATFORM_H
#define KVUNINST_PLATFORM_H

#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#else

#include <cstdint>

#define WINAPI
#define APIENTRY

typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef int BOOL;
#define FALSE 0
#define TRUE 1
typedef unsigned char BYTE;
typedef unsigned int UINT;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef void* HANDLE;

struct HKEY__;
struct HWND__;
struct HINSTANCE__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef HWND__* HWND;
typedef HINSTANCE__* HINSTANCE;

// Predefined roots carry the same values as on Windows.
#define HKEY_CURRENT_USER ((HKEY)(std::uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(std::uintptr_t)0x80000002u)

#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ICONQUESTION 0x00000020u

#define IDOK 1
#define IDCANCEL 2

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

BOOL WINAPI DeleteFileA(LPCSTR path);
DWORD WINAPI GetLastError(void);

LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG WINAPI RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize);
LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved,
                             LPDWORD type, LPBYTE data, LPDWORD dataSize);
LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey);
LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName);
LONG WINAPI RegCloseKey(HKEY key);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                   int showCommand);

#endif

#endif
