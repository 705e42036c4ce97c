#include "io/loadi.h"

#include <strings.h>

#include <cstring>

#include "io/bank_import.h"
#include "io/input_bytes.h"
#include "io/instrument_file.h"

bool is_bank_path(const char* path) {
    if (!path) return false;
    const char* dot = std::strrchr(path, '.');
    return dot && ::strncasecmp(dot, ".sf2", 4) == 0;
}

void loadi(int, const char* path, const char* /*leaf*/) {
    FileInput in(path);
    if (!in.ok()) return;  // an unopenable file changes nothing
    if (is_bank_path(path)) {
        import_bank(in, path);
    } else {
        read_instrument_file(in, path);
    }
}
