// Writing and opening session files.
#include "platform/session_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "core/bytes.h"
#include "core/fourcc.h"
#include "core/hooks.h"
#include "core/instruments.h"
#include "core/reclaim.h"
#include "core/sound.h"
#include "engine/channels.h"
#include "io/input_bytes.h"
#include "io/instrument_file.h"
#include "io/load.h"
#include "midi/midi_port.h"

namespace {

std::string escape(const std::string& v) {
    std::string out;
    for (char c : v) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string unescape(const std::string& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            out += v[i + 1] == 'n' ? '\n' : v[i + 1];
            ++i;
        } else {
            out += v[i];
        }
    }
    return out;
}

std::string hex(std::uint64_t v) {
    char s[17];
    std::snprintf(s, sizeof s, "%016llx", static_cast<unsigned long long>(v));
    return s;
}

// The manifest as written: keys in the order they are added.
class Manifest {
  public:
    void put(const std::string& key, const std::string& value) {
        text_ += key + "=" + escape(value) + "\n";
    }
    void put(const std::string& key, std::int64_t value) { put(key, std::to_string(value)); }
    void put_list(const std::string& key, const std::vector<std::int64_t>& values) {
        std::string s;
        for (std::size_t i = 0; i < values.size(); ++i)
            s += (i ? "," : "") + std::to_string(values[i]);
        put(key, s);
    }
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

// The manifest as read.
class Entries {
  public:
    explicit Entries(const std::string& text) {
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(at, end - at);
            const std::size_t eq = line.find('=');
            if (eq != std::string::npos) map_[line.substr(0, eq)] = unescape(line.substr(eq + 1));
            at = end + 1;
        }
    }
    bool has(const std::string& key) const { return map_.count(key) != 0; }
    std::string str(const std::string& key) const {
        const auto it = map_.find(key);
        return it == map_.end() ? std::string() : it->second;
    }
    // A number; `ok` turns false when the entry is missing or not a number.
    std::int64_t num(const std::string& key, bool& ok) const {
        const std::string s = str(key);
        std::int64_t v = 0;
        const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) ok = false;
        return v;
    }
    std::uint64_t hexnum(const std::string& key, bool& ok) const {
        const std::string s = str(key);
        std::uint64_t v = 0;
        const auto r = std::from_chars(s.data(), s.data() + s.size(), v, 16);
        if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) ok = false;
        return v;
    }
    std::vector<std::int64_t> list(const std::string& key, std::size_t n, bool& ok) const {
        std::vector<std::int64_t> out;
        const std::string s = str(key);
        const char* p = s.data();
        const char* end = p + s.size();
        while (p < end) {
            std::int64_t v = 0;
            const auto r = std::from_chars(p, end, v);
            if (r.ec != std::errc()) break;
            out.push_back(v);
            p = r.ptr;
            if (p < end && *p == ',')
                ++p;
            else
                break;
        }
        if (out.size() != n || p != end) ok = false;
        out.resize(n);
        return out;
    }
    const std::map<std::string, std::string>& all() const { return map_; }

  private:
    std::map<std::string, std::string> map_;
};

// A window onto a part of the session file.
class SliceInput final : public InputBytes {
  public:
    SliceInput(InputBytes& in, std::uint64_t at, std::uint64_t size)
        : in_(in), at_(at), size_(size) {}
    std::uint64_t size() const override { return size_; }
    bool read_at(std::uint64_t offset, void* dst, std::size_t n) override {
        return holds(offset, n) && in_.read_at(at_ + offset, dst, n);
    }

  private:
    InputBytes& in_;
    std::uint64_t at_, size_;
};

// The fields of a sound that its instrument file does not carry.
void put_sound_extra(Manifest& m, int s, const p_s* r) {
    const std::string k = "sound." + std::to_string(s) + ".";
    if (!r) {
        m.put(k + "empty", 1);
        return;
    }
    m.put_list(k + "fields",
               {r->type, r->res_a, r->res_b, r->res_c, r->loop_end, r->nb_next, r->loop_start});
    if (r->path[0]) m.put(k + "path", r->path);
    if (r->ipath[0]) m.put(k + "ipath", r->ipath);
}

constexpr int kChannelFields = 13;

