// The program against real services: a private JACK server (dummy driver)
// and, for the program itself, a private X server.
#include <filesystem>

#include "engine/voices.h"
#include "io/loadi.h"
#include "platform/engine_services.h"
#include "platform/midi_endpoint.h"
#include "platform/session_file.h"
#include "platform/sound_player.h"
#include "platform/timed_midi.h"
#include "support/jack_server.h"
#include "support/testkit.h"

namespace {

using jackkit::Child;
using jackkit::Kit;
using jackkit::sleep_s;
using jackkit::wait_for;

constexpr unsigned kRate = 48000, kPeriod = 256;

// Links from the program's two outputs to the server's two playback ports.
int playback_links(jack_client_t* c) {
    int links = 0;
    for (const char* out : {"Plexora:out_1", "Plexora:out_2"})
        if (jack_port_t* p = jack_port_by_name(c, out))
            for (const char* in : {"system:playback_1", "system:playback_2"})
                links += jack_port_connected_to(p, in);
    return links;
}

// A private server for each test, on fresh tables.
class JackPlay : public testkit::EngineTest {
  protected:
    jackkit::JackServer server{"plexora-e2e"};  // every client of this process talks to it only
};

// A looping 440 Hz sine on base key 69 (exactly 100 frames at 44000 Hz) as
// the only sound of instrument 0, the program's MIDI endpoint on the kit's
// keys and its player's outputs linked to the kit's inputs. How a release
// fades is the render tests' concern; here the note-off has to arrive.
TEST_F(JackPlay, MidiNoteThroughJackIsHeardOnBothOutputsAndEndsAfterTheNoteOff) {
    ASSERT_TRUE(fmodei);  // notes play instrument 0 while "Play inst selected" is on
    ASSERT_TRUE(server.running) << "jackd did not start; see " << server.log;
    testkit::looped_sound(testkit::sine16(440.0, 44000, 44000), 44000, 69);
    Kit kit(kRate * 5);
    ASSERT_NE(kit.client, nullptr);
    // Made only now: the engine's tables were reset after the fixture was built.
    MyBMidiPort port;
    MidiEndpoint midi(port, {MidiBackend::kJack});
    SoundPlayerOptions jack_only;
    jack_only.order = {AudioBackend::kJack};
    SoundPlayer player("wave_player", &BufferProc, nullptr, jack_only);
    ASSERT_TRUE(midi.available()) << midi.report();
    ASSERT_EQ(midi.backend(), MidiBackend::kJack);
    const std::vector<MidiSourceInfo> sources = midi.sources();
    ASSERT_EQ(sources.size(), 1u);
    EXPECT_EQ(sources[0].name, kit.keys());
    EXPECT_EQ(sources[0].id, midi_source_id(kit.keys()));
    ASSERT_TRUE(midi.connect_first());
    EXPECT_EQ(midi.connected_id(), sources[0].id);
    ASSERT_EQ(player.Backend(), AudioBackend::kJack) << player.Report();
    EXPECT_FLOAT_EQ(player.FrameRate(), float(kRate));
    ASSERT_TRUE(player.Start());
    // The endpoint is a port of the audio client, whose outputs went to the
    // server's playback ports by themselves (the graph follows shortly).
    EXPECT_NE(jack_port_by_name(kit.client, "Plexora:Plexora node (in)"), nullptr);
    EXPECT_TRUE(wait_for(1, [&] { return playback_links(kit.client) == 2; }));
    ASSERT_TRUE(kit.listen("Plexora"));
    sleep_s(0.3);  // let the graph settle after the connections
    kit.recording = true;
    sleep_s(0.5);
    const std::uint32_t on_at = kit.send_now({0x90, 81, 127});
    sleep_s(1.0);
    const std::uint32_t off_at = kit.send_now({0x80, 81, 64});
    sleep_s(1.2);
    kit.recording = false;
    player.Stop();
    midi.disconnect();
    EXPECT_GE(midi.messages(), 2u);

    const std::size_t n = kit.frames, on = on_at - kit.first_frame, off = off_at - kit.first_frame;
    ASSERT_GT(n, std::size_t(kRate * 2.5));
    ASSERT_GT(on, std::size_t(kRate * 0.3));
    ASSERT_LT(off + kRate, n);
    for (const std::vector<float>* ch : {&kit.left, &kit.right}) {
        SCOPED_TRACE(ch == &kit.left ? "left" : "right");
        EXPECT_EQ(testkit::peak(kit.take(*ch, 0, on)), 0.0f);  // silence up to the note
        // The note starts within a few cycles.
        EXPECT_GT(testkit::peak(kit.take(*ch, on, on + 4 * kPeriod + 1)), 0.0f);
        // A steady 880 Hz tone while the key is held.
        const std::vector<float> held = kit.longest_run(*ch, on + kRate / 10, off);
        ASSERT_GT(held.size(), std::size_t(kRate / 4)) << "too many cycles lost";
        EXPECT_NEAR(testkit::zero_crossing_hz(held, kRate), 880.0, 8.8);
        EXPECT_GT(testkit::rms(held), 0.05);
        // The release (a quarter of a second here) has ended the voice half a second on.
        EXPECT_EQ(testkit::peak(kit.take(*ch, off + kRate / 2, n)), 0.0f);
    }
}

// Notes sent at known frames of a period start at those frames in the output,
// whatever the period: one client sends, the program renders each message at
// its frame of the same cycle, and another client records (so the graph has
// no loop and all three run in one cycle). A held constant makes the onset
// the first sample that is not silent.
class JackTiming : public testkit::EngineTest {};
TEST_F(JackTiming, NotesStartAtTheirOwnFrameOfThePeriod) {
    for (unsigned period : {256u, 1024u}) {
        SCOPED_TRACE("period " + std::to_string(period));
        jackkit::JackServer server("plexora-timing", period);
        ASSERT_TRUE(server.running) << "see " << server.log;
        testkit::fresh_tables();
        testkit::looped_sound(std::vector<std::int16_t>(4400, 16000), 44000, 69);
        Kit keys, ears(kRate * 8);
        ASSERT_TRUE(keys.client && ears.client);
        MyBMidiPort port;
        TimedMidiQueue queue;
        MidiEndpoint midi(port, {MidiBackend::kJack}, &queue);
        SoundPlayerOptions options;
        options.order = {AudioBackend::kJack};
        options.connect_outputs = false;
        options.midi_queue = &queue;
        options.midi_port = &port;
        SoundPlayer player("wave_player", &BufferProc, nullptr, options);
        ASSERT_EQ(player.Backend(), AudioBackend::kJack) << player.Report();
        ASSERT_TRUE(midi.connect(midi_source_id(keys.keys())));
        ASSERT_TRUE(player.Start());
        ASSERT_TRUE(ears.listen("Plexora"));
        sleep_s(0.3);
        ears.recording = true;
        sleep_s(0.2);
        const unsigned offsets[] = {0, period / 4 + 3, period / 2 + 1, period - 1};
        std::vector<long> late;
        for (unsigned offset : offsets) {
            const std::uint32_t cycle = keys.send_now({0x90, 69, 127}, offset);
            sleep_s(0.15);
            keys.send_now({0xB0, 120, 0});  // all sound off: silent again quickly
            sleep_s(0.25);
            const std::size_t due = cycle + offset - ears.first_frame;
            ASSERT_LT(due + kRate / 10, ears.frames.load());
            EXPECT_EQ(testkit::peak(ears.take(ears.left, due - period, due)), 0.0f);
            std::size_t onset = due;
            while (onset < due + kRate / 10 && ears.left[onset] == 0.0f) ++onset;
            late.push_back(long(onset) - long(due));
        }
        ears.recording = false;
        player.Stop();
        for (std::size_t i = 0; i < late.size(); ++i) {
            EXPECT_GE(late[i], 0) << "note " << i;
            EXPECT_LE(late[i], 16) << "note " << i << " sent at frame " << offsets[i];
        }
        EXPECT_EQ(queue.dropped(), 0u);
    }
}

bool has_port(const char* name) {
    jack_client_t* c = jack_client_open("plexora-e2e-ask", JackNoStartServer, nullptr);
    const bool found = c && jack_port_by_name(c, name);
    if (c) jack_client_close(c);
    return found;
}

// The server killed under a held note: the program says so at once, goes on
// on the silent output (the released note ends, its lamp goes out), and
// when a server runs again, its audio and MIDI ports come back by themselves.
TEST_F(JackTiming, LosingTheServerFallsBackToSilenceAndReconnectsWhenItReturns) {
    auto server = std::make_unique<jackkit::JackServer>("plexora-loss", 256, kRate, true);
    ASSERT_TRUE(server->running) << "see " << server->log;
    testkit::looped_sound(testkit::sine16(440.0, 44000, 44000), 44000, 69);
    EngineServices services({.audio = true, .streaming = false, .midi = true});
    services.set_audio_choice({.output = AudioBackend::kJack, .device = {}});
    services.start_audio();
    ASSERT_TRUE(wait_for(10, [&] { return services.take_player(); }));
    services.open_midi();
    ASSERT_EQ(services.player()->Backend(), AudioBackend::kJack);
    const bool jack_midi = has_port("Plexora:Plexora node (in)");
    MyBMidiPort keys;
    keys.NoteOn(0, 69, 100);
    ASSERT_EQ(services.watch_audio(), EngineServices::AudioChange::kNone);
    ASSERT_TRUE(server->stop(SIGKILL));
    EngineServices::AudioChange change{};
    const auto changed = [&] {
        change = services.watch_audio();
        return change != EngineServices::AudioChange::kNone;
    };
    ASSERT_TRUE(wait_for(5, changed));
    EXPECT_EQ(change, EngineServices::AudioChange::kLost);
    EXPECT_TRUE(services.waiting_for_jack());
    EXPECT_TRUE(services.silent());
    keys.NoteOff(0, 69, 64);
    EXPECT_TRUE(wait_for(5, [] { return active_voices() == 0; })) << "the voice froze";

    server = std::make_unique<jackkit::JackServer>("plexora-loss", 256, kRate, true);
    ASSERT_TRUE(server->running) << "see " << server->log;
    ASSERT_TRUE(wait_for(20, changed));
    EXPECT_EQ(change, EngineServices::AudioChange::kBack);
    EXPECT_FALSE(services.waiting_for_jack());
    ASSERT_EQ(services.player()->Backend(), AudioBackend::kJack);
    EXPECT_TRUE(has_port("Plexora:out_1"));
    EXPECT_TRUE(!jack_midi || has_port("Plexora:Plexora node (in)"));
    const std::uint64_t buffers = services.player()->Buffers();
    EXPECT_TRUE(wait_for(5, [&] { return services.player()->Buffers() > buffers + 10; }));
    services.stop();
}

// A period changed from the audio settings while a note is held: the server
// takes the new period for every client and the tone goes on unbroken.
TEST_F(JackTiming, ThePeriodChangesWhileANotePlays) {
    jackkit::JackServer server("plexora-period", 256, kRate);
    ASSERT_TRUE(server.running) << "see " << server.log;
    testkit::looped_sound(testkit::sine16(440.0, 44000, 44000), 44000, 69);
    EngineServices services({.audio = true, .streaming = false, .midi = false});
    services.set_audio_choice({.output = AudioBackend::kJack, .device = {}});
    services.start_audio();
    ASSERT_TRUE(wait_for(10, [&] { return services.take_player(); }));
    Kit ears(kRate * 4);
    ASSERT_TRUE(ears.client && ears.listen("Plexora"));
    MyBMidiPort keys;
    keys.NoteOn(0, 69, 100);
    sleep_s(0.3);
    ears.recording = true;
    sleep_s(0.5);
    std::string message;
    AudioChoice longer = services.audio_choice();
    longer.period = 1024;
    ASSERT_TRUE(services.apply_audio(longer, message)) << message;
    EXPECT_TRUE(wait_for(5, [&] { return services.player()->BufferFrames() == 1024u; }));
    sleep_s(1.0);
    ears.recording = false;
    keys.NoteOff(0, 69, 64);
    // The server pauses its clients while it changes the period; every
    // frame it did run, before and after, carries the tone.
    const std::size_t n = ears.frames;
    const std::vector<float> before = ears.take(ears.left, 0, kRate / 4),
                             after = ears.take(ears.left, n - kRate / 2, n),
                             all = ears.take(ears.left, 0, n);
    ASSERT_GT(before.size(), std::size_t(kRate / 8));
    ASSERT_GT(after.size(), std::size_t(kRate / 4));
    EXPECT_NEAR(testkit::zero_crossing_hz(before, kRate), 440.0, 8.8);
    EXPECT_NEAR(testkit::zero_crossing_hz(after, kRate), 440.0, 4.4);
    // A sine's neighbours never both sit at zero.
    for (std::size_t i = 1; i < all.size(); ++i)
        ASSERT_FALSE(all[i] == 0.0f && all[i - 1] == 0.0f) << "silent at " << i;
    services.stop();
}

// True while the server lists a port of the program's audio client.
bool has_plexora_ports(jack_client_t* c) {
    const char** ports = jack_get_ports(c, "^Plexora:", nullptr, 0);
    const bool found = ports && ports[0];
    jack_free(ports);
    return found;
}

// The program as a user starts it: its audio client appears in the server's
// port list, a session (holding a bank) named on its command line is opened
// (and so remembered among the recent files), and its Quit command (Ctrl+Q)
// ends it with status 0.
TEST(Program, ShowsItsAudioClientAndQuitsCleanlyOnCtrlQ) {
    const int number = 200 + getpid() % 500;
    const std::string display = ":" + std::to_string(number);
    Child x({"Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
            "/tmp/plexora-e2e-xvfb.log");
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
    ASSERT_TRUE(wait_for(10, [&] { return access(socket.c_str(), F_OK) == 0; }));
    sleep_s(0.2);
    jackkit::JackServer jack("plexora-e2e");
    ASSERT_TRUE(jack.running) << "see " << jack.log;
    // One client looks at the port list throughout: opening and closing a
    // client while the program's own clients come and go can stall libjack.
    jack_client_t* probe = jack_client_open("plexora-e2e-lsp", JackNoStartServer, nullptr);
    ASSERT_NE(probe, nullptr);
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("QT_QPA_PLATFORM");
    const std::string log = "/tmp/plexora-e2e-program.log";
    const std::string home = "/tmp/plexora-e2e-home-" + std::to_string(getpid());
    setenv("HOME", home.c_str(), 1);
    const std::string bank = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    const bool with_bank = access(bank.c_str(), R_OK) == 0;
    // The bank comes in a session (named on the command line, as a user
    // opens one): opened, it leaves nothing unsaved to ask about on quitting.
    const std::string session = home + "/evening.pxsession";
    std::vector<std::string> args{PLEXORA_EXE};
    if (with_bank) {
        std::filesystem::create_directories(home);
        testkit::fresh_tables();
        loadi(1, bank.c_str(), "TimGM6mb.sf2");
        std::string error;
        ASSERT_TRUE(save_session(session, {}, error)) << error;
        testkit::fresh_tables();
        args.push_back(session);
    }
    Child program(args, log, 60);
    ASSERT_GT(program.pid_, 0);
    EXPECT_TRUE(wait_for(20, [&] { return has_plexora_ports(probe); }))
        << "no Plexora ports; see " << log;
    if (with_bank) {
        const auto remembered = [&] {
            std::ifstream f(home + "/.config/plexora/plexora.conf");
            return std::string(std::istreambuf_iterator<char>(f), {}).find("evening.pxsession") !=
                   std::string::npos;
        };
        EXPECT_TRUE(wait_for(20, remembered)) << "the session on the command line was not opened";
    }

    // Ctrl+Q in the main window once it is shown, as a user would type it.
    sleep_s(0.3);
    const std::string quit_keys =
        "timeout 20 xdotool search --sync --name '^Plexora, the virtual Midi sampler 1.1( - |$)' "
        "windowfocus --sync key ctrl+q";
    // xdotool reports an error when the key releases reach a window that the
    // key press has already closed, so its status says nothing; the exit does.
    (void)std::system(quit_keys.c_str());
    ASSERT_TRUE(program.exited(15)) << "still running after Ctrl+Q; see " << log;
    // `timeout` passes on the program's own status.
    ASSERT_TRUE(WIFEXITED(program.status));
    EXPECT_EQ(WEXITSTATUS(program.status), 0) << "see " << log;
    EXPECT_TRUE(wait_for(5, [&] { return !has_plexora_ports(probe); }));
    jack_client_close(probe);
    std::filesystem::remove_all(home);
}

}  // namespace
