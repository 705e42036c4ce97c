#include "io/sfz_import.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <set>
#include <vector>

#include "core/articulation.h"
#include "core/hooks.h"
#include "core/instruments.h"
#include "core/notify.h"
#include "core/sound.h"
#include "io/bank_import_place.h"
#include "io/mediafile.h"

namespace {

namespace fs = std::filesystem;

// The opcodes an import plays; any other one of a region is counted as ignored.
const std::set<std::string>& read_opcodes() {
    static const std::set<std::string> names{
        "sample",        "lokey",         "hikey",           "key",
        "lovel",         "hivel",         "pitch_keycenter", "tune",
        "transpose",     "volume",        "amplitude",       "pan",
        "offset",        "end",           "loop_mode",       "loopmode",
        "loop_start",    "loop_end",      "loopstart",       "loopend",
        "ampeg_delay",   "ampeg_attack",  "ampeg_hold",      "ampeg_decay",
        "ampeg_sustain", "ampeg_release", "group",           "off_by",
        "trigger",       "seq_position",  "lorand"};
    return names;
}

// The value of the first of `names` a region sets, as a number; `absent`
// when none is set or its value is not a number.
double number(const SfzRegion& r, std::initializer_list<const char*> names, double absent,
              bool* unreadable = nullptr) {
    for (const char* name : names) {
        const std::string* v = r.find(name);
        if (!v) continue;
        char* end = nullptr;
        const double d = std::strtod(v->c_str(), &end);
        if (end != v->c_str() && std::isfinite(d)) return d;
        if (unreadable) *unreadable = true;
        return absent;
    }
    return absent;
}

std::int16_t timecents(double seconds) {
    if (!(seconds > 0.0)) return -12000;
    return static_cast<std::int16_t>(
        std::clamp(std::lround(1200.0 * std::log2(seconds)), -12000L, 8000L));
}

// A one-shot region plays to its end whatever the key does: its release is
// the longest there is.
constexpr std::int16_t kOneShotRelease = 8000;

// The path a region's sample is looked for at.
std::string sample_path(const std::string& sfz, const SfzRegion& r, const std::string& sample) {
    std::string name = r.default_path + sample;
    std::replace(name.begin(), name.end(), '\\', '/');
    fs::path p(name);
    if (p.is_relative()) p = fs::path(sfz).parent_path() / p;
    return p.lexically_normal().string();
}

// A sample file as the import holds it: decoded once, or why it could not be.
struct SampleEntry {
    DecodedSample decoded;
    std::string why;  // empty when decoded
    std::uint64_t file_bytes = 0;
};

// Why a region cannot be played before its sample is looked at; "" when it can.
std::string refused_early(const SfzRegion& r) {
    const std::string* sample = r.find("sample");
    if (!sample || sample->empty()) return "names no sample";
    if ((*sample)[0] == '*')
        return "plays the generated sound " + *sample + ", which is not played";
    if (const std::string* t = r.find("trigger"); t && *t != "attack")
        return "trigger=" + *t + " is not played (only trigger=attack)";
    if (number(r, {"seq_position"}, 1) > 1)
        return "is round robin position " + *r.find("seq_position") +
               "; round robins are not played";
    if (number(r, {"lorand"}, 0) > 0)
        return "is a random layer (lorand=" + *r.find("lorand") + "), which is not played";
    for (const char* k : {"lokey", "hikey", "key", "pitch_keycenter"}) {
        const std::string* v = r.find(k);
        if (v && sfz_key(*v) < 0 && !(std::strcmp(k, "pitch_keycenter") == 0 && *v == "sample"))
            return std::string(k) + "=" + *v + " is not a key from 0 to 127";
    }
    return "";
}

}  // namespace

bool is_sfz_path(const char* path) {
    if (!path) return false;
    const char* dot = std::strrchr(path, '.');
    return dot && ::strcasecmp(dot, ".sfz") == 0;
}

SfzFiles disk_files() {
    SfzFiles f;
    f.read_text = [](const std::string& path, std::string& text) {
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) return false;
        std::ifstream in(path, std::ios::binary);
        if (!in) return false;
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return !in.bad();
    };
    f.size_of = [](const std::string& path) -> std::uint64_t {
        std::error_code ec;
        const auto n = fs::file_size(path, ec);
        return ec ? 0 : n;
    };
    f.decode = [](const std::string& path, DecodedSample& out, std::string& why) {
        std::error_code ec;
        if (!fs::exists(path, ec)) {
            why = "the sample file is missing: " + path;
            return false;
        }
        if (!decode_sample(path.c_str(), out, why)) {
            why = "the sample file cannot be read (" + why + "): " + path;
            return false;
        }
        return true;
    };
    return f;
}