std::vector<std::int64_t> channel_fields(int c) {
    return {ch_inst[c],  ch_instf[c],     ch_pitch[c],    ch_main[c], ch_pan[c],
            ch_ctune[c], ch_pitchsens[c], ch_register[c], ch_lpf[c],  ch_mod[c],
            mute[c],     ch_expr[c],      ch_sustain[c]};
}

void set_channel_fields(int c, const std::vector<std::int64_t>& v) {
    const auto i32 = [](std::int64_t x) { return static_cast<std::int32_t>(x); };
    ch_inst[c] = i32(v[0]);
    ch_instf[c] = v[1] != 0;
    ch_pitch[c] = i32(v[2]);
    ch_main[c] = i32(v[3]);
    ch_pan[c] = i32(v[4]);
    ch_ctune[c] = i32(v[5]);
    ch_pitchsens[c] = i32(v[6]);
    ch_register[c] = i32(v[7]);
    ch_lpf[c] = i32(v[8]);
    ch_mod[c] = i32(v[9]);
    mute[c] = v[10] != 0;
    ch_expr[c] = i32(v[11]);
    ch_sustain[c] = v[12] != 0;
}

// The parameters a streamed sound's instrument-file block gives to the
// record made again from its file.
void copy_parameters(p_s* to, const p_s* from) {
    std::memcpy(to->name, from->name, sizeof to->name);
    to->base = from->base;
    to->key_lo = from->key_lo;
    to->key_hi = from->key_hi;
    to->vel_lo = from->vel_lo;
    to->vel_hi = from->vel_hi;
    for (int p = 0; p < kPoints; ++p)
        for (int c = 0; c < kCurves; ++c) to->env[p][c] = from->env[p][c];
    to->flags = from->flags;
    to->pan = from->pan;
    to->rel_time = from->rel_time;
    to->art = from->art;
}

// A file whose bytes sounds use as they are (a bank's samples), read whole.
struct SourceFile {
    int index = -1;  // in the manifest; -1 while no sound uses it
    std::vector<char> bytes;
    bool readable = false;
};

// True when `name` ends in ".sf2" (case ignored): a bank whose sample data
// lies in the file as the sounds hold it.
bool bank_path(const char* name) {
    const std::size_t n = std::strlen(name);
    return n > 4 && name[n - 4] == '.' &&
           std::tolower(static_cast<unsigned char>(name[n - 3])) == 's' &&
           std::tolower(static_cast<unsigned char>(name[n - 2])) == 'f' && name[n - 1] == '2';
}

bool read_whole(const std::string& path, std::vector<char>& out, std::size_t spare = 0) {
    FileInput in(path.c_str());
    if (!in.ok()) return false;
    try {
        out.assign(static_cast<std::size_t>(in.size()) + spare, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return in.read_at(0, out.data(), static_cast<std::size_t>(in.size()));
}

void free_all(std::vector<p_s*>& records) {
    for (p_s* r : records) delete r;
    records.clear();
}

}  // namespace

std::uint64_t session_hash(const void* data, std::size_t n, std::uint64_t h) noexcept {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

std::uint64_t session_hash_words(const void* data, std::size_t n, std::uint64_t h) noexcept {
    const auto* p = static_cast<const unsigned char*>(data);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        h = (h ^ w) * 0x100000001b3ull;
    }
    return session_hash(p + i, n - i, h);
}

bool session_hash_file(const std::string& path, std::uint64_t& size, std::uint64_t& hash) {
    FileInput in(path.c_str());
    if (!in.ok()) return false;
    size = in.size();
    hash = session_hash(nullptr, 0);
    std::vector<unsigned char> piece(1 << 20);
    for (std::uint64_t at = 0; at < size;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size - at, piece.size()));
        if (!in.read_at(at, piece.data(), n)) return false;
        hash = session_hash_words(piece.data(), n, hash);
        at += n;
    }
    return true;
}

