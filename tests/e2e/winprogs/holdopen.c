/* Holds a file open the way a running program often does: read access, and
 * others may read it too but neither write, rename nor delete it.
 *
 *   holdopen.exe FILE READY RELEASE
 *
 * Opens FILE, creates READY, then waits until RELEASE exists (at most ten
 * minutes, so a forgotten holder still ends), closes FILE and exits 0. Exits 2
 * when FILE cannot be opened. */
#include <stdio.h>
#include <windows.h>

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: holdopen.exe FILE READY RELEASE\n");
        return 2;
    }
    HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (held == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open %s: error %lu\n", argv[1], GetLastError());
        return 2;
    }
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (ready == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot create %s: error %lu\n", argv[2], GetLastError());
        CloseHandle(held);
        return 2;
    }
    CloseHandle(ready);
    for (int waited = 0; waited < 6000; ++waited) {
        if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(100);
    }
    CloseHandle(held);
    return 0;
}
