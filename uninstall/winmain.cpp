#include "uninstall/uninstall.h"

namespace {

const CHAR Caption[] = "Korvan-USB";
const CHAR QuitUtilityText[] =
    "You must exit Korvan Modem Utility from your taskbar before you "
    "uninstall Korvan USB Modem.";
const CHAR ConfirmText[] =
    "Are you sure you want to completely uninstall Korvan USB modem ?";
const CHAR RemovedText[] = "Korvan USB modem is removed successfully !!";

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Only an explicit OK goes on; Cancel and a box that could not be shown
    // (0) both leave the system untouched.
    if (MessageBoxA(nullptr, QuitUtilityText, Caption,
                    MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
        return 0;
    }
    if (MessageBoxA(nullptr, ConfirmText, Caption,
                    MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
        return 0;
    }
    RemoveDriverFiles();
    RemoveRegistryEntries();
    MessageBoxA(nullptr, RemovedText, Caption, MB_OK);
    return 0;
}