bool is_session_path(const std::string& path) {
    const std::string suffix = kSessionSuffix;
    return path.size() > suffix.size() &&
           path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

SessionCapture capture_session(SessionSettings settings) {
    SessionCapture c;
    const InstrumentStructure& st = structure();
    c.structure = std::make_shared<InstrumentStructure>();
    InstrumentStructure& copy = *c.structure;
    copy.nb_sound = st.nb_sound;
    copy.nb_inst = st.nb_inst;
    std::copy(std::begin(st.inst), std::end(st.inst), std::begin(copy.inst));
    c.records.reserve(static_cast<std::size_t>(st.sounds()));
    for (int s = 0; s < st.sounds(); ++s) {
        if (!st.at(s)) continue;
        c.records.push_back(std::make_shared<p_s>(*st.at(s)));
        copy.sound[s] = c.records.back().get();
    }
    for (int k = 0; k < st.insts(); ++k) c.names.emplace_back(inst_name(k));
    c.settings = std::move(settings);
    return c;
}

std::uint64_t session_fingerprint() {
    std::uint64_t h = session_hash(nullptr, 0);
    const auto add = [&h](std::int64_t v) { h = session_hash_words(&v, sizeof v, h); };
    const InstrumentStructure& st = structure();
    add(st.sounds());
    add(st.insts());
    for (int k = 0; k < st.insts(); ++k) {
        add(st.inst[k]);
        h = session_hash(inst_name(k), std::strlen(inst_name(k)), h);
    }
    for (int s = 0; s < st.sounds(); ++s) {
        const p_s* r = st.at(s);
        add(reinterpret_cast<std::intptr_t>(r));
        if (!r) continue;
        add(static_cast<std::int64_t>(r->ident));
        for (std::int64_t v :
             {std::int64_t{r->rate}, std::int64_t{r->size}, std::int64_t{r->loop_start},
              std::int64_t{r->loop_end}, std::int64_t{r->loop}, std::int64_t{r->base},
              std::int64_t{r->key_lo}, std::int64_t{r->key_hi}, std::int64_t{r->vel_lo},
              std::int64_t{r->vel_hi}, std::int64_t{r->flags}, std::int64_t{r->pan},
              std::int64_t{r->rel_time}, std::int64_t{r->res_a}, std::int64_t{r->res_b},
              std::int64_t{r->type}})
            add(v);
        for (int p = 0; p < kPoints; ++p)
            for (int c = 0; c < kCurves; ++c) add(r->env[p][c]);
        h = session_hash(r->name, sizeof r->name, h);
        unsigned char art[kInstBlockBytes] = {};
        put_articulation(art, r->art);
        h = session_hash(art, sizeof art, h);
    }
    for (int c = 0; c < kChannels; ++c) {
        const auto f = channel_fields(c);
        for (int i : {0, 1, 3, 4, 5, 6, 8, 10}) add(f[i]);
    }
    for (const auto& b : midimess_to_func) add(b);
    add(fmodei ? 1 : 0);
    return h;
}

bool write_session(const std::string& path, const SessionCapture& capture, std::string& error) {
    // The instruments first, into memory: the manifest gives their places.
    std::vector<unsigned char> parts;
    Manifest m;
    m.put("format", "plexora-session");
    m.put("version", kSessionVersion);
    {
        const InstrumentStructure& st = *capture.structure;
        const int insts = st.insts();
        m.put("sounds", st.sounds());
        m.put("instruments", insts);
        // A bank's sounds whose data is still what the bank holds go by the
        // bank's path; edited ones (copy-on-write) by their data.
        std::map<std::string, SourceFile> sources;
        std::vector<int> by_file(st.sounds(), -1);
        int files = 0;
        for (int s = 0; s < st.sounds(); ++s) {
            const p_s* r = st.at(s);
            if (capture.copy_samples || !r || r->type != kTypeMemory || !r->data || r->size == 0 ||
                !bank_path(r->path))
                continue;
            SourceFile& f = sources[r->path];
            if (!f.readable && f.bytes.empty()) f.readable = read_whole(r->path, f.bytes);
            if (!f.readable || std::uint64_t{r->file_offset} + r->size > f.bytes.size() ||
                std::memcmp(f.bytes.data() + r->file_offset, r->data, r->size) != 0)
                continue;
            if (f.index < 0) {
                f.index = files++;
                const std::string fk = "file." + std::to_string(f.index) + ".";
                m.put(fk + "path", r->path);
                m.put(fk + "size", static_cast<std::int64_t>(f.bytes.size()));
                m.put(fk + "hash", hex(session_hash_words(f.bytes.data(), f.bytes.size())));
            }
            by_file[s] = f.index;
            m.put_list("sound." + std::to_string(s) + ".in_file",
                       {f.index, std::int64_t{r->file_offset}, std::int64_t{r->size}});
        }
        sources.clear();
        m.put("files", files);
        // A sound read from a sample file and never edited goes by the file:
        // the loader reads it again, and only when that gives exactly the
        // bytes the sound holds (the same decoding, the same conversion, not
        // streamed) is the data left out; otherwise it is stored whole.
        std::vector<bool> from_file(st.sounds(), false);
        for (int s = 0; !capture.copy_samples && s < st.sounds(); ++s) {
            const p_s* r = st.at(s);
            if (!r || r->type != kTypeMemory || !r->data || r->size == 0 || !r->path[0] ||
                by_file[s] >= 0 || bank_path(r->path))
                continue;
            std::uint64_t size = 0, hash = 0;
            if (!session_hash_file(r->path, size, hash)) continue;
            const PreparedSound again = prepare_sound(r->path, r->name);
            if (again.result != LoadResult::loaded || again.rec->type != kTypeMemory ||
                again.rec->size != r->size || std::memcmp(again.rec->data, r->data, r->size) != 0)
                continue;
            from_file[s] = true;
            const std::string fk = "sound." + std::to_string(s) + ".from_file.";
            m.put(fk + "path", r->path);
            m.put(fk + "size", static_cast<std::int64_t>(size));
            m.put(fk + "hash", hex(hash));
            m.put(fk + "data", hex(session_hash_words(r->data, r->size)));
        }
        const auto without_data = [&](int s) {
            const p_s* r = st.at(s);
            return (r && r->type == kTypeStreamed) ||
                   (s < int(by_file.size()) && (by_file[s] >= 0 || from_file[s]));
        };
        for (int k = 0; k < insts; ++k) {
            const std::string key = "instrument." + std::to_string(k) + ".";
            const int first = st.inst[k];
            const int count = (k + 1 < insts ? st.inst[k + 1] : st.sounds()) - first;
            // A streamed sound goes by its file; the others by their data.
            for (int i = first; i < first + count; ++i) {
                const p_s* r = st.at(i);
                if (!r || r->type != kTypeStreamed) continue;
                std::uint64_t size = 0, hash = 0;
                if (!session_hash_file(r->path, size, hash)) {
                    error = std::string("The file of the streamed sound \"") + r->name +
                            "\" cannot be read: " + r->path;
                    return false;
                }
                const std::string sk = "sound." + std::to_string(i) + ".stream.";
                m.put(sk + "path", r->path);
                m.put(sk + "size", static_cast<std::int64_t>(size));
                m.put(sk + "hash", hex(hash));
            }
            const std::size_t at = parts.size();
            std::uint64_t h = session_hash(nullptr, 0);
            const auto sink = [&](const void* p, std::size_t n) {
                const auto* b = static_cast<const unsigned char*>(p);
                parts.insert(parts.end(), b, b + n);
                h = session_hash(p, n, h);
                return true;
            };
            if (!write_instrument(st, k, capture.names[k].c_str(), sink, without_data)) {
                error = "Instrument " + std::to_string(k) + " could not be written.";
                return false;
            }
            m.put(key + "at", static_cast<std::int64_t>(at));
            m.put(key + "bytes", static_cast<std::int64_t>(parts.size() - at));
            m.put(key + "hash", hex(h));
        }
        for (int s = 0; s < st.sounds(); ++s) put_sound_extra(m, s, st.at(s));
    }
    m.put("selected", no_s);
    m.put("play_selected", fmodei ? 1 : 0);
    m.put("stream_from", limitd2d);
    for (int c = 0; c < kChannels; ++c)
        m.put_list("channel." + std::to_string(c), channel_fields(c));
    std::vector<std::int64_t> binds, kits;
    for (const auto& b : midimess_to_func) binds.push_back(b);
    for (const auto& k : drum_kit_inst) kits.push_back(k);
    m.put_list("bindings", binds);
    m.put_list("drum_kits", kits);
    for (const auto& [key, value] : capture.settings) m.put("setting." + key, value);
    m.put("parts_bytes", static_cast<std::int64_t>(parts.size()));

    const std::string& text = m.text();
    unsigned char head[kSessionHeaderBytes];
    std::memcpy(head, kSessionMagic, sizeof kSessionMagic);
    bytes::put_be(head + 8, kSessionVersion, 4);
    bytes::put_be(head + 12, static_cast<std::uint32_t>(text.size()), 4);

    std::string tmp = path + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) {
        error = "The session cannot be written there: " + std::string(std::strerror(errno));
        return false;
    }
    ::fchmod(fd, 0644);
    bool ok = write_all(fd, head, sizeof head) && write_all(fd, text.data(), text.size()) &&
              write_all(fd, parts.data(), parts.size());
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = "The session could not be written: " + std::string(std::strerror(errno));
        ::unlink(tmp.c_str());
    }
    return ok;
}

