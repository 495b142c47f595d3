// VpfRunner.h - runs the real vpf binary for tests and captures what it does.
//
// Every run starts in a session of its own (so it has no terminal to ask on,
// and a signal can go to its whole process group, as a terminal's Ctrl-C
// does), gets standard input from /dev/null or a given file, standard output
// and error in files, and TMPDIR pointing at the test's private folder. A run
// may be given a file-size limit (RLIMIT_FSIZE) to inject a full disk; that
// works as root too. RunShell runs a bash pipeline with $VPF naming the
// binary; RunInterrupted signals a running vpf once a condition holds.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestPacks.h"

#ifndef VPF_BINARY
#error "VPF_BINARY must name the vpf executable"
#endif

namespace vpftest {

using testpacks::Bytes;

struct RunResult {
    int code = -1;
    std::string out;
    std::string err;
};

inline std::string ReadText(const std::string& path) {
    const Bytes b = testpacks::ReadFile(path);
    return std::string(b.begin(), b.end());
}

class VpfTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* old = std::getenv("TMPDIR"))
            oldTmp_ = old;
        tmp_ = dir_.Path() + "/tmp";
        mkdir(tmp_.c_str(), 0700);
        setenv("TMPDIR", tmp_.c_str(), 1);
    }
    // The next test's folder is made where the run started, not in this
    // test's folder, which is gone by then.
    void TearDown() override {
        if (oldTmp_.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", oldTmp_.c_str(), 1);
    }

    // Runs vpf with `args`; `fileSizeLimit` > 0 limits the size of files the
    // child may write.
    RunResult Run(const std::vector<std::string>& args, rlim_t fileSizeLimit = 0,
                  long* maxRssKb = nullptr) {
        std::vector<std::string> all{VPF_BINARY};
        all.insert(all.end(), args.begin(), args.end());
        return Exec(all, "/dev/null", fileSizeLimit, maxRssKb);
    }

    // Runs vpf with standard input read from the file `input`.
    RunResult RunWithInput(const std::vector<std::string>& args, const std::string& input) {
        std::vector<std::string> all{VPF_BINARY};
        all.insert(all.end(), args.begin(), args.end());
        return Exec(all, input, 0, nullptr);
    }

    // Runs `script` with bash -c in the test's folder, $VPF naming the binary.
    RunResult RunShell(const std::string& script) {
        setenv("VPF", VPF_BINARY, 1);
        return Exec({"/bin/bash", "-o", "pipefail", "-c", script}, "/dev/null", 0, nullptr);
    }

    // Starts vpf with `args`, waits until `ready()` holds (checked every
    // millisecond, for at most 20 s), then sends `sig` to its process group
    // and waits for it. `code` is the exit status, or 1000 + the signal
    // that killed it; `signalled` says whether the signal was sent before
    // vpf had ended.
    RunResult RunInterrupted(const std::vector<std::string>& args,
                             const std::function<bool()>& ready, int sig, bool* signalled) {
        std::vector<std::string> all{VPF_BINARY};
        all.insert(all.end(), args.begin(), args.end());
        const pid_t pid = Start(all, "/dev/null", 0);
        int status = 0;
        bool sent = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (waitpid(pid, &status, WNOHANG) == pid)
                return Finish(status, false, signalled);
            if (ready()) {
                kill(-pid, sig);
                sent = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (!sent)
            kill(-pid, SIGKILL);
        waitpid(pid, &status, 0);
        return Finish(status, sent, signalled);
    }

    RunResult Exec(const std::vector<std::string>& command, const std::string& input,
                   rlim_t fileSizeLimit, long* maxRssKb) {
        const pid_t pid = Start(command, input, fileSizeLimit);
        RunResult r;
        int status = 0;
        struct rusage usage {};
        if (pid > 0 && wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status))
            r.code = WEXITSTATUS(status);
        else
            r.code = 1000 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        if (maxRssKb)
            *maxRssKb = usage.ru_maxrss;
        r.out = ReadText(dir_.File(".out"));
        r.err = ReadText(dir_.File(".err"));
        return r;
    }

    RunResult Finish(int status, bool sent, bool* signalled) {
        RunResult r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status)
                                   : 1000 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        r.out = ReadText(dir_.File(".out"));
        r.err = ReadText(dir_.File(".err"));
        if (signalled)
            *signalled = sent;
        return r;
    }

    pid_t Start(const std::vector<std::string>& command, const std::string& input,
                rlim_t fileSizeLimit) {
        const std::string outPath = dir_.File(".out"), errPath = dir_.File(".err");
        std::vector<std::string> all = command;
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            setsid();
            for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
                signal(sig, SIG_DFL);
            const int in = open(input.c_str(), O_RDONLY);
            const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (in < 0 || out < 0 || err < 0)
                _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            if (chdir(dir_.Path().c_str()) != 0)
                _exit(126);
            if (fileSizeLimit > 0) {
                struct rlimit limit {
                    fileSizeLimit, fileSizeLimit
                };
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    std::string Path(const std::string& name) const { return dir_.File(name); }
    void Write(const std::string& name, const std::string& text) {
        testpacks::WriteFile(Path(name), Bytes(text.begin(), text.end()));
    }
    void Write(const std::string& name, const Bytes& bytes) {
        testpacks::WriteFile(Path(name), bytes);
    }
    void MakeDir(const std::string& name) { ASSERT_EQ(mkdir(Path(name).c_str(), 0777), 0) << name; }
    Bytes Read(const std::string& name) const { return testpacks::ReadFile(Path(name)); }
    std::string ReadString(const std::string& name) const { return ReadText(Path(name)); }
    bool Exists(const std::string& name) const {
        struct stat st;
        return lstat(Path(name).c_str(), &st) == 0;
    }
    // The names in a folder of the test (relative), "." and ".." left out,
    // sorted.
    std::vector<std::string> Names(const std::string& folder) const {
        std::vector<std::string> names;
        if (DIR* d = opendir(Path(folder).c_str())) {
            while (dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.push_back(e->d_name);
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // Names left in TMPDIR (the codecs must leave nothing behind).
    std::vector<std::string> TempLeftovers() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(tmp_.c_str())) {
            while (dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }

    // A small tree: src/a.txt, src/sub/n.txt (compressible), src/sub/deep/
    // empty, src/.hidden.
    void MakeTree() {
        MakeDir("src");
        MakeDir("src/sub");
        MakeDir("src/sub/deep");
        Write("src/a.txt", "hello\n");
        std::string numbers;
        for (int i = 1; i <= 2000; ++i)
            numbers += std::to_string(i) + "\n";
        Write("src/sub/n.txt", numbers);
        Write("src/sub/deep/empty", "");
        Write("src/.hidden", "secret");
    }

    testpacks::TempDir dir_;
    std::string tmp_;
    std::string oldTmp_;
};

}  // namespace vpftest
