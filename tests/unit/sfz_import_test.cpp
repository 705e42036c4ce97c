// SFZ instruments: reading the text, turning regions into sounds as written,
// telling what was left out, and playing them.
#include "io/sfz_import.h"

#include "core/articulation.h"
#include "io/load_job.h"
#include "io/loadi.h"
#include "io/mediafile.h"
#include "io/sfz_parse.h"
#include "support/testkit.h"

namespace {

// Texts in memory by path.
SfzTextReader texts(std::map<std::string, std::string> files) {
    return [files](const std::string& path, std::string& text) {
        const auto it = files.find(path);
        if (it == files.end()) return false;
        text = it->second;
        return true;
    };
}

// The opcodes of every region, as "name=value name=value" lines.
std::vector<std::string> regions_of(const SfzText& t) {
    std::vector<std::string> out;
    for (const SfzRegion& r : t.regions) {
        std::string line;
        for (const auto& [k, v] : r.opcodes) line += (line.empty() ? "" : " ") + k + "=" + v;
        out.push_back(line);
    }
    return out;
}

// What a sound plays, in one line.
std::string played(const p_s* s) {
    const Articulation& a = s->art;
    char text[320];
    std::snprintf(text, sizeof text,
                  "%s keys %d-%d vel %d-%d base %d size %u loop %d %u-%u mode %d tune %d att %d "
                  "pan %d env %d/%d/%d/%d/%d/%d class %d cuts %d",
                  s->name, int(s->key_lo), int(s->key_hi), int(s->vel_lo), int(s->vel_hi),
                  int(s->base), unsigned(s->size), int(s->loop), unsigned(s->loop_start),
                  unsigned(s->loop_end), int(a.sample_mode), a.tune, a.attenuation, a.pan, a.delay,
                  a.attack, a.hold, a.decay, a.sustain, a.release, int(a.exclusive_class),
                  int(a.cuts));
    return text;
}

class Sfz : public testkit::AsSetTest {
  protected:
    static const p_s* snd(int i) { return t_sound[i].load(); }
    files::TempDir dir;
    MyBMidiPort port;
};

}  // namespace

TEST(SfzText, HeadersInheritValuesRunToTheNextOpcodeAndDefinesAndIncludesApply) {
    const SfzText t = parse_sfz(
        "/k/main.sfz",
        texts({{"/k/main.sfz",
                "#define $N 60\n#define $NAME other\n<global> pan=1 volume=-3 // comment\n"
                "<master> pan=2\n<group> pan=3 /* a comment\nover lines */ tune=5\n"
                "<region> pan=4 sample=my file.wav key=$N\n<region>sample=$NAME.wav<region> "
                "sample=b.wav\n#include \"sub/more.sfzh\"\n<curve> v000=0\n"
                "<region> sample=a.wav lokey=x=1 what\n+junk\n#include \"gone.sfzh\"\n"},
               {"/k/sub/more.sfzh",
                "<group> lovel=9\n<region> sample=..\\c.wav\n"
                "#include \"sub/more.sfzh\"\n"}}));
    EXPECT_EQ(regions_of(t),
              (std::vector<std::string>{"key=60 pan=4 sample=my file.wav tune=5 volume=-3",
                                        "pan=3 sample=other.wav tune=5 volume=-3",
                                        "pan=3 sample=b.wav tune=5 volume=-3",
                                        "lovel=9 pan=2 sample=..\\c.wav volume=-3",
                                        "lokey=x=1 what lovel=9 pan=2 sample=a.wav volume=-3"}));
    EXPECT_EQ(t.regions[2].where, "main.sfz line 8");
    EXPECT_EQ(t.ignored.at("<curve>"), 1);
    ASSERT_EQ(t.problems.size(), 3u);
    EXPECT_EQ(t.problems[0],
              "more.sfzh line 3: sub/more.sfzh includes itself; the loop was left out");
    EXPECT_EQ(t.problems[1], "main.sfz line 12: could not read \"+junk\"");
    EXPECT_EQ(t.problems[2], "could not read /k/gone.sfzh");

    // Note names, and what is no key.
    for (const auto& [name, key] : std::vector<std::pair<const char*, int>>{{"c4", 60},
                                                                            {"C#4", 61},
                                                                            {"db4", 61},
                                                                            {"c-1", 0},
                                                                            {"g9", 127},
                                                                            {"bb3", 58},
                                                                            {"0", 0},
                                                                            {"127", 127},
                                                                            {"a9", -1},
                                                                            {"h3", -1},
                                                                            {"128", -1},
                                                                            {"-1", -1},
                                                                            {"c", -1},
                                                                            {"", -1}})
        EXPECT_EQ(sfz_key(name), key) << name;
}