// Everything a session sets, read and checked, not yet published.
struct SessionContents {
    std::vector<p_s*> records;  // owned until published
    std::vector<std::uint16_t> firsts;
    std::vector<std::string> names;
    std::vector<std::vector<std::int64_t>> channels;
    std::vector<std::int64_t> binds, kits;
    std::int64_t sounds = 0, insts = 0, selected = 0, play_selected = 0, stream_from = 0;
    SessionSettings settings;
    ~SessionContents() { free_all(records); }
};

SessionOpened open_session(const std::string& path, const SessionMoves& moved) {
    return publish_session(read_session(path, moved));
}

SessionOpened open_session(InputBytes& file, const SessionMoves& moved) {
    return publish_session(read_session(file, moved));
}

SessionRead read_session(const std::string& path, const SessionMoves& moved,
                         const std::atomic<bool>* cancel, std::atomic<int>* permille) {
    FileInput file(path.c_str());
    if (!file.ok()) {
        SessionRead out;
        out.error = "The session cannot be opened: " + file.why();
        return out;
    }
    return read_session(file, moved, cancel, permille);
}

SessionRead read_session(InputBytes& file, const SessionMoves& moved,
                         const std::atomic<bool>* cancel, std::atomic<int>* permille) {
    SessionRead out;
    // Where a file the session names is now, if the user has said so.
    const auto now_at = [&moved](const std::string& saved) {
        const auto it = moved.find(saved);
        return it == moved.end() ? saved : it->second;
    };
    unsigned char head[kSessionHeaderBytes];
    if (!file.read_at(0, head, sizeof head) ||
        std::memcmp(head, kSessionMagic, sizeof kSessionMagic) != 0) {
        out.error = "This is not a session file, or its start is damaged.";
        return out;
    }
    const std::uint32_t version = bytes::be32(head + 8);
    if (version > kSessionVersion) {
        out.error = "This session was saved by a newer version of the program (session layout " +
                    std::to_string(version) + "; this version opens layouts up to " +
                    std::to_string(kSessionVersion) + "). Nothing was opened.";
        return out;
    }
    const std::uint32_t text_bytes = bytes::be32(head + 12);
    std::string text;
    if (file.holds(kSessionHeaderBytes, text_bytes)) text.resize(text_bytes);
    if (text.size() != text_bytes || !file.read_at(kSessionHeaderBytes, text.data(), text_bytes)) {
        out.error =
            "This session file is incomplete (it ends inside its list of contents). "
            "Nothing was opened.";
        return out;
    }
    const Entries e(text);
    bool ok = e.str("format") == "plexora-session";
    const std::uint64_t base = kSessionHeaderBytes + std::uint64_t{text_bytes};
    const std::int64_t parts_bytes = e.num("parts_bytes", ok);
    if (!ok) {
        out.error = "This session file is damaged (its list of contents cannot be read).";
        return out;
    }
    if (file.size() != base + static_cast<std::uint64_t>(parts_bytes)) {
        out.error = "This session file is incomplete: it holds " + std::to_string(file.size()) +
                    " bytes of " + std::to_string(base + parts_bytes) +
                    " (it was cut short, perhaps while copying). Nothing was opened.";
        return out;
    }
    const std::int64_t sounds = e.num("sounds", ok), insts = e.num("instruments", ok);
    if (!ok || sounds < 1 || sounds > kMaxSounds || insts < 1 || insts > kMaxInsts) {
        out.error = "This session file is damaged (its counts are out of range).";
        return out;
    }

    // Every record is built before anything is published.
    std::vector<p_s*> records;
    std::vector<std::uint16_t> firsts;
    std::vector<std::string> names;
    const auto fail = [&](const std::string& why) {
        free_all(records);
        out.error = why + " Nothing was opened.";
        return out;
    };
    // Progress in steps: the instruments, the files sounds use, the sounds.
    const std::int64_t steps = insts + std::max<std::int64_t>(e.num("files", ok), 0) + sounds;
    std::int64_t step = 0;
    const auto stopped = [&] {
        if (permille)
            permille->store(static_cast<int>(1000 * std::min(++step, steps) / steps),
                            std::memory_order_relaxed);
        out.cancelled = cancel && cancel->load(std::memory_order_relaxed);
        return out.cancelled;
    };
    std::vector<unsigned char> piece(1 << 20);
    for (int k = 0; k < insts; ++k) {
        if (stopped()) return fail("Opening was cancelled.");
        const std::string key = "instrument." + std::to_string(k) + ".";
        const std::int64_t at = e.num(key + "at", ok), n = e.num(key + "bytes", ok);
        const std::uint64_t want = e.hexnum(key + "hash", ok);
        if (!ok || at < 0 || n < 0 || at > parts_bytes || n > parts_bytes - at)
            return fail("This session file is damaged (instrument " + std::to_string(k + 1) +
                        " lies outside it).");
        SliceInput part(file, base + static_cast<std::uint64_t>(at), static_cast<std::uint64_t>(n));
        std::uint64_t h = session_hash(nullptr, 0);
        for (std::int64_t done = 0; done < n;) {
            const auto len =
                static_cast<std::size_t>(std::min<std::int64_t>(n - done, piece.size()));
            if (!part.read_at(static_cast<std::uint64_t>(done), piece.data(), len))
                return fail("This session file cannot be read.");
            h = session_hash(piece.data(), len, h);
            done += static_cast<std::int64_t>(len);
        }
        if (h != want)
            return fail("This session file is damaged: instrument " + std::to_string(k + 1) +
                        " does not match what was saved.");
        InstrumentRecords got = read_instrument_records(part);
        if (!got.problem.empty())
            return fail("Instrument " + std::to_string(k + 1) + " of this session: " + got.problem);
        firsts.push_back(static_cast<std::uint16_t>(records.size()));
        names.push_back(got.name);
        records.insert(records.end(), got.sounds.begin(), got.sounds.end());
        if (static_cast<std::int64_t>(records.size()) > sounds)
            return fail("This session file is damaged (more sounds than it announces).");
    }
    if (static_cast<std::int64_t>(records.size()) != sounds)
        return fail("This session file is damaged (fewer sounds than it announces).");

    // The files whose bytes sounds use: each must be there, unchanged.
    const std::int64_t files = e.num("files", ok);
    std::vector<std::shared_ptr<std::int8_t[]>> file_blocks;
    std::vector<std::uint64_t> file_sizes;
    for (std::int64_t i = 0; ok && i < files; ++i) {
        if (stopped()) return fail("Opening was cancelled.");
        const std::string fk = "file." + std::to_string(i) + ".";
        const std::string file_path = now_at(e.str(fk + "path"));
        const auto want_size = static_cast<std::uint64_t>(e.num(fk + "size", ok));
        const std::uint64_t want_hash = e.hexnum(fk + "hash", ok);
        FileInput in(file_path.c_str());
        if (!in.ok()) {
            out.missing = e.str(fk + "path");
            return fail("The sound file the session uses is missing (moved or deleted?):\n" +
                        file_path + "\n");
        }
        const std::uint64_t size = in.size();
        std::shared_ptr<std::int8_t[]> block;
        if (size == want_size) {
            block.reset(new (std::nothrow) std::int8_t[size + kSpareBytes]());
            if (!block) return fail("There is not enough memory to open this session.");
        }
        if (!block || !in.read_at(0, block.get(), size) ||
            session_hash_words(block.get(), size) != want_hash)
            return fail(
                "The sound file the session uses has changed since the session was "
                "saved:\n" +
                file_path + "\n");
        file_blocks.push_back(std::move(block));
        file_sizes.push_back(size);
    }
    const std::int64_t stream_from = e.num("stream_from", ok);
    // The fields the instrument files leave out, and the streamed sounds
    // made again from their files.
    for (int s = 0; s < sounds; ++s) {
        if (stopped()) return fail("Opening was cancelled.");
        const std::string k = "sound." + std::to_string(s) + ".";
        if (e.has(k + "empty")) {
            delete records[s];
            records[s] = nullptr;
            continue;
        }
        const auto f = e.list(k + "fields", 7, ok);
        if (!ok) return fail("This session file is damaged (sound " + std::to_string(s) + ").");
        p_s* r = records[s];
        if (e.has(k + "stream.path")) {
            const std::string file_path = now_at(e.str(k + "stream.path"));
            std::uint64_t size = 0, hash = 0;
            const std::uint64_t want_size =
                static_cast<std::uint64_t>(e.num(k + "stream.size", ok));
            const std::uint64_t want_hash = e.hexnum(k + "stream.hash", ok);
            if (!session_hash_file(file_path, size, hash)) {
                out.missing = e.str(k + "stream.path");
                return fail("The sample file of sound \"" + std::string(r->name) +
                            "\" is missing (moved or deleted?):\n" + file_path + "\n");
            }
            if (size != want_size || hash != want_hash)
                return fail("The sample file of sound \"" + std::string(r->name) +
                            "\" has changed since the session was saved:\n" + file_path + "\n");
            PreparedSound again =
                prepare_sound(file_path.c_str(), r->name, std::max<std::int64_t>(stream_from, 0));
            if (again.result != LoadResult::loaded)
                return fail("The sample file of sound \"" + std::string(r->name) +
                            "\" cannot be read again: " + again.why + "\n");
            copy_parameters(again.rec.get(), r);
            delete r;
            r = records[s] = again.rec.release();
        } else {
            if (e.has(k + "in_file")) {
                const auto in = e.list(k + "in_file", 3, ok);
                if (!ok || in[0] < 0 || in[0] >= std::int64_t(file_blocks.size()) || in[1] < 0 ||
                    in[2] <= 0 || std::uint64_t(in[1]) > file_sizes[in[0]] ||
                    std::uint64_t(in[2]) > file_sizes[in[0]] - std::uint64_t(in[1]) ||
                    in[2] > std::int64_t{UINT32_MAX - kSpareBytes})
                    return fail("This session file is damaged (sound " + std::to_string(s) + ").");
                r->block = file_blocks[in[0]];
                r->data = r->block.get() + in[1];
                r->capacity = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                    file_sizes[in[0]] + kSpareBytes - std::uint64_t(in[1]), UINT32_MAX));
                r->size = static_cast<std::uint32_t>(in[2]);
            } else if (e.has(k + "from_file.path")) {
                const std::string file_path = now_at(e.str(k + "from_file.path"));
                const std::string said = "The sample file of sound \"" + std::string(r->name);
                std::uint64_t size = 0, hash = 0;
                const auto want_size = static_cast<std::uint64_t>(e.num(k + "from_file.size", ok));
                const std::uint64_t want_hash = e.hexnum(k + "from_file.hash", ok);
                const std::uint64_t want_data = e.hexnum(k + "from_file.data", ok);
                if (!session_hash_file(file_path, size, hash)) {
                    out.missing = e.str(k + "from_file.path");
                    return fail(said + "\" is missing (moved or deleted?):\n" + file_path + "\n");
                }
                if (!ok || size != want_size || hash != want_hash)
                    return fail(said + "\" has changed since the session was saved:\n" + file_path +
                                "\n");
                // Read whole, as it was when saved, whatever the streaming limit.
                PreparedSound again = prepare_sound(file_path.c_str(), r->name, INT64_MAX);
                if (again.result != LoadResult::loaded || again.rec->type != kTypeMemory ||
                    session_hash_words(again.rec->data, again.rec->size) != want_data)
                    return fail(said +
                                "\" no longer reads as it did when the session was saved:\n" +
                                file_path + "\n");
                r->block = again.rec->block;
                r->data = again.rec->data;
                r->capacity = again.rec->capacity;
                r->size = again.rec->size;
            }
            // Only a sound made again from its file streams.
            r->type = f[0] == kTypeInstrumentHead ? kTypeInstrumentHead : kTypeMemory;
            r->loop_end = static_cast<std::uint32_t>(std::clamp<std::int64_t>(f[4], 0, r->size));
            r->loop_start = static_cast<std::uint32_t>(std::clamp<std::int64_t>(f[6], 0, r->size));
        }
        r->res_a = static_cast<std::uint16_t>(f[1]);
        r->res_b = static_cast<std::uint16_t>(f[2]);
        r->res_c = static_cast<std::uint16_t>(f[3]);
        r->nb_next = static_cast<std::int16_t>(f[5]);
        if (r->type != kTypeStreamed)  // (a stream keeps the path it was made from)
            std::snprintf(r->path, sizeof r->path, "%s", now_at(e.str(k + "path")).c_str());
        std::snprintf(r->ipath, sizeof r->ipath, "%s", e.str(k + "ipath").c_str());
    }
    std::vector<std::vector<std::int64_t>> channels;
    for (int c = 0; c < kChannels; ++c)
        channels.push_back(e.list("channel." + std::to_string(c), kChannelFields, ok));
    const auto binds = e.list("bindings", 16, ok);
    const auto kits = e.list("drum_kits", kDrumKits, ok);
    const std::int64_t selected = e.num("selected", ok), play_selected = e.num("play_selected", ok);
    if (!ok) return fail("This session file is damaged (its channel tables cannot be read).");

    auto c = std::make_shared<SessionContents>();
    c->records = std::move(records);
    c->firsts = std::move(firsts);
    c->names = std::move(names);
    c->channels = std::move(channels);
    c->binds = binds;
    c->kits = kits;
    c->sounds = sounds;
    c->insts = insts;
    c->selected = selected;
    c->play_selected = play_selected;
    c->stream_from = stream_from;
    for (const auto& [key, value] : e.all())
        if (key.rfind("setting.", 0) == 0) c->settings.emplace_back(key.substr(8), value);
    out.contents = std::move(c);
    return out;
}

