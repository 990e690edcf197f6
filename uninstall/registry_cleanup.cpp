#include "uninstall/uninstall.h"

namespace {

const CHAR EnumUsbKey[] = "Enum\\USB";
const CHAR ModemClassKey[] = "System\\CurrentControlSet\\Services\\Class\\Modem";
const CHAR UsbClassKey[] = "System\\CurrentControlSet\\Services\\Class\\USB";
const CHAR UninstallKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const CHAR RunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

const BYTE PortDriverBytes[] = {'Q', 'U', 'E', 'N', 'O', 'R', '.', 'V', 'X', 'D'};
const BYTE NTMPDriverBytes[] = {'P', 'E', 'L', 'G', 'R', 'I', 'N', '.', 's', 'y', 's'};

// Class entries are scanned with buffers of this size; a longer name ends the
// scan and longer data is passed over.
const DWORD ScanBufferSize = 256;

bool DataMatches(const BYTE* data, DWORD length, const ClassEntryRule& rule) {
    if (rule.dataLength != 0 && length != rule.dataLength) {
        return false;
    }
    // Only bytes the query returned are compared: shorter data never matches.
    for (DWORD i = 0; i < rule.expectedLength; ++i) {
        if (i >= length || data[i] != rule.expected[i]) {
            return false;
        }
    }
    return true;
}

typedef LONG(WINAPI* RemoveFunction)(HKEY, LPCSTR);

// Opens `path` under `root`, removes `name` under it with `remove` (the key
// or the value deletion) when the open gave a key, and closes the handle
// either way.
void RemoveUnder(HKEY root, LPCSTR path, RemoveFunction remove, LPCSTR name) {
    // A failed open need not write the handle; start from "no key".
    HKEY key = nullptr;
    RegOpenKeyA(root, path, &key);
    if (key != nullptr) {
        remove(key, name);
    }
    RegCloseKey(key);
}

void ScanClass(LPCSTR path, const ClassEntryRule& rule) {
    HKEY classKey = nullptr;
    RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &classKey);
    // A missing class key leaves a null handle, on which the first
    // enumeration fails.
    DeleteMatchingClassEntry(classKey, rule);
    RegCloseKey(classKey);
}

}  // namespace

// Entries are stored with their terminating zero, hence 12 for NTMPDriver.
const ClassEntryRule PortDriverRule = {"PortDriver", PortDriverBytes,
                                       sizeof PortDriverBytes, 0};
const ClassEntryRule NTMPDriverRule = {"NTMPDriver", NTMPDriverBytes,
                                       sizeof NTMPDriverBytes, 12};

void DeleteMatchingClassEntry(HKEY classKey, const ClassEntryRule& rule) {
    CHAR name[ScanBufferSize];
    BYTE data[ScanBufferSize];
    for (DWORD index = 0;; ++index) {
        if (RegEnumKeyA(classKey, index, name, ScanBufferSize) != ERROR_SUCCESS) {
            return;
        }
        HKEY entry = nullptr;
        if (RegOpenKeyA(classKey, name, &entry) != ERROR_SUCCESS) {
            continue;
        }
        DWORD length = ScanBufferSize;
        bool matches = RegQueryValueExA(entry, rule.valueName, nullptr, nullptr,
                                        data, &length) == ERROR_SUCCESS &&
                       DataMatches(data, length, rule);
        if (matches) {
            // Deleted while its own handle is still open, then closed. The
            // scan ends here, so the renumbering never matters.
            RegDeleteKeyA(classKey, name);
            RegCloseKey(entry);
            return;
        }
        RegCloseKey(entry);
    }
}

void RemoveRegistryEntries() {
    // Each step opens its key afresh, even where two steps share it. Deleting
    // a key takes its whole subtree on Windows 95/98; nothing is emptied first.
    RemoveUnder(HKEY_LOCAL_MACHINE, EnumUsbKey, RegDeleteKeyA, "VID_0E5A&PID_7B14");
    RemoveUnder(HKEY_LOCAL_MACHINE, EnumUsbKey, RegDeleteKeyA,
                "KVUSB&VID_0E5A&PID_7B14");
    ScanClass(ModemClassKey, PortDriverRule);
    ScanClass(UsbClassKey, NTMPDriverRule);
    RemoveUnder(HKEY_LOCAL_MACHINE, UninstallKey, RegDeleteKeyA, "KORVANQUENOR");
    RemoveUnder(HKEY_LOCAL_MACHINE, RunKey, RegDeleteValueA, "KORVANUSB");
    RemoveUnder(HKEY_CURRENT_USER, nullptr, RegDeleteKeyA, "KVQUENOR");
}