struct PreparedSfz::Built {
    std::string name;
    std::vector<BuiltInstrument> insts;  // one
};

PreparedSfz::PreparedSfz() = default;
PreparedSfz::~PreparedSfz() = default;

namespace {

// What an import found, to be told to the user.
struct Report {
    std::vector<std::string> refused;
    std::map<std::string, int> ignored;
    std::vector<std::string> problems;
};

// The record for region `r` over sample `s`, with the exclusive classes
// `classes` gives its groups; null, with the reason in `why`, when it plays
// no frame.
std::unique_ptr<p_s> region_sound(const SfzRegion& r, const std::string& path,
                                  const DecodedSample& s, const std::map<long, int>& classes,
                                  std::string& why, Report& report) {
    const std::uint32_t bpf = (s.bits / 8u) * (s.stereo ? 2u : 1u);
    const auto count_unreadable = [&](std::initializer_list<const char*> names, double absent) {
        bool bad = false;
        const double v = number(r, names, absent, &bad);
        if (bad) ++report.ignored[std::string(*names.begin()) + " (not a number)"];
        return v;
    };
    const double last = static_cast<double>(s.frames - 1);
    const double offset_f = std::clamp(count_unreadable({"offset"}, 0), 0.0, last);
    const double end_f = std::min(count_unreadable({"end"}, last), last);
    if (end_f < offset_f) {
        why = "plays no frame of its sample (end before offset)";
        return nullptr;
    }
    const auto offset = static_cast<std::uint64_t>(offset_f);
    const auto frames = static_cast<std::uint64_t>(end_f) + 1 - offset;

    std::unique_ptr<p_s> rec(new_sound());
    rec->block = s.block;
    rec->data = s.block.get() + offset * bpf;
    rec->capacity = static_cast<std::uint32_t>(s.bytes + kSpareBytes - offset * bpf);
    rec->size = static_cast<std::uint32_t>(frames * bpf);
    rec->bits = s.bits;
    rec->stereo = s.stereo ? 1 : 0;
    rec->rate = s.rate;
    rec->nb_next = 0;
    const fs::path p(path);
    std::snprintf(rec->name, sizeof rec->name, "%s", p.stem().string().c_str());
    std::snprintf(rec->path, sizeof rec->path, "%s", path.c_str());

    // Keys and velocities.
    const std::string* key = r.find("key");
    const int key_n = key ? sfz_key(*key) : -1;
    const auto key_of = [&](const char* name, int absent) {
        const std::string* v = r.find(name);
        return v ? sfz_key(*v) : absent;
    };
    rec->key_lo = static_cast<std::int16_t>(key_of("lokey", key_n >= 0 ? key_n : 0));
    rec->key_hi = static_cast<std::int16_t>(key_of("hikey", key_n >= 0 ? key_n : 127));
    rec->vel_lo = static_cast<std::int16_t>(std::clamp(count_unreadable({"lovel"}, 0), 0.0, 127.0));
    rec->vel_hi =
        static_cast<std::int16_t>(std::clamp(count_unreadable({"hivel"}, 127), 0.0, 127.0));
    if (rec->key_lo > rec->key_hi || rec->vel_lo > rec->vel_hi) {
        why = "answers no key or no velocity (a low end above its high end)";
        return nullptr;
    }
    int root = key_n >= 0 ? key_n : 60;
    if (const std::string* c = r.find("pitch_keycenter"))
        root = *c == "sample" ? (s.base_note >= 0 ? s.base_note : 60) : sfz_key(*c);
    rec->base = static_cast<std::int16_t>(root);

    Articulation& a = rec->art;
    a.on = true;
    a.tune = static_cast<std::int16_t>(std::clamp(
        std::lround(count_unreadable({"transpose"}, 0) * 100 + count_unreadable({"tune"}, 0)),
        -12000L, 12000L));
    double gain_db = count_unreadable({"volume"}, 0);
    if (r.find("amplitude")) {
        const double amp = count_unreadable({"amplitude"}, 100);
        gain_db += amp > 0 ? 20.0 * std::log10(amp / 100.0) : -144.0;
    }
    if (gain_db > 0) ++report.ignored["volume above 0 dB (played at 0 dB)"];
    // The engine hears a stated attenuation at kAttenuationScale of itself.
    a.attenuation = static_cast<std::int16_t>(
        std::clamp(std::lround(-gain_db * 10.0 / kAttenuationScale), 0L, 1440L));
    a.pan = static_cast<std::int16_t>(
        std::clamp(std::lround(count_unreadable({"pan"}, 0) * 5.0), -500L, 500L));
    a.delay = timecents(count_unreadable({"ampeg_delay"}, 0));
    a.attack = timecents(count_unreadable({"ampeg_attack"}, 0));
    a.hold = timecents(count_unreadable({"ampeg_hold"}, 0));
    a.decay = timecents(count_unreadable({"ampeg_decay"}, 0));
    a.release = timecents(count_unreadable({"ampeg_release"}, 0));
    const double sustain = std::clamp(count_unreadable({"ampeg_sustain"}, 100), 0.0, 100.0);
    a.sustain = static_cast<std::int16_t>(
        sustain <= 0 ? 1440
                     : std::clamp(std::lround(-200.0 * std::log10(sustain / 100.0)), 0L, 1440L));
    // The velocity's fall is the bank format's default, 40 log10(v / 127) dB,
    // which is SFZ's default curve too. The bank format's default velocity
    // filter is held at zero, so that the sound's bank form plays the same.
    a.modulators[0] = {0x0102, 0x0C02, kModFilterCutoff, 0};
    a.modulator_count = 1;

    // Groups: a region's voices are cut by notes of the group its off_by
    // names; its notes cut the regions whose off_by names its group.
    const long off_by = std::lround(count_unreadable({"off_by"}, 0));
    const long group = std::lround(count_unreadable({"group"}, 0));
    const auto cls = [&](long g) {
        const auto it = classes.find(g);
        return it == classes.end() ? 0 : it->second;
    };
    a.exclusive_class = static_cast<std::uint8_t>(off_by ? cls(off_by) : 0);
    const int cuts = group ? cls(group) : 0;
    a.cuts = static_cast<std::uint8_t>(cuts == a.exclusive_class ? 0 : cuts ? cuts : kCutsNone);
    if (off_by && !a.exclusive_class) ++report.ignored["off_by (more than 127 groups)"];

    // Loops: the file's own unless the region sets them; loop_end is the
    // last frame of the loop.
    const bool file_loop = s.loop_start >= 0;
    const double ls = count_unreadable({"loop_start", "loopstart"},
                                       file_loop ? static_cast<double>(s.loop_start) : 0);
    const double le = count_unreadable({"loop_end", "loopend"},
                                       file_loop ? static_cast<double>(s.loop_end - 1) : end_f);
    const std::string* mode = r.find("loop_mode");
    if (!mode) mode = r.find("loopmode");
    const std::string m = mode ? *mode : file_loop ? "loop_continuous" : "no_loop";
    a.sample_mode = m == "loop_continuous" ? kLoopAlways
                    : m == "loop_sustain"  ? kLoopUntilRelease
                                           : kNoLoop;
    if (m == "one_shot") a.release = kOneShotRelease;
    if (m != "one_shot" && m != "no_loop" && a.sample_mode == kNoLoop)
        ++report.ignored["loop_mode=" + m];
    const double n = static_cast<double>(frames);
    const double ls_f = std::clamp(ls - offset_f, 0.0, n);
    const auto loop_start = static_cast<std::uint32_t>(ls_f) * bpf;
    const auto loop_end = static_cast<std::uint32_t>(std::clamp(le + 1 - offset_f, ls_f, n)) * bpf;
    rec->loop_start = loop_start;
    rec->loop_end = loop_end;
    const bool loops = a.sample_mode != kNoLoop && loop_end > loop_start + 2;
    if (!loops) {
        a.sample_mode = kNoLoop;
        rec->loop_end = rec->size - loop_start;
    }
    rec->loop = loops ? 1 : 0;
    finish_loaded_sound(rec.get());
    return rec;
}

}  // namespace

