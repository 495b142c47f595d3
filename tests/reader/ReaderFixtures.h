// ReaderFixtures.h - sample packs shared by the reader tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "reader/PackReader.h"
#include "tests/support/TestPacks.h"

namespace readertest {

using pack::PackMethod;
using testpacks::Bytes;
using testpacks::File;
using testpacks::Folder;

// One expected entry: full name and decoded content.
struct Expected {
    std::string name;
    Bytes content;
    PackMethod method;
};

// A "2.10" tree with all three methods, nested folders, empty files,
// case-variant names and a full name longer than one name field:
//
//   readme.txt  (stored)        Data.bin (gzip)      old.lz (LZRW3-A)
//   empty.txt   (stored, 0)     empty.gz (gzip, 0)   Case.txt, CASE.TXT
//   A\a1 (gzip)   A\D\d1 (stored)   B\b1 (LZRW3-A)
//   <100 x 'p'>\<100 x 'q'>\<100 x 'r'>\<100 x 's'>.txt  (gzip)
inline Folder SampleTree() {
    Folder root;
    root.files = {
        File("readme.txt", testpacks::ToBytes("Read me first.\n")),
        File("Data.bin", testpacks::SampleBytes(5000, 2), PackMethod::Gzip),
        File("old.lz", testpacks::SampleBytes(3000, 3), PackMethod::Lzrw3a),
        File("empty.txt", {}),
        File("empty.gz", {}, PackMethod::Gzip),
        File("Case.txt", testpacks::ToBytes("lower index")),
        File("CASE.TXT", testpacks::ToBytes("higher index")),
    };
    Folder d("D", {File("d1", testpacks::SampleBytes(700, 4))});
    Folder a("A", {File("a1", testpacks::SampleBytes(1200, 5), PackMethod::Gzip)}, {d});
    Folder b("B", {File("b1", testpacks::SampleBytes(2500, 6), PackMethod::Lzrw3a)});
    Folder deep3(std::string(100, 'r'), {File(std::string(96, 's') + ".txt",
                                              testpacks::ToBytes("deep"), PackMethod::Gzip)});
    Folder deep2(std::string(100, 'q'), {}, {deep3});
    Folder deep1(std::string(100, 'p'), {}, {deep2});
    root.folders = {a, b, deep1};
    return root;
}

inline std::string DeepName() {
    return std::string(100, 'p') + "\\" + std::string(100, 'q') + "\\" + std::string(100, 'r') +
           "\\" + std::string(96, 's') + ".txt";
}

// SampleTree's entries in the reader's order.
inline std::vector<Expected> SampleEntries() {
    const Folder t = SampleTree();
    std::vector<Expected> out;
    for (const File& f : t.files)
        out.push_back({f.name, f.content, f.method});
    out.push_back({"A\\a1", t.folders[0].files[0].content, PackMethod::Gzip});
    out.push_back({"A\\D\\d1", t.folders[0].folders[0].files[0].content, PackMethod::Stored});
    out.push_back({"B\\b1", t.folders[1].files[0].content, PackMethod::Lzrw3a});
    out.push_back({DeepName(), testpacks::ToBytes("deep"), PackMethod::Gzip});
    return out;
}

// A "1.03" pack: LZRW3-A and stored entries, a 48-byte name, and one entry
// (code 23) that is left out.
inline std::vector<testpacks::OldEntry> SampleOldEntries() {
    return {
        testpacks::OldEntry("first.txt", testpacks::ToBytes("old stored"), 0x00, 0),
        testpacks::OldEntry("coded.bin", testpacks::SampleBytes(4000, 7), 0x11, 22),
        testpacks::OldEntry("skipped.txt", testpacks::ToBytes("not taken"), 0x00, 23),
        testpacks::OldEntry(std::string(48, 'n'), testpacks::SampleBytes(300, 8), 0x21, 5),
        testpacks::OldEntry("flags10.txt", testpacks::ToBytes("high nibble only"), 0x10, 0),
    };
}

// Test base: a private temp folder (also TMPDIR, which the reader must
// leave alone) and a reader.
class ReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        if (old)
            savedTmp_ = old;
        hadTmp_ = old != nullptr;
        setenv("TMPDIR", dir_.Path().c_str(), 1);
    }
    void TearDown() override {
        if (hadTmp_)
            setenv("TMPDIR", savedTmp_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    std::string Write(const std::string& name, const Bytes& bytes) {
        return dir_.Write(name, bytes);
    }
    // Opens `path` with `reader`; the path buffer must outlive nothing.
    static bool Open(PackReader& reader, std::string path) { return reader.OpenPack(path.data()); }
    static Bytes DataOf(PackReader& reader, unsigned long index) {
        unsigned char* p = reader.GetData(index);
        if (!p)
            return {};
        return Bytes(p, p + reader.GetFileSize(index));
    }

    testpacks::TempDir dir_;

  private:
    std::string savedTmp_;
    bool hadTmp_ = false;
};

// A mutable copy of a name, for the char* parameters.
inline std::vector<char> Name(const std::string& s) {
    std::vector<char> v(s.begin(), s.end());
    v.push_back('\0');
    return v;
}

}  // namespace readertest
