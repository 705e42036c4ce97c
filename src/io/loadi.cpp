#include "io/loadi.h"

#include <strings.h>

#include <cstring>
#include <string>

#include "io/bank_import.h"
#include "io/input_bytes.h"
#include "io/instrument_file.h"
#include "io/sfz_import.h"

bool is_bank_path(const char* path) {
    if (!path) return false;
    const char* dot = std::strrchr(path, '.');
    return dot && (::strcasecmp(dot, ".sf2") == 0 || ::strcasecmp(dot, ".sf3") == 0);
}

namespace {

// The reason a file is not even tried, or "".
std::string not_for_us(FileInput& in, bool bank) {
    if (!in.ok()) return in.why();
    if (in.size() == 0) return "is empty";
    char magic[sizeof kInstMagic] = {};
    const std::size_t n = bank ? 4 : sizeof kInstMagic;
    if (!in.read_at(0, magic, n))
        return bank ? "is not a SoundFont 2 bank" : "is not an instrument file";
    if (bank && std::memcmp(magic, "RIFF", 4) != 0) return "is not a SoundFont 2 bank";
    if (!bank && std::memcmp(magic, kInstMagic, n) != 0) return "is not an instrument file";
    return "";
}

}  // namespace

void loadi(int, const char* path, const char* /*leaf*/, std::string* why) {
    FileInput in(path);
    if (is_sfz_path(path)) {
        const std::string reason = !in.ok() ? in.why() : in.size() == 0 ? "is empty" : "";
        if (why) *why = reason;
        if (reason.empty()) import_sfz(path);
        return;
    }
    const bool bank = is_bank_path(path);
    const std::string reason = not_for_us(in, bank);
    if (why) *why = reason;
    if (!reason.empty()) return;  // nothing changes, and nothing is shown
    if (bank) {
        import_bank(in, path, path);
    } else {
        read_instrument_file(in, path);
    }
}
