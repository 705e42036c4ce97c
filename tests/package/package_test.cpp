// The Debian package as a user gets it: built by cpack, unpacked into a
// scratch root, and both programs run from there.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <filesystem>

#include "support/file_builders.h"

namespace {

// Runs `command` through the shell; its exit status, and its output in `out`.
int run(const std::string& command, std::string* out = nullptr) {
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    const int status = ::pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Package, HoldsEverythingAndRunsFromAScratchRoot) {
    files::TempDir dir;
    std::string out;
    ASSERT_EQ(run("cpack -G DEB --config '" PLEXORA_BUILD_DIR "/CPackConfig.cmake' -B '" +
                      dir.file("deb") + "'",
                  &out),
              0)
        << out;
    std::string deb;
    for (const auto& e : std::filesystem::directory_iterator(dir.file("deb")))
        if (e.path().extension() == ".deb") deb = e.path();
    ASSERT_FALSE(deb.empty()) << out;

    ASSERT_EQ(run("dpkg-deb -f '" + deb + "' Depends", &out), 0) << out;
    for (const char* dep :
         {"libqt6widgets6", "libsndfile1", "libjack", "librtmidi", "qt6-qpa-plugins"})
        EXPECT_NE(out.find(dep), std::string::npos) << dep << " not in: " << out;
    const std::string root = dir.file("root");
    ASSERT_EQ(run("dpkg -x '" + deb + "' '" + root + "'", &out), 0) << out;
    for (const char* f :
         {"bin/plexora", "bin/plexora-render", "share/plexora/graf.bin",
          "share/plexora/doc/index.htm", "share/man/man1/plexora.1",
          "share/man/man1/plexora-render.1", "share/applications/plexora.desktop",
          "share/icons/hicolor/scalable/apps/plexora.svg", "share/mime/packages/plexora.xml",
          "share/metainfo/com.kelvory.Plexora.metainfo.xml"})
        EXPECT_TRUE(std::filesystem::exists(root + "/usr/" + f)) << f;

    // The renderer plays a generated song on a generated sample.
    std::vector<int> tone;
    for (int i = 0; i < 22050; ++i) tone.push_back(((i / 50) % 2 ? 1 : -1) << 28);
    ASSERT_TRUE(
        files::write_sound(dir.file("tone.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, tone));
    files::SmfTrack t;
    t.event(0, {0x90, 60, 100}).event(480, {0x80, 60, 0}).end();
    ASSERT_TRUE(files::write_bytes(dir.file("song.mid"), files::smf_file(false, 480, {t})));
    ASSERT_EQ(run("'" + root + "/usr/bin/plexora-render' --sample '" + dir.file("tone.wav") +
                      "' '" + dir.file("song.mid") + "' '" + dir.file("out.wav") + "'",
                  &out),
              0)
        << out;
    SF_INFO info{};
    SNDFILE* f = sf_open(dir.file("out.wav").c_str(), SFM_READ, &info);
    ASSERT_TRUE(f);
    std::vector<float> frames(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(f, frames.data(), info.frames);
    sf_close(f);
    float peak = 0;
    for (float v : frames) peak = std::max(peak, std::abs(v));
    EXPECT_GE(info.frames, 44100 / 2);  // the half note and its release
    EXPECT_GT(peak, 0.01f);

    // The program starts from there and finds its pictures and its manual there.
    ASSERT_EQ(run("QT_QPA_PLATFORM=offscreen '" + root + "/usr/bin/plexora' --check-install", &out),
              0)
        << out;
    EXPECT_NE(out.find(root + "/usr/bin/../share/plexora/graf.bin ok"), std::string::npos) << out;
    EXPECT_NE(out.find(root + "/usr/bin/../share/plexora/doc/index.htm ok"), std::string::npos)
        << out;
}

}  // namespace
