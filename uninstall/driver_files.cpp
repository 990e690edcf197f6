#include "uninstall/uninstall.h"

namespace {

// The installer copied the same files into the Windows directory, which the
// program never asks for: the names are tried relative to the start
// directory, then under c:\windows and d:\windows. Only the c: group holds
// the tray utility.
LPCSTR const DriverFileTable[] = {
    "system32\\drivers\\pelgrin.sys",
    "system32\\drivers\\pelgrin.lib",
    "system\\quenor.vxd",
    "system\\tarvel.vxd",
    "inf\\other\\korvankvusb.inf",
    "inf\\other\\korvanquenor.inf",
    "inf\\quenor.inf",
    "inf\\quenor.pnf",
    "c:\\windows\\system32\\drivers\\pelgrin.sys",
    "c:\\windows\\system32\\drivers\\pelgrin.lib",
    "c:\\windows\\system\\quenor.vxd",
    "c:\\windows\\system\\tarvel.vxd",
    "c:\\windows\\inf\\other\\korvankvusb.inf",
    "c:\\windows\\inf\\other\\korvanquenor.inf",
    "c:\\windows\\inf\\quenor.inf",
    "c:\\windows\\inf\\quenor.pnf",
    "c:\\windows\\hestrim.exe",
    "d:\\windows\\system32\\drivers\\pelgrin.sys",
    "d:\\windows\\system32\\drivers\\pelgrin.lib",
    "d:\\windows\\system\\quenor.vxd",
    "d:\\windows\\system\\tarvel.vxd",
    "d:\\windows\\inf\\other\\korvankvusb.inf",
    "d:\\windows\\inf\\other\\korvanquenor.inf",
    "d:\\windows\\inf\\quenor.inf",
    "d:\\windows\\inf\\quenor.pnf",
};

}  // namespace

void RemoveDriverFiles() {
    // Best effort: a file that is missing, read-only or in use simply stays.
    for (LPCSTR path : DriverFileTable) {
        DeleteFileA(path);
    }
}
