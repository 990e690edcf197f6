// KVUNINST: removes the Korvan USB modem's driver package from a
// Windows 95/98 machine.
#ifndef KVUNINST_UNINSTALL_H
#define KVUNINST_UNINSTALL_H

#include "platform/platform.h"

// Picks the class entry that belongs to the package: the entry whose value
// `valueName` holds data that starts with `expected` (compared byte by byte,
// case significant) and, when `dataLength` is not zero, is exactly that long.
struct ClassEntryRule {
    LPCSTR valueName;
    const BYTE* expected;
    DWORD expectedLength;
    DWORD dataLength;  // 0: the size is not tested
};

extern const ClassEntryRule PortDriverRule;
extern const ClassEntryRule NTMPDriverRule;

// Attempts to delete each file of the package, in table order.
void RemoveDriverFiles();

// Deletes the package's keys and values, one step after another.
void RemoveRegistryEntries();

// Deletes the lowest-index subkey of `classKey` that `rule` picks, if any.
void DeleteMatchingClassEntry(HKEY classKey, const ClassEntryRule& rule);

#endif
