// Name lookups against the plain rule they must follow: scan the entries
// in index order and take the first whose full name equals the query with
// ASCII letters folded (A-Z to a-z) and every other byte compared exactly.
// The reader's table must give that answer for every query, on generated
// packs full of case variants, near-letters ('@' and '`', '[' and '{'),
// bytes above 0x7F that differ by 0x20 like letters do, and duplicates.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/reader/ReaderFixtures.h"

namespace {

using namespace readertest;

constexpr unsigned long kNone = static_cast<unsigned long>(-1);

// The rule, written out independently of the library.
bool SameIgnoringAsciiCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
        if (fold(static_cast<unsigned char>(a[i])) != fold(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

unsigned long LinearScan(const std::vector<std::string>& names, const std::string& query) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (SameIgnoringAsciiCase(names[i], query))
            return i;
    return kNone;
}

// A few bytes, so that names collide often: letters in both cases, the
// bytes next to them that a careless fold would merge, and Latin-1 letters
// (0xC4 'A umlaut' and 0xE4 'a umlaut' differ by 0x20 but must not fold).
const std::string kAlphabet =
    "aAbB@`[{\xC4\xE4"
    "1";

std::string RandomName(std::mt19937& rng, std::size_t maxLength) {
    const std::size_t length = 1 + rng() % maxLength;
    std::string name;
    for (std::size_t i = 0; i < length; ++i)
        name += kAlphabet[rng() % kAlphabet.size()];
    return name;
}

Folder RandomFolder(std::mt19937& rng, int depth) {
    Folder folder(RandomName(rng, 3));
    const std::size_t files = rng() % 12;
    for (std::size_t i = 0; i < files; ++i)
        folder.files.push_back(File(RandomName(rng, 3), testpacks::ToBytes(std::to_string(i))));
    if (depth > 0) {
        const std::size_t folders = rng() % 4;
        for (std::size_t i = 0; i < folders; ++i)
            folder.folders.push_back(RandomFolder(rng, depth - 1));
    }
    return folder;
}

// Queries derived from every stored name: itself, case flipped at random,
// each of its bytes changed in the ways a wrong fold would forgive, with a
// byte added or removed; plus names no entry has.
std::vector<std::string> Queries(const std::vector<std::string>& names, std::mt19937& rng) {
    std::vector<std::string> out = {"", "\\", "a\\", "\\a", "@", "A", "\xC4"};
    for (const std::string& name : names) {
        out.push_back(name);
        std::string flipped = name;
        for (char& c : flipped)
            if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && rng() % 2)
                c = static_cast<char>(c ^ 0x20);
        out.push_back(flipped);
        for (std::size_t i = 0; i < name.size(); ++i) {
            std::string other = name;
            other[i] = static_cast<char>(other[i] ^ 0x20);  // A/a, but also @/` and 0xC4/0xE4
            out.push_back(other);
            if (name[i] == '\\') {
                other[i] = '/';
                out.push_back(other);
            }
        }
        out.push_back(name + "a");
        out.push_back(name.substr(1));
        out.push_back(name.substr(0, name.size() - 1));
    }
    return out;
}

class LookupTest : public ReaderTest {
  protected:
    // Opens `bytes` and checks GetIndex against the scan for every query,
    // and GetName/GetIndex agreement for every index.
    void CheckAgainstScan(const Bytes& bytes, std::mt19937& rng) {
        PackReader reader;
        ASSERT_TRUE(Open(reader, Write("lookup.pack", bytes)));
        std::vector<std::string> names;
        for (unsigned long i = 0; i < reader.GetNumFiles(); ++i)
            names.push_back(reader.GetName(i));
        std::size_t found = 0;
        for (const std::string& query : Queries(names, rng)) {
            const unsigned long expected = LinearScan(names, query);
            found += expected != kNone;
            ASSERT_EQ(reader.GetIndex(Name(query).data()), expected) << "query \"" << query << "\"";
        }
        // Every index: its own name finds it, or the earlier entry whose
        // name matches it.
        for (unsigned long i = 0; i < names.size(); ++i) {
            const unsigned long first = reader.GetIndex(Name(names[i]).data());
            ASSERT_LE(first, i);
            EXPECT_TRUE(SameIgnoringAsciiCase(names[first], names[i]));
            EXPECT_EQ(first, LinearScan(names, names[i]));
        }
        EXPECT_GE(found, names.size());  // the queries did hit entries
    }
};

TEST_F(LookupTest, GeneratedTreePacksAnswerAsTheScan) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        Folder root = RandomFolder(rng, 3);
        const Bytes bytes = testpacks::BuildPack(root);
        CheckAgainstScan(bytes, rng);
    }
}