SessionOpened publish_session(SessionRead read) {
    SessionOpened out;
    out.error = read.error;
    out.missing = read.missing;
    if (!read.contents) return out;
    SessionContents& c = *read.contents;
    // One publication replaces every sound and instrument.
    try {
        StructureEdit edit;
        InstrumentStructure& st = edit.next();
        std::fill(std::begin(st.sound), std::end(st.sound), nullptr);
        std::fill(std::begin(st.inst), std::end(st.inst), 0);
        std::copy(c.records.begin(), c.records.end(), st.sound);
        std::copy(c.firsts.begin(), c.firsts.end(), st.inst);
        st.nb_sound = static_cast<std::uint16_t>(c.sounds);
        st.nb_inst = static_cast<std::uint16_t>(c.insts);
        edit.publish();
    } catch (const std::bad_alloc&) {
        out.error = "There is not enough memory to open this session. Nothing was opened.";
        return out;
    }
    c.records.clear();  // the tables hold them now
    clear_inst_names();
    for (int k = 0; k < c.insts; ++k) set_inst_name(k, c.names[k].c_str());
    for (int ch = 0; ch < kChannels; ++ch) set_channel_fields(ch, c.channels[ch]);
    for (int i = 0; i < 16; ++i) midimess_to_func[i] = static_cast<std::uint32_t>(c.binds[i]);
    for (int i = 0; i < kDrumKits; ++i) drum_kit_inst[i] = static_cast<std::int32_t>(c.kits[i]);
    limitd2d = static_cast<std::int32_t>(c.stream_from);
    fmodei = c.play_selected != 0;
    no_s = static_cast<std::int16_t>(std::clamp<std::int64_t>(c.selected, 0, c.sounds - 1));
    out.settings = c.settings;
    notify_instruments_changed();
    post_to_main(fourcc("RauQ"));
    out.ok = true;
    return out;
}

SessionWriter::~SessionWriter() {
    wait();
}

bool SessionWriter::start(const std::string& path, SessionCapture capture) {
    if (busy()) return false;
    wait();
    done_.store(false, std::memory_order_relaxed);
    pending_ = true;
    thread_ = std::thread([this, path, capture = std::move(capture)] {
        ok_ = write_session(path, capture, error_);
        reclaim::release_thread_slot();
        done_.store(true, std::memory_order_release);
    });
    return true;
}

bool SessionWriter::take_result(bool& ok, std::string& error) {
    if (!pending_ || !done_.load(std::memory_order_acquire)) return false;
    wait();
    pending_ = false;
    ok = ok_;
    error = error_;
    return true;
}

void SessionWriter::wait() {
    if (thread_.joinable()) thread_.join();
}
