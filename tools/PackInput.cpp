// PackInput.cpp - opening the pack a reading verb reads, standard input too.
#include "tools/PackInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "format/PackFormat.h"
#include "platform/FileSystem.h"
#include "tools/Cli.h"

namespace vpf {

namespace fs = crateforge::fs;

namespace {

bool TempFolderFault(pack::Fault& fault, const std::string& dir, int error) {
    return pack::Fail(fault, pack::FaultKind::TempFolder,
                      "cannot use the temporary folder " + dir + ": " + pack::ErrnoText(error) +
                          " (a pack read from a pipe is copied there first)");
}

int Spool(int in, pack::Fault& fault);

// `fd` (standard input, a FIFO, a process substitution's pipe) as a
// descriptor that can be read at any offset: a regular file as it is,
// anything else copied once into a nameless file. Takes `fd` over unless it
// is standard input. `terminal` is set when it is a terminal, which is
// refused: vpf does not wait for a pack to be typed.
int SeekableDescriptor(int fd, bool& terminal, pack::Fault& fault) {
    struct stat st;
    const auto refuse = [&](pack::FaultKind kind, const std::string& reason) {
        if (fd != STDIN_FILENO)
            close(fd);
        pack::Fail(fault, kind, reason);
        return -1;
    };
    if (fstat(fd, &st) != 0)
        return refuse(pack::FaultKind::Io, pack::ErrnoText(errno));
    if (isatty(fd)) {
        terminal = true;
        return refuse(pack::FaultKind::Io,
                      "a terminal, not a pack; pipe a pack into vpf or redirect one");
    }
    if (S_ISDIR(st.st_mode))
        return refuse(pack::FaultKind::Io, "it is a folder");
    if (S_ISREG(st.st_mode)) {
        if (fd != STDIN_FILENO)
            return fd;
        const int copy = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            pack::Fail(fault, pack::FaultKind::Io, pack::ErrnoText(errno));
        return copy;
    }
    const int spool = Spool(fd, fault);
    if (fd != STDIN_FILENO)
        close(fd);
    return spool;
}

// Copies what `fd` gives until its end into a nameless file in $TMPDIR.
int Spool(int in, pack::Fault& fault) {
    const std::string dir = fs::TempDirectory();
    fs::SpoolFailure failure = fs::SpoolFailure::None;
    const int fd = fs::SpoolToNamelessFile(in, dir, pack::kMaxPackSize, failure);
    if (fd >= 0)
        return fd;
    const int error = errno;
    switch (failure) {
        case fs::SpoolFailure::TempFolder:
            TempFolderFault(fault, dir, error);
            break;
        case fs::SpoolFailure::NoMemory:
            pack::Fail(fault, pack::FaultKind::NoMemory, pack::ErrnoText(ENOMEM));
            break;
        case fs::SpoolFailure::TooLarge:
            pack::Fail(fault, pack::FaultKind::NotAPack,
                       "not a PackFile: more than 4 GiB came in, and a pack is smaller");
            break;
        case fs::SpoolFailure::Read:
        case fs::SpoolFailure::None:
            pack::Fail(fault, pack::FaultKind::Io, pack::ErrnoText(error));
            break;
    }
    return -1;
}

}  // namespace

std::string PackDisplayName(const std::string& arg) {
    return arg == "-" ? std::string(kStdinName) : arg;
}

bool OpenPackSource(const std::string& arg, pack::FileSource& source, pack::Fault& fault,
                    bool* terminal) {
    bool isTerminal = false;
    int fd = -1;
    struct stat st;
    if (arg == "-") {
        fd = SeekableDescriptor(STDIN_FILENO, isTerminal, fault);
    } else if (stat(arg.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        return source.Open(arg, fault);
    } else {
        // A FIFO, /dev/stdin, a process substitution's /dev/fd/N: read like
        // "-". Opening a FIFO waits for its writer, as any reader of one does.
        const int raw = open(arg.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        if (raw < 0)
            return pack::Fail(fault, pack::FaultKind::Io, pack::ErrnoText(errno));
        fd = SeekableDescriptor(raw, isTerminal, fault);
    }
    if (terminal)
        *terminal = isTerminal;
    return fd >= 0 && source.Adopt(fd, fault);
}

int OpenPackToRead(const std::string& arg, PackInput& in, bool salvage, bool offerSalvage) {
    in.name = PackDisplayName(arg);
    pack::Fault fault;
    bool terminal = false;
    if (!OpenPackSource(arg, in.source, fault, &terminal)) {
        ReportOpenFault(in.name, fault);
        return terminal ? kExitUsage : kExitFailure;
    }
    const pack::CutData cutData = salvage ? pack::CutData::Keep : pack::CutData::Refuse;
    if (pack::ReadDirectory(in.source, pack::PackVersion::None, in.directory, fault, cutData))
        return kExitOk;
    // Whether --salvage would get something: the directory is whole and only
    // data is missing.
    pack::Directory whole;
    pack::Fault again;
    if (!salvage && offerSalvage && fault.kind == pack::FaultKind::Damaged &&
        pack::ReadDirectory(in.source, pack::PackVersion::None, whole, again, pack::CutData::Keep))
        fault.reason += "; the directory is whole: --salvage reads the files that are whole";
    ReportOpenFault(in.name, fault);
    return kExitFailure;
}

pack::Fault CutFault(const pack::Directory& directory, std::size_t i) {
    const pack::DirectoryFile& f = directory.files[i];
    pack::Fault fault;
    const bool old = directory.version == pack::PackVersion::Old;
    const bool headerThere = old || f.dataOffset <= directory.fileSize;
    if (!headerThere)
        pack::Damaged(fault, "its data block lies past the end of the file",
                      f.recordOffset + pack::kNameFieldSize);
    else
        pack::Damaged(
            fault,
            "its " + std::to_string(f.packedSize) + " stored bytes run past the end of the file",
            old ? f.recordOffset + pack::kOldNameFieldSize : f.blockOffset + 4);
    return fault;
}

std::vector<pack::Fault> LostRecords(const pack::Directory& directory) {
    std::vector<pack::Fault> out;
    for (const std::uint64_t slot : directory.cutRecordSlots) {
        pack::Fault fault;
        pack::Damaged(
            fault,
            "entry " +
                std::to_string((slot - pack::kOldPackHeaderSize) / pack::kOldEntryOffsetSize + 1) +
                " has its record past the end of the file; its name is lost",
            slot);
        out.push_back(fault);
    }
    return out;
}

void ReportOpenFault(const std::string& name, const pack::Fault& fault) {
    if (fault.kind == pack::FaultKind::Damaged && fault.HasOffset())
        Error(name + ": damaged at offset " + std::to_string(fault.offset) + ": " + fault.reason);
    else
        Error(name + ": " + fault.reason);
}

}  // namespace vpf