TEST_F(LookupTest, OldPacksWithDuplicateNamesFindTheFirst) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(100 + seed);
        std::vector<testpacks::OldEntry> entries;
        const std::size_t count = 20 + rng() % 200;
        for (std::size_t i = 0; i < count; ++i) {
            // Two-byte names from the small alphabet: exact duplicates and
            // case variants are certain; some entries are left out by code.
            const std::uint8_t code = rng() % 10 == 0 ? 23 : 0;
            entries.push_back(testpacks::OldEntry(
                RandomName(rng, 2), testpacks::ToBytes(std::to_string(i)), 0x00, code));
        }
        CheckAgainstScan(testpacks::BuildOldPack(entries), rng);
    }
}

TEST_F(LookupTest, DuplicatesAndNearLettersInOneFolder) {
    // Hand-picked rows: the expected answer of each query, by the scan's rule.
    Folder root;
    root.files = {
        File("Readme", testpacks::ToBytes("0")),   File("README", testpacks::ToBytes("1")),
        File("@x", testpacks::ToBytes("2")),       File("`x", testpacks::ToBytes("3")),
        File("[y", testpacks::ToBytes("4")),       File("{y", testpacks::ToBytes("5")),
        File("\xC4pfel", testpacks::ToBytes("6")), File("\xE4pfel", testpacks::ToBytes("7")),
        File("readme", testpacks::ToBytes("8")),   File("\xC4PFEL", testpacks::ToBytes("9")),
    };
    root.folders = {Folder("Dir", {File("readme", testpacks::ToBytes("10"))}),
                    Folder("dir", {File("README", testpacks::ToBytes("11"))})};
    PackReader reader;
    ASSERT_TRUE(Open(reader, Write("picked.vpf", testpacks::BuildPack(root))));
    const std::pair<const char*, unsigned long> rows[] = {
        {"readme", 0},       {"rEaDmE", 0},
        {"@x", 2},           {"`x", 3},
        {"@X", 2},           {"`X", 3},
        {"[y", 4},           {"{Y", 5},
        {"\xC4pfel", 6},     {"\xE4PFEL", 7},
        {"\xC4PfEl", 6},     {"DIR\\README", 10},
        {"dir\\readme", 10}, {"dir/readme", kNone},
        {"Dir", kNone},      {"readme\\", kNone},
    };
    for (const auto& [query, expected] : rows)
        EXPECT_EQ(reader.GetIndex(Name(query).data()), expected) << query;
    // Same-named data comes from the entry found.
    EXPECT_EQ(DataOf(reader, reader.GetIndex(Name("DIR\\readme").data())),
              testpacks::ToBytes("10"));
}

TEST_F(LookupTest, LargePackEveryNameAndItsUpperCase) {
    // Enough entries for the table to grow many times; names share long
    // prefixes and differ at the end, like an asset tree's.
    Folder root;
    std::vector<std::string> expected;
    for (int f = 0; f < 40; ++f) {
        Folder folder("textures_" + std::to_string(f));
        for (int i = 0; i < 150; ++i) {
            folder.files.push_back(File("tile_" + std::to_string(i) + ".png", {}));
            expected.push_back(folder.name + "\\" + folder.files.back().name);
        }
        root.folders.push_back(std::move(folder));
    }
    PackReader reader;
    ASSERT_TRUE(Open(reader, Write("large.vpf", testpacks::BuildPack(root))));
    ASSERT_EQ(reader.GetNumFiles(), expected.size());
    for (unsigned long i = 0; i < expected.size(); ++i) {
        std::string upper = expected[i];
        for (char& c : upper)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 32);
        ASSERT_EQ(reader.GetIndex(Name(expected[i]).data()), i);
        ASSERT_EQ(reader.GetIndex(Name(upper).data()), i);
        ASSERT_EQ(reader.GetIndex(Name(expected[i] + "x").data()), kNone);
    }
}

}  // namespace
