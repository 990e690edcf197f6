/* holdopen.exe [PATH]: a process that stays until its standard input
 * reaches end of file. With PATH it keeps that file open the way a running
 * program holds its own executable (sharing read and write, not delete).
 * It also brings up Wine's desktop and services, so that they start before
 * (and without the tracing of) the run being watched. Prints "held" when
 * ready. */
#include <windows.h>
#include <stdio.h>

int main(int argc, char **argv)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    char buffer[64];
    DWORD got;
    if (argc > 2) {
        fprintf(stderr, "usage: holdopen.exe [PATH]\n");
        return 2;
    }
    if (argc == 2) {
        file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "holdopen: cannot open %s: error %lu\n", argv[1], GetLastError());
            return 1;
        }
    }
    GetDesktopWindow();
    printf("held\n");
    fflush(stdout);
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, NULL) && got)
        ;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return 0;
}
