// SignalExit.cpp - the handlers, the pipe and the notifier.
#include "builder/SignalExit.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>

#include "platform/TempFiles.h"

namespace crateforge {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_pipe[2] = {-1, -1};
std::atomic<int> g_received{0};

static_assert(std::atomic<int>::is_always_lock_free, "read and written by a signal handler");

extern "C" void OnExitSignal(int signal) {
    const int saved = errno;
    int expected = 0;
    if (g_received.compare_exchange_strong(expected, signal)) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        if (write(g_pipe[1], &byte, 1) < 0) {
            // The pipe holds one byte already at most; nothing more to do.
        }
        errno = saved;
        return;
    }
    // Asked again while the first is still being handled: end now.
    fs::RemoveLiveTempFiles();
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
    errno = saved;
}

}  // namespace

bool SignalExit::Install(std::function<void(int)> onSignal) {
    if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return false;
    }
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [onSignal = std::move(onSignal)] {
                         unsigned char byte = 0;
                         while (read(g_pipe[0], &byte, 1) == 1) {
                         }
                         if (onSignal) {
                             onSignal(g_received.load());
                         }
                     });
    struct sigaction action {};
    action.sa_handler = OnExitSignal;
    sigemptyset(&action.sa_mask);
    // A system call that a signal interrupts goes on where it can.
    action.sa_flags = SA_RESTART;
    bool ok = true;
    for (int signal : kSignals) {
        // A signal ignored at start (nohup) stays ignored.
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
            continue;
        }
        ok = sigaction(signal, &action, nullptr) == 0 && ok;
    }
    return ok;
}

int SignalExit::Received() {
    return g_received.load();
}

void SignalExit::ReraiseIfReceived() {
    const int signal = g_received.load();
    if (signal == 0) {
        return;
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

}  // namespace crateforge
