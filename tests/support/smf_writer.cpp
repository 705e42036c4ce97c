#include "support/smf_writer.h"

namespace testkit {

void put_vlq(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = v & 0x7F;
        v >>= 7;
    } while (v);
    while (n > 1) out.push_back(groups[--n] | 0x80);
    out.push_back(groups[0]);
}

SmfTrack& SmfTrack::event(std::uint32_t delta, std::vector<std::uint8_t> bytes) {
    put_vlq(bytes_, delta);
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

SmfTrack& SmfTrack::tempo(std::uint32_t delta, std::uint32_t usec) {
    return event(delta, {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(usec >> 16),
                         static_cast<std::uint8_t>(usec >> 8), static_cast<std::uint8_t>(usec)});
}

SmfTrack& SmfTrack::end(std::uint32_t delta) {
    return event(delta, {0xFF, 0x2F, 0x00});
}

namespace {
void put_be(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
}  // namespace

std::vector<std::uint8_t> smf_file(int format, std::uint16_t division,
                                   const std::vector<SmfTrack>& tracks) {
    std::vector<std::uint8_t> out = {'M', 'T', 'h', 'd'};
    put_be(out, 6, 4);
    put_be(out, static_cast<std::uint32_t>(format), 2);
    put_be(out, static_cast<std::uint32_t>(tracks.size()), 2);
    put_be(out, division, 2);
    for (const SmfTrack& t : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        put_be(out, static_cast<std::uint32_t>(t.bytes().size()), 4);
        out.insert(out.end(), t.bytes().begin(), t.bytes().end());
    }
    return out;
}

}  // namespace testkit
