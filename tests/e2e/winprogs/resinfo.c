/* Prints what Windows itself reads from a program's resources.
 *
 *   resinfo.exe PROGRAM
 *
 * The version resource through the version API: one "Name=value" line for
 * each string of the US English / Unicode table (040904b0), then
 * "Fixed=a.b.c.d" and "ProductFixed=a.b.c.d" from the fixed file information.
 * Then "Event0=" and event 0 of the message table formatted, as an event viewer
 * does, with the insertion string "inserted text". Last a line "Manifest:"
 * followed by the manifest (resource 1 of type RT_MANIFEST) as it is stored.
 * The program is loaded as data only, so it may be of either word size.
 * Exits 1 when the version resource is missing, 3 for any other part. */
#include <stdio.h>
#include <windows.h>

static const char *const kNames[] = {"ProductName", "ProductVersion", "FileVersion",
                                     "FileDescription", "OriginalFilename"};

static int PrintVersion(const char *program) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(program, &ignored);
    if (size == 0) {
        fprintf(stderr, "no version resource: error %lu\n", GetLastError());
        return 1;
    }
    void *data = HeapAlloc(GetProcessHeap(), 0, size);
    if (data == NULL || !GetFileVersionInfoA(program, 0, size, data)) {
        fprintf(stderr, "GetFileVersionInfoA failed: error %lu\n", GetLastError());
        return 1;
    }
    for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
        char query[128];
        snprintf(query, sizeof query, "\\StringFileInfo\\040904b0\\%s", kNames[i]);
        char *value = NULL;
        UINT length = 0;
        if (VerQueryValueA(data, query, (void **)&value, &length) && value != NULL) {
            printf("%s=%s\n", kNames[i], value);
        }
    }
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    if (VerQueryValueA(data, "\\", (void **)&fixed, &length) && fixed != NULL &&
        length >= sizeof *fixed) {
        printf("Fixed=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
               LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
               LOWORD(fixed->dwFileVersionLS));
        printf("ProductFixed=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
               LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
               LOWORD(fixed->dwProductVersionLS));
    }
    return 0;
}

static int PrintEventAndManifest(const char *program) {
    HMODULE module = LoadLibraryExA(program, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (module == NULL) {
        fprintf(stderr, "cannot load %s as data: error %lu\n", program, GetLastError());
        return 3;
    }
    const char *inserts[] = {"inserted text"};
    char text[512];
    if (FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, 0,
                       MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text,
                       (va_list *)inserts) == 0) {
        fprintf(stderr, "no event 0 in the message table: error %lu\n", GetLastError());
        return 3;
    }
    printf("Event0=%s\n", text);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    HGLOBAL loaded = found != NULL ? LoadResource(module, found) : NULL;
    const void *manifest = loaded != NULL ? LockResource(loaded) : NULL;
    if (manifest == NULL) {
        fprintf(stderr, "no manifest: error %lu\n", GetLastError());
        return 3;
    }
    printf("Manifest:\n");
    fwrite(manifest, 1, SizeofResource(module, found), stdout);
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: resinfo.exe PROGRAM\n");
        return 2;
    }
    int status = PrintVersion(argv[1]);
    if (status != 0) return status;
    return PrintEventAndManifest(argv[1]);
}
