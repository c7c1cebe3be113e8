/* Stands in for curl.exe where a test needs curl's output to be of a given
 * shape. It takes curl's command line as the service composes it,
 *
 *   curl.exe --stderr ERRORFILE -o OUTFILE -f -k URL
 *
 * and reads what to do from URL's query: "size=N" writes N bytes of progress
 * display without a single line feed to ERRORFILE (bare carriage returns, as
 * curl's meter does), and "mark=1" then ends it with a curl error line, still
 * without a line feed. "wait=NAME" then waits, before the download is written,
 * until a file NAME exists in the working directory (at most ten minutes), so
 * that the run stays in this entry. OUTFILE gets a short body naming the size.
 * Exits 0. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static const char *after(const char *text, const char *key) {
    const char *at = strstr(text, key);
    return at != NULL ? at + strlen(key) : NULL;
}

int main(int argc, char **argv) {
    const char *errorFile = NULL;
    const char *outFile = NULL;
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "--stderr") == 0) errorFile = argv[i + 1];
        if (strcmp(argv[i], "-o") == 0) outFile = argv[i + 1];
    }
    const char *url = argc > 1 ? argv[argc - 1] : "";
    if (errorFile == NULL || outFile == NULL) {
        fprintf(stderr, "fakecurl: --stderr and -o are required\n");
        return 2;
    }
    const char *sizeText = after(url, "size=");
    const long long size = sizeText != NULL ? atoll(sizeText) : 0;
    const char *markText = after(url, "mark=");
    const int mark = markText != NULL && *markText == '1';

    FILE *errors = fopen(errorFile, "wb");
    if (errors == NULL) return 3;
    static char chunk[1 << 20];
    const char meter[] = "\r  3 100M    3 3072k    0     0  1024k      0  0:01:40  0:00:03  0:01:37 1024k";
    for (size_t i = 0; i < sizeof chunk; ++i) chunk[i] = meter[i % (sizeof meter - 1)];
    for (long long left = size; left > 0;) {
        const size_t piece = left < (long long)sizeof chunk ? (size_t)left : sizeof chunk;
        if (fwrite(chunk, 1, piece, errors) != piece) return 3;
        left -= (long long)piece;
    }
    if (mark) fputs("curl: (18) transfer closed with outstanding read data remaining", errors);
    if (fclose(errors) != 0) return 3;

    const char *waitText = after(url, "wait=");
    if (waitText != NULL) {
        char name[MAX_PATH];
        size_t length = strcspn(waitText, "&");
        if (length >= sizeof name) return 2;
        memcpy(name, waitText, length);
        name[length] = '\0';
        for (int waited = 0; waited < 6000; ++waited) {
            if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES) break;
            Sleep(100);
        }
    }

    FILE *out = fopen(outFile, "wb");
    if (out == NULL) return 3;
    fprintf(out, "fake download after %lld bytes of progress\r\n", size);
    return fclose(out) != 0 ? 3 : 0;
}
