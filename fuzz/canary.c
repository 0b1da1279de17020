/* The canary of fuzz/run.py: a planted heap over-read behind four nested byte comparisons.
 *
 * Built like the extension (clang, -fsanitize=address,undefined,fuzzer-no-link). Random inputs
 * reach the over-read about once in 2**32 tries; with coverage feedback libFuzzer gets there in a
 * few thousand, and AddressSanitizer must then report it. So a run that reaches and reports it
 * shows both are live in the fuzzing process, before any real target is trusted to be clean. */
#include <stdlib.h>
#include <string.h>

int canary(const unsigned char *data, size_t size) {
    if (size >= 4 && data[0] == 'F' && data[1] == 'U' && data[2] == 'Z' && data[3] == 'Z') {
        unsigned char *copy = malloc(size);
        if (!copy) return 0;
        memcpy(copy, data, size);
        volatile unsigned char past = copy[size]; /* one byte beyond the allocation */
        free(copy);
        return past;
    }
    return 0;
}