TEST_F(Sfz, EveryOpcodeLandsInItsSoundAndTheSummaryTellsWhatWasLeftOut) {
    const std::string kit = files::write_sfz_kit(dir.path());
    ASSERT_FALSE(kit.empty());
    for (const bool switch_on : {true, false}) {  // the switch changes nothing at import
        play_as_set = switch_on;
        alerts().clear();
        ASSERT_EQ(import_sfz(kit.c_str()), 5);
        ASSERT_EQ(nb_inst, 1);
        EXPECT_STREQ(inst_name(0), "kit");
        const std::vector<std::string> want{
            "tone a keys 48-59 vel 0-63 base 57 size 3800 loop 1 200-2200 mode 3 tune 110 att 150 "
            "pan -250 env -12000/-12000/-12000/-12000/0/-1200 class 0 cuts 0",
            "tone a keys 60-60 vel 0-63 base 60 size 44100 loop 0 0-44100 mode 0 tune 10 att 151 "
            "pan 0 env -9173/-7973/-6773/0/60/8000 class 0 cuts 0",
            "looped keys 42-42 vel 64-127 base 42 size 6000 loop 1 200-4000 mode 1 tune 0 att 0 "
            "pan 0 env -12000/-12000/-12000/-12000/0/-1200 class 1 cuts 255",
            "looped keys 46-46 vel 64-127 base 46 size 6000 loop 0 200-5800 mode 0 tune 0 att 0 "
            "pan 0 env -12000/-12000/-12000/-12000/0/-1200 class 1 cuts 255",
            "looped keys 44-44 vel 0-127 base 44 size 6000 loop 1 20-42 mode 1 tune 0 att 0 pan 0 "
            "env -12000/-12000/-12000/-12000/0/-1200 class 0 cuts 1"};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(played(snd(i)), want[i]) << i;
        // Regions that name one file share its data.
        EXPECT_EQ(snd(0)->block.get(), snd(1)->block.get());
        EXPECT_EQ(snd(2)->block.get(), snd(4)->block.get());
        EXPECT_EQ(snd(0)->data, snd(1)->data + 200);  // the offset
        EXPECT_EQ(std::string(snd(2)->path), dir.path() + "/samples/looped.wav");

        ASSERT_EQ(alerts().size(), 1u);
        EXPECT_EQ(alerts()[0].button, "(notice)");
        EXPECT_EQ(alerts()[0].text, "kit.sfz: 5 of 11 regions loaded, 6 refused.");
        const std::string samples = dir.path() + "/samples/";
        EXPECT_EQ(
            alerts()[0].details,
            "Regions refused:\n"
            "  kit.sfz line 16: the sample file is missing: " +
                samples +
                "missing.wav\n"
                "  kit.sfz line 17: the sample file cannot be read (Format not recognised.): " +
                samples +
                "damaged.wav\n"
                "  kit.sfz line 18: trigger=release is not played (only trigger=attack)\n"
                "  kit.sfz line 19: is round robin position 2; round robins are not played\n"
                "  kit.sfz line 20: plays the generated sound *sine, which is not played\n"
                "  kit.sfz line 21: names no sample\n"
                "Opcodes ignored (regions or headers they came with):\n"
                "  <effect>: 1\n  cutoff: 5\n  fil_type: 2\n  set_cc7: 1\n"
                "Not read:\n"
                "  common.sfzh line 2: kit.sfz includes itself; the loop was left out\n");
    }
}