bool PreparedSfz::prepare(const std::string& path, const SfzFiles& files) {
    built_.reset();
    const std::string leaf = fs::path(path).filename().string();
    headline_ = summary_ = "";
    Report report;
    try {
        SfzText text = parse_sfz(path, files.read_text);
        report.ignored = text.ignored;
        report.problems = text.problems;

        // The regions that can be tried, and the sample files they need.
        std::vector<std::string> paths(text.regions.size());
        std::vector<std::string> early(text.regions.size());
        std::map<std::string, SampleEntry> samples;
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < text.regions.size(); ++i) {
            const SfzRegion& r = text.regions[i];
            early[i] = refused_early(r);
            if (!early[i].empty()) continue;
            paths[i] = sample_path(path, r, *r.find("sample"));
            auto [it, added] = samples.try_emplace(paths[i]);
            if (added && files.size_of) total += it->second.file_bytes = files.size_of(paths[i]);
        }
        // Decoded in the order the regions name them.
        std::uint64_t done = 0;
        for (std::size_t i = 0; i < text.regions.size(); ++i) {
            if (paths[i].empty()) continue;
            SampleEntry& e = samples[paths[i]];
            if (e.decoded.block || !e.why.empty()) continue;
            if (progress && !progress(done, total)) return false;
            if (!files.decode(paths[i], e.decoded, e.why) || !e.decoded.block ||
                e.decoded.frames <= 0) {
                e.decoded = DecodedSample{};
                if (e.why.empty()) e.why = "the sample file holds no sound: " + paths[i];
            }
            done += e.file_bytes;
        }
        if (progress && !progress(done, total)) return false;

        // Groups that some region's off_by names become exclusive classes.
        std::map<long, int> classes;
        for (const SfzRegion& r : text.regions) {
            const long g = std::lround(number(r, {"off_by"}, 0));
            if (g != 0 && !classes.count(g) && classes.size() < 127)
                classes.emplace(g, static_cast<int>(classes.size()) + 1);
        }

        auto built = std::make_unique<Built>();
        built->name = fs::path(path).stem().string();
        built->insts.resize(1);
        BuiltInstrument& inst = built->insts[0];
        for (std::size_t i = 0; i < text.regions.size(); ++i) {
            const SfzRegion& r = text.regions[i];
            std::string why = early[i];
            std::unique_ptr<p_s> rec;
            if (why.empty()) {
                const SampleEntry& e = samples[paths[i]];
                why = e.why;
                if (why.empty()) rec = region_sound(r, paths[i], e.decoded, classes, why, report);
            }
            if (!rec) {
                report.refused.push_back(r.where + ": " + why);
                continue;
            }
            for (const auto& [name, value] : r.opcodes)
                if (!read_opcodes().count(name)) ++report.ignored[name];
            inst.sounds.push_back(std::move(rec));
        }

        const std::size_t loaded = inst.sounds.size();
        headline_ = leaf + ": " + std::to_string(loaded) + " of " +
                    std::to_string(text.regions.size()) + " regions loaded";
        if (!report.refused.empty())
            headline_ += ", " + std::to_string(report.refused.size()) + " refused";
        headline_ += ".";
        if (!report.refused.empty()) {
            summary_ += "Regions refused:\n";
            for (const std::string& s : report.refused) summary_ += "  " + s + "\n";
        }
        if (!report.ignored.empty()) {
            summary_ += "Opcodes ignored (regions or headers they came with):\n";
            for (const auto& [name, count] : report.ignored)
                summary_ += "  " + name + ": " + std::to_string(count) + "\n";
        }
        if (!report.problems.empty()) {
            summary_ += "Not read:\n";
            for (const std::string& s : report.problems) summary_ += "  " + s + "\n";
        }
        if (loaded == 0) return false;
        if (loaded > static_cast<std::size_t>(kMaxSounds)) {
            headline_ = leaf + " has more regions than the program can hold.";
            return false;
        }
        built->insts[0].name = built->name.c_str();
        built_ = std::move(built);
        return true;
    } catch (const std::bad_alloc&) {
        headline_ = "not enough memory to load " + leaf;
        summary_.clear();
        return false;
    }
}

