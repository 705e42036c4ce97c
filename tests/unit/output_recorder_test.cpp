// Recording the output: the file holds what the output played, sample for
// sample, and what the writer could not keep up with is counted, not waited for.
#include "platform/output_recorder.h"

#include <sndfile.h>

#include "platform/audio_gate.h"
#include "support/testkit.h"

using namespace testkit;

namespace {

std::vector<float> read_file(const std::string& path, SF_INFO& info) {
    info = {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    if (!f) return {};
    std::vector<float> v(std::size_t(info.frames) * std::size_t(info.channels));
    EXPECT_EQ(sf_readf_float(f, v.data(), info.frames), info.frames);
    sf_close(f);
    return v;
}

std::string temp_path(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::to_string(::getpid()) + "-" + name))
        .string();
}

}  // namespace

TEST(OutputRecorder, RecordsTheMixThroughTheOutputGateSampleForSample) {
    // A tone plays while an audio thread asks the gate for buffers of uneven
    // sizes; the file must hold exactly what the gate handed the output.
    for (const char* name : {"tone.wav", "tone.flac"}) {
        SCOPED_TRACE(name);
        fresh_tables();
        looped_sound(sine16(441.0, 22050, 22050), 22050, 69);
        addnote(0, 60, 0, 127, false, 0, 0);
        const std::string path = temp_path(name);
        OutputRecorder rec;
        std::string error;
        // The output turned out to run at another rate than expected: the
        // file follows the buffers.
        ASSERT_TRUE(rec.start(path, 44100.0f, error)) << error;
        AudioGate gate(BufferProc, nullptr);
        gate.open();
        output_tap::attach(&rec);
        std::vector<float> played;
        std::thread audio([&] {
            std::vector<float> buf(2 * 1024);
            for (unsigned k = 0; k < 120; ++k) {
                const unsigned frames = 64 + (k * 97) % 900;
                gate.render(buf.data(), frames, 48000.0f);
                played.insert(played.end(), buf.begin(), buf.begin() + 2 * frames);
            }
            reclaim::release_thread_slot();
        });
        audio.join();
        output_tap::attach(nullptr);
        gate.render(std::vector<float>(64).data(), 32, 48000.0f);  // not recorded any more
        const OutputRecorder::Summary s = rec.stop();
        EXPECT_EQ(s.written * 2, played.size());
        EXPECT_EQ(s.dropped, 0u);
        EXPECT_EQ(s.error, "");
        ASSERT_GT(peak(played), 0.1f);

        SF_INFO info;
        const std::vector<float> file = read_file(path, info);
        EXPECT_EQ(info.samplerate, 48000);
        EXPECT_EQ(info.channels, 2);
        ASSERT_EQ(file.size(), played.size());
        const bool flac = std::string(name).ends_with(".flac");
        char magic[5] = {};
        std::fread(
            magic, 1, 4,
            std::unique_ptr<FILE, int (*)(FILE*)>(std::fopen(path.c_str(), "rb"), fclose).get());
        EXPECT_STREQ(magic, flac ? "fLaC" : "RIFF");
        // The WAV file holds the floats themselves; FLAC keeps 24 bits.
        const float tolerance = flac ? 1.0f / (1 << 23) : 0.0f;
        std::size_t worst = 0;
        for (std::size_t i = 0; i < file.size(); ++i)
            if (std::fabs(file[i] - played[i]) > std::fabs(file[worst] - played[worst])) worst = i;
        EXPECT_LE(std::fabs(file[worst] - played[worst]), tolerance) << "sample " << worst;
        std::filesystem::remove(path);
    }
    fresh_tables();
}

TEST(OutputRecorder, AStalledWriterCostsCountedFramesNeverAWait) {
    const std::string path = temp_path("stall.wav");
    OutputRecorder rec(1000);  // rounded up to 1024 frames
    std::string error;
    ASSERT_TRUE(rec.start(path, 44100.0f, error)) << error;
    rec.hold_writer(true);
    // Frame n carries n on the left and -n on the right.
    std::vector<float> buf(2 * 256);
    std::uint64_t n = 0;
    for (int k = 0; k < 12; ++k) {
        for (unsigned i = 0; i < 256; ++i, ++n) buf[2 * i] = float(n), buf[2 * i + 1] = -float(n);
        rec.capture(buf.data(), 256, 44100.0f);
    }
    EXPECT_EQ(rec.captured(), 3072u);
    EXPECT_EQ(rec.dropped(), 3072u - 1024u);
    rec.capture(buf.data(), 100, 22050.0f);  // another rate: not mixed into this file
    EXPECT_EQ(rec.dropped(), 3072u - 1024u + 100u);
    rec.hold_writer(false);
    const OutputRecorder::Summary s = rec.stop();
    EXPECT_EQ(s.written, 1024u);
    EXPECT_EQ(s.dropped, 3172u - 1024u);
    EXPECT_FALSE(rec.recording());
    EXPECT_EQ(rec.stop().written, 0u) << "a second stop does nothing";

    SF_INFO info;
    const std::vector<float> file = read_file(path, info);
    ASSERT_EQ(file.size(), 2048u);
    for (std::size_t i = 0; i < 1024; ++i) {  // the first frames, whole and in order
        ASSERT_EQ(file[2 * i], float(i));
        ASSERT_EQ(file[2 * i + 1], -float(i));
    }
    std::filesystem::remove(path);

    EXPECT_FALSE(rec.start("/nonexistent-dir/x.wav", 44100.0f, error));
    EXPECT_NE(error, "");
    EXPECT_FALSE(rec.recording());
}
