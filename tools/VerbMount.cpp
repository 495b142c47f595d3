// VerbMount.cpp - vpf mount: a pack as a read-only file system.
//
// The pack is opened and its directory read and turned into a path tree
// before anything is mounted, so that a pack that cannot be read is
// reported here and nothing is left mounted. Then the FUSE session is made
// and mounted (through fusermount3 for a user without the right to mount),
// and the process either serves it in the foreground until Ctrl-C or an
// unmount, or forks: the parent waits until the child has detached and
// exits with the mount's status, the child serves.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include "tools/Cli.h"
#include "tools/MountFs.h"
#include "tools/PackInput.h"

namespace vpf {

namespace {

// An option value for the FUSE option parser: "," and "\" escaped.
std::string OptionValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ',' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

// Gives SIGINT, SIGTERM and SIGHUP back to their default actions (unless
// ignored when vpf started), so that the FUSE library's handlers, which
// end the session and so unmount, take them.
void RestoreStopSignals() {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            struct sigaction action {};
            action.sa_handler = SIG_DFL;
            sigemptyset(&action.sa_mask);
            sigaction(sig, &action, nullptr);
        }
    }
}

// Forks. The parent waits for the child's status byte and exits with it;
// if the child dies first, the parent unmounts and exits 1. The child
// starts a new session, leaves the current folder and the terminal, and
// returns once the parent has its status.
void Detach(fuse_session* session, int status) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        Error("cannot go to the background: " + pack::ErrnoText(errno) +
              "; serving in the foreground");
        return;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        Error("cannot go to the background: " + pack::ErrnoText(errno) +
              "; serving in the foreground");
        close(ready[0]);
        close(ready[1]);
        return;
    }
    if (pid > 0) {
        close(ready[1]);
        unsigned char byte = 0;
        ssize_t n;
        do
            n = read(ready[0], &byte, 1);
        while (n < 0 && errno == EINTR);
        if (n != 1) {
            Error("the file system process ended before it was ready");
            fuse_session_unmount(session);
            _exit(kExitFailure);
        }
        _exit(byte);
    }
    close(ready[0]);
    setsid();
    if (chdir("/") != 0) {
        // Nothing depends on the current folder any more: the pack is open
        // and the mount point was made absolute.
    }
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        if (null > STDERR_FILENO)
            close(null);
    }
    const auto byte = static_cast<unsigned char>(status);
    [[maybe_unused]] const ssize_t n = write(ready[1], &byte, 1);
    close(ready[1]);
}

}  // namespace

int RunMount(const Options& options) {
    const std::string& packArg = options.args[0];
    const std::string& dirArg = options.args[1];

    PackInput in;
    if (const int rc = OpenPackToRead(packArg, in, false, false); rc != kExitOk)
        return rc;
    pack::PathTree tree;
    pack::Fault fault;
    if (!tree.Build(std::move(in.directory), fault)) {
        Error(in.name + ": " + fault.reason);
        return kExitFailure;
    }
    const pack::FileIdentity identity = in.source.Identity();
    struct stat packStat {};
    pack::FileIdentity now;
    if (fstat(in.source.Descriptor(), &packStat) != 0 ||
        !pack::IdentityOf(in.source.Descriptor(), now) || !(now == identity)) {
        Error(in.name + ": the pack changed while its directory was read; mount it again");
        return kExitFailure;
    }
    for (const pack::PathTree::LeftOut& left : tree.LeftOutNames())
        Error(in.name + ": " + left.name + ": not shown in the mount: " + left.reason);

    char* resolved = realpath(dirArg.c_str(), nullptr);
    if (!resolved) {
        Error(dirArg + ": cannot mount there: " + pack::ErrnoText(errno));
        return kExitFailure;
    }
    const std::string mountPoint = resolved;
    std::free(resolved);
    struct stat dirStat {};
    if (stat(mountPoint.c_str(), &dirStat) != 0 || !S_ISDIR(dirStat.st_mode)) {
        Error(dirArg + ": cannot mount there: not a folder");
        return kExitFailure;
    }

    const std::size_t leftOut = tree.LeftOutNames().size();
    const std::uint64_t cacheBytes = options.cacheMiB * 1024 * 1024;
    mount::FileSystem fs(in.source.Descriptor(), identity, packStat, std::move(tree), cacheBytes);

    // The pack's path as the mount's source (shown by mount and df).
    std::string source = packArg == "-" ? std::string("vpf") : packArg;
    if (char* full = realpath(source.c_str(), nullptr)) {
        source = full;
        std::free(full);
    }
    const std::string mountOptions =
        "ro,default_permissions,subtype=vpf,fsname=" + OptionValue(source);
    fuse_args args = FUSE_ARGS_INIT(0, nullptr);
    if (fuse_opt_add_arg(&args, "vpf") != 0 || fuse_opt_add_arg(&args, "-o") != 0 ||
        fuse_opt_add_arg(&args, mountOptions.c_str()) != 0) {
        fuse_opt_free_args(&args);
        Error("out of memory");
        return kExitFailure;
    }
    fuse_session* session =
        fuse_session_new(&args, &mount::FileSystem::Operations(), sizeof(fuse_lowlevel_ops), &fs);
    fuse_opt_free_args(&args);
    if (!session) {
        Error("cannot start the file system (the FUSE library said why above)");
        return kExitFailure;
    }
    RestoreStopSignals();
    if (fuse_set_signal_handlers(session) != 0) {
        fuse_session_destroy(session);
        Error("cannot set up the signal handlers of the file system");
        return kExitFailure;
    }
    if (fuse_session_mount(session, mountPoint.c_str()) != 0) {
        fuse_remove_signal_handlers(session);
        fuse_session_destroy(session);
        Error("cannot mount " + in.name + " on " + dirArg +
              " (the FUSE library or fusermount3 said why above)");
        return kExitFailure;
    }

    const int status = leftOut == 0 ? kExitOk : kExitFailure;
    if (leftOut != 0)
        Error(in.name + ": mounted on " + dirArg + ", but " + Counted(leftOut, "name") +
              (leftOut == 1 ? " is" : " are") + " not shown (named above)");
    if (options.verbose)
        Error(in.name + ": mounted on " + mountPoint +
              (options.foreground ? "; Ctrl-C unmounts" : "; fusermount3 -u unmounts"));
    if (!options.foreground)
        Detach(session, status);

    const int served = fuse_session_loop(session);
    fs.Stop();
    fuse_session_unmount(session);
    fuse_remove_signal_handlers(session);
    fuse_session_destroy(session);
    if (served < 0) {
        Error(in.name + ": the file system on " + dirArg + " stopped: " + pack::ErrnoText(-served));
        return kExitFailure;
    }
    return status;
}

}  // namespace vpf
