// A private JACK server (dummy driver) for the tests that need one, and the
// child-process and waiting helpers that go with it.
#pragma once

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace jackkit {

using Clock = std::chrono::steady_clock;

inline void sleep_s(double s) {
    std::this_thread::sleep_for(std::chrono::duration<double>(s));
}

// Waits up to `seconds` for `ready`.
template <typename F>
bool wait_for(double seconds, F ready) {
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (!ready()) {
        if (Clock::now() > until) return false;
        sleep_s(0.005);
    }
    return true;
}

// Starts `args` under `timeout` (so that it ends even if this test dies),
// output to `log`.
class Child {
  public:
    Child(std::vector<std::string> args, const std::string& log, int seconds = 120) {
        args.insert(args.begin(), {"timeout", std::to_string(seconds)});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawnp(&pid_, "timeout", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ <= 0 || exited(0.0)) return;
        kill(pid_, SIGTERM);
        if (!exited(5.0)) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    }
    // Waits up to `seconds` for the child to end; its status is then `status`.
    // Once it has been reaped its id may belong to another process: it is
    // never waited for or signalled again.
    bool exited(double seconds) {
        reaped_ =
            reaped_ || wait_for(seconds, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
        return reaped_;
    }
    pid_t pid_ = -1;
    int status = -1;

  private:
    bool reaped_ = false;
};

// `jackd -d dummy` under a name of its own (`tag`, the process and a count);
// every client of this process talks to it only, and none may start another.
// A server that is to be killed takes a name kept from run to run instead
// (`reused_name`): JACK's registry of servers has a few entries and frees a
// killed server's entry only when a server of the same name starts again.
struct JackServer {
    explicit JackServer(const std::string& tag, unsigned period = 256, unsigned rate = 48000,
                        bool reused_name = false)
        : name(reused_name ? tag + "-" + std::to_string(getuid())
                           : tag + "-" + std::to_string(getpid()) + "-" + std::to_string(count()++)),
          log("/tmp/" + name + ".log"),
          child({"jackd", "-r", "-n", name, "-d", "dummy", "-r", std::to_string(rate), "-p",
                 std::to_string(period)},
                log) {
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_START_SERVER", "1", 1);
        running = wait_for(15, [] {
            jack_client_t* c = jack_client_open("plexora-probe", JackNoStartServer, nullptr);
            if (c) jack_client_close(c);
            return c != nullptr;
        });
    }
    // Sends `signal` to jackd itself (`timeout` could not pass SIGKILL on)
    // and waits for it to end.
    bool stop(int signal) {
        const std::string at = "/proc/" + std::to_string(child.pid_);
        std::ifstream children(at + "/task/" + std::to_string(child.pid_) + "/children");
        pid_t jackd = 0;
        if (!(children >> jackd) || jackd <= 0 || kill(jackd, signal) != 0) return false;
        return child.exited(10);
    }

    const std::string name, log;
    Child child;
    bool running = false;

  private:
    static int& count() {
        static int n = 0;
        return n;
    }
};

}  // namespace jackkit
