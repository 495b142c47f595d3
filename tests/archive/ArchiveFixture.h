// ArchiveFixture.h - a document on the scripted platform, in private folders.
//
// Every test gets its own folder for disk files and its own TMPDIR (so the
// workspace's temporary files can be checked for leftovers), a scripted
// message service, list, progress bar and icons, and a CPackArchive wired
// to them.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "archive/PackArchive.h"
#include "platform/FileSystem.h"
#include "platform/Scripted.h"
#include "tests/support/TestPacks.h"

namespace crateforge::test {

using testpacks::Bytes;

// Bytes that gzip cannot shrink (so they are stored and sizes are exact).
inline Bytes NoiseBytes(std::size_t length, std::uint32_t seed = 7) {
    Bytes out(length);
    std::uint32_t x = seed * 747796405u + 2891336453u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

// Bytes gzip shrinks well.
inline Bytes TextBytes(std::size_t length, std::uint32_t seed = 1) {
    return testpacks::SampleBytes(length, seed);
}

// An entry that claims these sizes, its bytes standing in an empty file:
// enough for every check that does not read them (a save does).
inline std::unique_ptr<PackEntry> ClaimedEntry(std::string_view name, std::uint32_t original,
                                               std::uint32_t packed) {
    static const auto nowhere =
        std::make_shared<const StoredFile>(open("/dev/null", O_RDONLY | O_CLOEXEC));
    auto e = std::make_unique<PackEntry>();
    e->SetName(name);
    e->originalSize = original;
    e->packedSize = packed;
    e->stored = nowhere;
    return e;
}

// The files of a folder, in order.
inline std::vector<const PackEntry*> FilesOf(const CPackFolder* folder) {
    std::vector<const PackEntry*> out;
    for (int i = 0; i < static_cast<int>(folder->FileCount()); ++i)
        out.push_back(folder->FileAt(i));
    return out;
}

class ArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        hadTmp_ = old != nullptr;
        if (old)
            oldTmp_ = old;
        tmp = dir.File("tmp");
        src = dir.File("src");
        mkdir(tmp.c_str(), 0700);
        mkdir(src.c_str(), 0700);
        setenv("TMPDIR", tmp.c_str(), 1);
        archive = MakeArchive();
    }
    void TearDown() override {
        archive.reset();
        if (hadTmp_)
            setenv("TMPDIR", oldTmp_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

    std::unique_ptr<CPackArchive> MakeArchive() {
        return std::make_unique<CPackArchive>(&messages, &list, &progress, &icons);
    }

    // Writes a file below src/ (parent folders must exist) and returns its path.
    std::string Source(const std::string& relative, const Bytes& bytes) {
        const std::string path = src + "/" + relative;
        testpacks::WriteFile(path, bytes);
        return path;
    }
    std::string SourceDir(const std::string& relative) {
        const std::string path = src + "/" + relative;
        mkdir(path.c_str(), 0755);
        return path;
    }
    std::string PackPath(const std::string& name = "test.vpf") const { return dir.File(name); }

    // Names left in the private TMPDIR.
    std::vector<std::string> TmpLeftovers() const {
        std::vector<fs::DirEntry> names;
        fs::ListDirectory(tmp, names);
        std::vector<std::string> out;
        for (const auto& e : names)
            out.push_back(e.name);
        return out;
    }

    testpacks::TempDir dir;
    std::string tmp, src;
    ScriptedMessages messages;
    ScriptedList list;
    ScriptedProgress progress;
    ScriptedIcons icons;
    std::unique_ptr<CPackArchive> archive;

  private:
    bool hadTmp_ = false;
    std::string oldTmp_;
};

}  // namespace crateforge::test
