// The native file calls behind the codecs, the format core and the reader:
// reads and writes at 64-bit offsets, what a status says of each kind of
// file, and failures reported through errno.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Fault.h"
#include "platform/NativeFile.h"
#include "tests/support/TestPacks.h"

namespace {

TEST(NativeFile, ReadsAndWritesAtOffsetsPastFourGibibytes) {
    testpacks::TempDir dir;
    dir.Write("sparse", testpacks::ToBytes("head"));
    const int fd = ::open(dir.File("sparse").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    // Past 2^32 and 2^31: a 32-bit offset anywhere on the way would land
    // these bytes at 1 GiB (or fail).
    const std::uint64_t far = (std::uint64_t{5} << 30) + 3;
    ASSERT_EQ(native::WriteAt(fd, far, "tail", 4), 4);
    native::FileStatus status;
    ASSERT_TRUE(native::StatusOf(fd, status));
    EXPECT_EQ(status.size, far + 4);
    EXPECT_EQ(status.type, native::FileType::Regular);

    char got[8] = {};
    EXPECT_EQ(native::ReadAt(fd, far, got, sizeof got), 4);  // short at the end
    EXPECT_EQ(std::string(got, 4), "tail");
    EXPECT_EQ(native::ReadAt(fd, far + 4, got, sizeof got), 0);
    EXPECT_EQ(native::ReadAt(fd, 0, got, 4), 4);
    EXPECT_EQ(std::string(got, 4), "head");
    EXPECT_EQ(native::ReadAt(fd, std::uint64_t{1} << 30, got, 4), 4);
    EXPECT_EQ(std::string(got, 4), std::string(4, '\0'));
    ::close(fd);
}

TEST(NativeFile, StatusTellsFilesFoldersAndOthersApartAndIdentifiesAFile) {
    testpacks::TempDir dir;
    dir.Write("file", testpacks::ToBytes("12345"));
    ::mkdir(dir.File("folder").c_str(), 0700);
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    struct Case {
        const char* name;
        native::FileType type;
    };
    for (const Case& c :
         {Case{"file", native::FileType::Regular}, Case{"folder", native::FileType::Folder},
          Case{"fifo", native::FileType::Other}}) {
        SCOPED_TRACE(c.name);
        // A FIFO without a writer must not block the open.
        const int fd = native::OpenForReading(dir.File(c.name).c_str());
        ASSERT_GE(fd, 0) << std::strerror(errno);
        EXPECT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
        native::FileStatus status;
        ASSERT_TRUE(native::StatusOf(fd, status));
        EXPECT_EQ(status.type, c.type);
        if (c.type == native::FileType::Regular) {
            struct stat st;
            ASSERT_EQ(::stat(dir.File(c.name).c_str(), &st), 0);
            EXPECT_EQ(status.size, 5u);
            EXPECT_EQ(status.inode, st.st_ino);
            EXPECT_EQ(status.device, st.st_dev);
            EXPECT_EQ(status.modifiedSeconds, st.st_mtim.tv_sec);
            EXPECT_EQ(status.modifiedNanoseconds, st.st_mtim.tv_nsec);
        }
        native::CloseFile(fd);
    }
}

TEST(NativeFile, FailuresSetErrnoWithTheSystemsText) {
    testpacks::TempDir dir;
    errno = 0;
    EXPECT_EQ(native::OpenForReading(dir.File("missing").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(pack::ErrnoText(ENOENT), std::strerror(ENOENT));
    char byte;
    errno = 0;
    EXPECT_EQ(native::ReadAt(-1, 0, &byte, 1), -1);
    EXPECT_EQ(errno, EBADF);
    native::FileStatus status;
    EXPECT_FALSE(native::StatusOf(-1, status));
}

}  // namespace