TEST_F(Sfz, NotesPlayAsWrittenAndAGroupCutsOnlyTheRegionsWhoseOffByNamesIt) {
    ASSERT_EQ(import_sfz(files::write_sfz_kit(dir.path()).c_str()), 5);
    // Key 57 at its root, a semitone and 10 cents up, panned left of centre.
    port.NoteOn(0, 57, 40);
    auto out = testkit::render(1600);
    const auto left = testkit::channel(out, 0), right = testkit::channel(out, 1);
    EXPECT_NEAR(testkit::zero_crossing_hz({left.begin() + 50, left.end()}, 44100.0),
                441.0 * std::exp2(110 / 1200.0), 1.0);
    EXPECT_NEAR(testkit::rms(right, 50) / testkit::rms(left, 50), std::tan(M_PI / 8), 0.01);

    // A one-shot region plays on after its key is up.
    reset_voice_table();
    port.NoteOn(0, 60, 40);
    out = testkit::render(8820);
    port.NoteOff(0, 60, 0);
    const double before = testkit::rms(testkit::channel(out, 0), 4410);
    out = testkit::render(22050);
    EXPECT_NEAR(testkit::rms(testkit::channel(out, 0), 17640) / before, 1.0, 0.05);

    // Key 44 (group 2) cuts key 42 (off_by=2); 42 cuts nothing, and 44 not itself.
    reset_voice_table();
    port.NoteOn(0, 44, 100);
    port.NoteOn(0, 42, 100);
    testkit::render(4410);
    EXPECT_EQ(active_voices(), 2);
    port.NoteOn(0, 44, 100);
    testkit::render(44100);
    EXPECT_EQ(active_voices(), 2);  // the two looping 44s
    for (int v = 0; v < kVoices; ++v)
        if (nlist[v].playing()) {
            EXPECT_EQ(std::uint32_t(nlist[v].key), 44u);
        }

    // Banks switched to the plain way: the first sound that holds the key plays.
    play_as_set = false;
    reset_voice_table();
    port.NoteOn(0, 60, 100);
    EXPECT_EQ(active_voices(), 1);
    EXPECT_GT(testkit::peak(testkit::render(2000)), 0.01f);
}

TEST_F(Sfz, FiveHundredSamplesReportProgressAndCancellingChangesNothing) {
    std::string text = "<control> default_path=s/\n";
    std::uint64_t bytes = 0;
    std::filesystem::create_directories(dir.file("s"));
    for (int i = 0; i < 500; ++i) {
        const std::string leaf = "n" + std::to_string(i) + ".wav";
        ASSERT_TRUE(files::write_tone(dir.file("s/" + leaf), 64 + i));
        bytes += std::filesystem::file_size(dir.file("s/" + leaf));
        text += "<region> sample=" + leaf + " key=" + std::to_string(i % 128) + "\n";
    }
    const std::string path = dir.file("big.sfz");
    ASSERT_TRUE(files::write_bytes(path, files::Bytes(text.begin(), text.end())));

    const testkit::TableSnapshot before = testkit::TableSnapshot::take();
    std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;
    PreparedSfz stopped;
    stopped.progress = [&](std::uint64_t done, std::uint64_t total) {
        seen.emplace_back(done, total);
        return seen.size() < 100;
    };
    EXPECT_FALSE(stopped.prepare(path));
    EXPECT_EQ(stopped.publish(), 0);
    testkit::expect_unchanged(before);
    EXPECT_TRUE(alerts().empty());
    ASSERT_EQ(seen.size(), 100u);

    // Through the loader thread, as the window runs it: every step counted.
    LoadJob job(path, "big.sfz", true);
    job.start();
    ASSERT_TRUE(job.wait_finished(std::chrono::minutes(5)));
    EXPECT_EQ(job.total_bytes(), bytes);
    EXPECT_EQ(job.done_bytes(), bytes);
    EXPECT_TRUE(job.publish(0));
    EXPECT_EQ(nb_sound, 500);
    EXPECT_EQ(int(snd(499)->size), 2 * (64 + 499));
    for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i].first, seen[i - 1].first);
    EXPECT_EQ(seen.back().second, bytes);
}

TEST_F(Sfz, NothingPlayableIsRefusedWithTheReasonsAndAnEmptyFileNeedsNoAlert) {
    ASSERT_TRUE(files::write_bytes(dir.file("none.sfz"), {'<', 'r', 'e', 'g', 'i', 'o', 'n', '>'}));
    const testkit::TableSnapshot before = testkit::TableSnapshot::take();
    std::string why;
    loadi(0, dir.file("none.sfz").c_str(), "none.sfz", &why);
    testkit::expect_unchanged(before);
    ASSERT_EQ(alerts().size(), 1u);
    EXPECT_EQ(
        alerts()[0].text,
        "none.sfz: 0 of 1 regions loaded, 1 refused. Nothing in this instrument can be played.");
    EXPECT_EQ(alerts()[0].details, "Regions refused:\n  none.sfz line 1: names no sample\n");
    alerts().clear();
    ASSERT_TRUE(files::write_bytes(dir.file("empty.sfz"), {}));
    loadi(0, dir.file("empty.sfz").c_str(), "empty.sfz", &why);
    EXPECT_EQ(why, "is empty");
    EXPECT_TRUE(alerts().empty());
}