int PreparedSfz::publish() {
    if (!built_) {
        if (!headline_.empty()) {
            const std::string text = headline_.find("regions loaded") != std::string::npos
                                         ? headline_ + " Nothing in this instrument can be played."
                                         : headline_;
            alert_with_details(text.c_str(), "...", summary_.c_str());
        }
        return 0;
    }
    const std::unique_ptr<Built> built = std::move(built_);
    const int k0 = std::max<int>(0, quel_baseson(no_s));
    const std::size_t count = built->insts[0].sounds.size();
    if (sounds_after_placement(k0, 1, count) > static_cast<std::size_t>(kMaxSounds)) {
        alert("This instrument has more sounds than the program can hold.", "...");
        return 0;
    }
    try {
        BankPlacement placement(k0, 1);
        loadin = true;
        placement.publish(built->insts);
    } catch (const std::bad_alloc&) {
        alert(("not enough memory to load " + built->name).c_str(), "...");
        return 0;
    }
    no_s = static_cast<std::int16_t>(inst_first(k0));
    loadin = false;
    notify_instruments_changed();
    post_to_main(fourcc("RauQ"));
    if (!summary_.empty()) notice(headline_.c_str(), summary_.c_str());
    return static_cast<int>(count);
}

int import_sfz(const char* path) {
    PreparedSfz sfz;
    sfz.prepare(path);
    return sfz.publish();
}
