// Interrupt.cpp - the signal handler of vpf and what it reports.
#include "tools/Interrupt.h"

#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/TempFiles.h"
#include "tools/Cli.h"

namespace vpf::interrupt {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
// How long the handler waits for workers that are creating a temporary file
// (each takes microseconds; the bound only guards against a stuck thread).
constexpr long kCreateWaitStepNs = 1000000;
constexpr int kCreateWaitSteps = 2000;
constexpr std::size_t kTextSize = 4096;

enum PackMode : int { ReadOnly, Watched, ToStdout };

// Everything the handler reads. Texts are written before `described` /
// `packMode` publish them.
pthread_t g_mainThread;
std::atomic<bool> g_stopping{false};
std::atomic<int> g_creating{0};
std::atomic<bool> g_barDrawn{false};
sigset_t g_mainMask;  // the main thread's mask before BeginCreating

std::atomic<bool> g_described{false};
char g_doneWord[32];
char g_noun[32];
char g_where[kTextSize];
std::atomic<std::uint64_t> g_total{0};
std::atomic<std::uint64_t> g_done{0};

std::atomic<int> g_packMode{ReadOnly};
char g_packPath[kTextSize];
char g_packShown[kTextSize];  // the path as messages show it (tools/Cli.h Printable)
bool g_packExisted = false;
struct stat g_packBefore;

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
                  std::atomic<std::uint64_t>::is_always_lock_free,
              "the handler may only read lock-free atomics");

void CopyText(char* to, std::size_t size, const char* from) {
    std::size_t n = std::strlen(from);
    if (n >= size)
        n = size - 1;
    std::memcpy(to, from, n);
    to[n] = '\0';
}

// A line assembled without allocation.
class Line {
  public:
    void Add(const char* text) {
        while (*text && length_ < sizeof buffer_)
            buffer_[length_++] = *text++;
    }
    void AddCount(std::uint64_t n) {
        char digits[32];
        int k = 0;
        int group = 0;
        do {
            if (group == 3) {
                digits[k++] = ',';
                group = 0;
            }
            digits[k++] = static_cast<char>('0' + n % 10);
            n /= 10;
            ++group;
        } while (n > 0);
        while (k > 0 && length_ < sizeof buffer_)
            buffer_[length_++] = digits[--k];
    }
    void Write() {
        if (length_ >= sizeof buffer_)
            length_ = sizeof buffer_ - 1;
        buffer_[length_++] = '\n';
        std::size_t done = 0;
        while (done < length_) {
            const ssize_t n = ::write(STDERR_FILENO, buffer_ + done, length_ - done);
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }

  private:
    char buffer_[3 * kTextSize];
    std::size_t length_ = 0;
};

const char* SignalName(int sig) {
    switch (sig) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

bool SameState(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

void AddPackState(Line& line) {
    switch (g_packMode.load()) {
        case ToStdout:
            line.Add("the pack sent to standard output is incomplete");
            return;
        case ReadOnly:
            line.Add("the pack is unchanged");
            return;
        default:
            break;
    }
    struct stat now;
    const bool exists = ::stat(g_packPath, &now) == 0;
    line.Add(g_packShown);
    if (!g_packExisted)
        line.Add(exists ? " was already saved" : " was not written");
    else if (!exists)
        line.Add(" is gone");  // somebody else removed it; vpf never does
    else if (SameState(now, g_packBefore))
        line.Add(" is unchanged");
    else if (now.st_dev == g_packBefore.st_dev && now.st_ino == g_packBefore.st_ino)
        line.Add(" was being rewritten in place and may be incomplete");
    else
        line.Add(" was already saved");
}

void Handle(int sig) {
    g_stopping.store(true);
    // Workers that passed their check before the flag was set list their
    // file within microseconds; wait for them so that it is removed below.
    for (int step = 0; step < kCreateWaitSteps && g_creating.load() > 0; ++step) {
        struct timespec pause {
            0, kCreateWaitStepNs
        };
        nanosleep(&pause, nullptr);
    }
    const int removed = crateforge::fs::RemoveLiveTempFiles();

    if (g_barDrawn.load()) {
        static const char kClear[] = "\r\033[K";
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kClear, sizeof kClear - 1);
    }
    Line line;
    line.Add("vpf: interrupted by ");
    line.Add(SignalName(sig));
    if (g_described.load()) {
        const std::uint64_t total = g_total.load();
        line.Add(": ");
        line.Add(g_doneWord);
        line.Add(" ");
        line.AddCount(g_done.load());
        line.Add(" of ");
        line.AddCount(total);
        line.Add(" ");
        line.Add(g_noun);
        if (total != 1)
            line.Add("s");
        if (g_where[0]) {
            line.Add(" ");
            line.Add(g_where);
        }
    }
    if (removed > 0) {
        line.Add("; removed ");
        line.AddCount(static_cast<std::uint64_t>(removed));
        line.Add(removed == 1 ? " partial file" : " partial files");
    }
    line.Add("; ");
    AddPackState(line);
    line.Write();
    _exit(128 + sig);
}

}  // namespace

void Install() {
    g_mainThread = pthread_self();
    struct sigaction action {};
    action.sa_handler = Handle;
    sigemptyset(&action.sa_mask);
    for (int sig : kSignals)
        sigaddset(&action.sa_mask, sig);
    for (int sig : kSignals) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        sigaction(sig, &action, nullptr);
    }
}

void DescribeWork(const char* doneWord, std::uint64_t total, const char* noun,
                  const std::string& where) {
    g_described.store(false);
    CopyText(g_doneWord, sizeof g_doneWord, doneWord);
    CopyText(g_noun, sizeof g_noun, noun);
    CopyText(g_where, sizeof g_where, Printable(where).c_str());
    g_total.store(total);
    g_done.store(0);
    g_described.store(true);
}

void CountDone(std::uint64_t n) {
    g_done.fetch_add(n);
}

void WatchPack(const std::string& path) {
    g_packMode.store(ReadOnly);
    CopyText(g_packPath, sizeof g_packPath, path.c_str());
    CopyText(g_packShown, sizeof g_packShown, Printable(path).c_str());
    g_packExisted = ::stat(path.c_str(), &g_packBefore) == 0;
    g_packMode.store(Watched);
}

void WatchStdout() {
    g_packMode.store(ToStdout);
}

bool BeginCreating() {
    if (pthread_equal(pthread_self(), g_mainThread)) {
        // The handler runs on this thread: held off until EndCreating.
        sigset_t block;
        sigemptyset(&block);
        for (int sig : kSignals)
            sigaddset(&block, sig);
        pthread_sigmask(SIG_BLOCK, &block, &g_mainMask);
        if (!g_stopping.load())
            return true;
        pthread_sigmask(SIG_SETMASK, &g_mainMask, nullptr);
        return false;
    }
    g_creating.fetch_add(1);
    if (g_stopping.load()) {
        g_creating.fetch_sub(1);
        return false;
    }
    return true;
}

void EndCreating() {
    if (pthread_equal(pthread_self(), g_mainThread))
        pthread_sigmask(SIG_SETMASK, &g_mainMask, nullptr);
    else
        g_creating.fetch_sub(1);
}

void SetBarDrawn(bool drawn) {
    g_barDrawn.store(drawn);
}

WorkerSignalMask::WorkerSignalMask() {
    sigset_t block;
    sigemptyset(&block);
    for (int sig : kSignals)
        sigaddset(&block, sig);
    pthread_sigmask(SIG_BLOCK, &block, &previous_);
}

WorkerSignalMask::~WorkerSignalMask() {
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace vpf::interrupt
