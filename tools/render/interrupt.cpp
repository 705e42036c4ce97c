#include "interrupt.h"

#include <csignal>
#include <initializer_list>

namespace interrupt {
namespace {

volatile std::sig_atomic_t g_signal = 0;

void note_signal(int sig) {
    g_signal = sig;
}

}  // namespace

void catch_signals() {
    struct sigaction sa {};
    sa.sa_handler = note_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

int received() {
    return g_signal;
}

}  // namespace interrupt
