#include "io/bank_chunks.h"

#include <cstring>

#include "core/bytes.h"
#include "io/input_bytes.h"

namespace {

using bytes::le32;

bool is(const unsigned char* id, const char* four) {
    return std::memcmp(id, four, 4) == 0;
}

void keep_first(ChunkSpan& span, std::uint64_t offset, std::uint32_t size) {
    if (span.found) return;
    span = {offset, size, true};
}

// A chunk header at `at` that may be one: a name of printable characters
// and a size that fits before `end`.
bool looks_like_chunk(InputBytes& in, std::uint64_t at, std::uint64_t end) {
    unsigned char h[8];
    if (at > end || end - at < 8 || !in.read_at(at, h, 8)) return false;
    for (int i = 0; i < 4; ++i)
        if (h[i] < 0x20 || h[i] > 0x7E) return false;
    return le32(h + 4) <= end - at - 8;
}

// Where the chunk after one whose body ends at `after` begins. Chunks are
// padded to an even size, but some banks leave an odd chunk's pad byte out
// (and count it nowhere): then the next name starts at once.
std::uint64_t next_chunk(InputBytes& in, std::uint64_t after, std::uint32_t size,
                         std::uint64_t end) {
    if (!(size & 1)) return after;
    if (!looks_like_chunk(in, after + 1, end) && looks_like_chunk(in, after, end)) return after;
    return after + 1;
}

// Visits the chunks inside [begin, end); false when one of them claims more
// bytes than its parent holds.
template <typename Visit>
bool walk(InputBytes& in, std::uint64_t begin, std::uint64_t end, Visit visit) {
    std::uint64_t off = begin;
    while (end - off >= 8) {
        unsigned char h[8];
        if (!in.read_at(off, h, 8)) return false;
        const std::uint32_t size = le32(h + 4);
        const std::uint64_t body = off + 8;
        if (size > end - body) return false;
        if (!visit(h, body, size)) return false;
        off = next_chunk(in, body + size, size, end);
        if (off > end) break;
    }
    return true;
}

}  // namespace

BankChunks find_bank_chunks(InputBytes& in) {
    BankChunks c;
    unsigned char h[12];
    if (!in.read_at(0, h, 4) || !is(h, "RIFF")) return c;
    c.riff = true;
    if (!in.read_at(0, h, 12) || !is(h + 8, "sfbk")) {
        c.problem = "This file is not a SoundFont 2 bank.";
        return c;
    }
    // The RIFF size is not trusted either way: the chunks themselves are checked
    // against the file.
    const std::uint64_t end = in.size();
    bool list_ok = true;
    const bool ok =
        walk(in, 12, end, [&](const unsigned char* id, std::uint64_t body, std::uint32_t size) {
            if (!is(id, "LIST") || size < 4) return true;
            unsigned char type[4];
            if (!in.read_at(body, type, 4)) return false;
            const auto inner = [&](const unsigned char* sub, std::uint64_t at, std::uint32_t n) {
                if (is(type, "INFO") && is(sub, "ifil") && n >= 4) {
                    unsigned char v[2];
                    if (!in.read_at(at, v, 2)) return false;
                    c.version_major = bytes::le16(v);
                } else if (is(type, "sdta") && is(sub, "smpl")) {
                    keep_first(c.smpl, at, n);
                } else if (is(type, "pdta")) {
                    if (is(sub, "inst")) keep_first(c.inst, at, n);
                    if (is(sub, "ibag")) keep_first(c.ibag, at, n);
                    if (is(sub, "igen")) keep_first(c.igen, at, n);
                    if (is(sub, "shdr")) keep_first(c.shdr, at, n);
                    if (is(sub, "phdr")) keep_first(c.phdr, at, n);
                    if (is(sub, "pbag")) keep_first(c.pbag, at, n);
                    if (is(sub, "pgen")) keep_first(c.pgen, at, n);
                    if (is(sub, "imod")) keep_first(c.imod, at, n);
                    if (is(sub, "pmod")) keep_first(c.pmod, at, n);
                }
                return true;
            };
            list_ok = walk(in, body + 4, body + size, inner) && list_ok;
            return true;
        });
    if (!ok || !list_ok) {
        c.problem = "This bank is damaged: a chunk runs past the end of its list or of the file.";
        return c;
    }
    if (!c.inst.found || !c.ibag.found || !c.igen.found || !c.shdr.found) {
        c.problem = "This bank is damaged: its instrument lists are missing.";
    }
    return c;
}
