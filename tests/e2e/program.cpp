// The program as a user starts it: under a private X server with a private
// JACK server running, its audio client appears in the server's port list, a
// bank named on its command line is loaded (and so remembered among the
// recent files), and its Quit command (Ctrl+Q) ends it with status 0.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "e2e/jack_kit.h"

// Last: Xlib's macros would clash with the test framework's names.
#include <X11/Xlib.h>
#include <X11/keysym.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(std::vector<std::string> args, const std::string& log) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// A private X server on a display number of our own.
class XServer {
  public:
    XServer() {
        const int n = 200 + getpid() % 500;
        display_ = ":" + std::to_string(n);
        pid_ = spawn(
            {"timeout", "120", "Xvfb", display_, "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
            "/tmp/plexora-e2e-xvfb.log");
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        const auto until = Clock::now() + std::chrono::seconds(10);
        struct stat st;
        while (Clock::now() < until && stat(socket.c_str(), &st) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ~XServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& display() const { return display_; }

  private:
    std::string display_;
    pid_t pid_ = -1;
};

bool has_port(const char* prefix) {
    jack_status_t status;
    jack_client_t* c = jack_client_open("plexora-e2e-lsp", JackNoStartServer, &status);
    if (!c) return false;
    const char** ports = jack_get_ports(c, prefix, nullptr, 0);
    const bool found = ports && ports[0];
    jack_free(ports);
    jack_client_close(c);
    return found;
}

Window find_window(Display* d, Window w, const char* title) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        const bool match = std::strcmp(name, title) == 0;
        XFree(name);
        if (match) return w;
    }
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    Window found = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &n)) {
        for (unsigned i = 0; i < n && !found; ++i) found = find_window(d, children[i], title);
        if (children) XFree(children);
    }
    return found;
}

// Presses and releases Ctrl+Q in `w`.
void send_ctrl_q(Display* d, Window w) {
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    for (int type : {KeyPress, KeyRelease}) {
        XKeyEvent e{};
        e.type = type;
        e.display = d;
        e.window = w;
        e.root = DefaultRootWindow(d);
        e.same_screen = True;
        e.state = ControlMask;
        e.keycode = XKeysymToKeycode(d, XK_q);
        e.time = CurrentTime;
        XSendEvent(d, w, True, type == KeyPress ? KeyPressMask : KeyReleaseMask,
                   reinterpret_cast<XEvent*>(&e));
        XFlush(d);
    }
}

}  // namespace

TEST(Program, ShowsItsAudioClientAndQuitsCleanlyOnCtrlQ) {
    XServer x;
    e2e::JackServer jack(48000, 256);
    ASSERT_TRUE(jack.running()) << "see " << jack.log();
    setenv("DISPLAY", x.display().c_str(), 1);
    unsetenv("QT_QPA_PLATFORM");
    const std::string log = "/tmp/plexora-e2e-program.log";
    const std::string home = "/tmp/plexora-e2e-home-" + std::to_string(getpid());
    setenv("HOME", home.c_str(), 1);
    const std::string bank = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    const bool with_bank = access(bank.c_str(), R_OK) == 0;
    const pid_t pid = spawn(with_bank ? std::vector<std::string>{"timeout", "60", PLEXORA_EXE, bank}
                                      : std::vector<std::string>{"timeout", "60", PLEXORA_EXE},
                            log);
    ASSERT_GT(pid, 0);

    bool listed = false;
    auto until = Clock::now() + std::chrono::seconds(20);
    while (!listed && Clock::now() < until) {
        listed = has_port("^Plexora:");
        if (!listed) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(listed) << "no Plexora ports; see " << log;

    Display* d = XOpenDisplay(x.display().c_str());
    ASSERT_NE(d, nullptr);
    Window w = 0;
    until = Clock::now() + std::chrono::seconds(10);
    while (!w && Clock::now() < until) {
        w = find_window(d, DefaultRootWindow(d), "Plexora, the virtual Midi sampler 1.1");
        if (!w) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_NE(w, 0u);
    if (with_bank) {
        const std::string conf = home + "/.config/plexora/plexora.conf";
        bool loaded = false;
        until = Clock::now() + std::chrono::seconds(20);
        while (!loaded && Clock::now() < until) {
            std::ifstream f(conf);
            const std::string text((std::istreambuf_iterator<char>(f)), {});
            loaded = text.find("TimGM6mb.sf2") != std::string::npos;
            if (!loaded) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_TRUE(loaded) << "the bank on the command line was not loaded; see " << log;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    send_ctrl_q(d, w);

    int status = -1;
    until = Clock::now() + std::chrono::seconds(15);
    pid_t done = 0;
    while (done == 0 && Clock::now() < until) {
        done = waitpid(pid, &status, WNOHANG);
        if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    XCloseDisplay(d);
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "still running after Ctrl+Q; see " << log;
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "see " << log;
    EXPECT_FALSE(has_port("^Plexora:"));
    std::filesystem::remove_all(home);
}
