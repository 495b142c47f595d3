// DamagedPacks.h - one corpus of damaged and hostile packs, with the verdict
// every parser of the system must give on each.
//
// Made from small sound packs of both versions: every truncation; every
// header and record field set to 0, the maximum and off-by-one values;
// unterminated, odd ("..", "/abs", "maps\\x.map") and unpadded names;
// absurd counts; self-referring, deep and wide folder blocks; full names
// around the 4,095-byte limit; shared and misplaced data; offset tables
// naming one record many times. Readers refuse only what cannot be read
// safely; what is merely odd is theirs to take and the strict check's to
// report. Each case carries:
//
//   directory  what every reader of the directory answers: the format's
//              walker, the reader library's OpenPack, the desktop program's
//              Load ("2.10") and its conversion's structure walk ("1.03");
//   content    for accepted packs, whether every entry decodes to the sound
//              pack's names and bytes (Intact), at least one entry fails to
//              decode (Damaged), or the result is not predicted (Unchecked:
//              an entry header read from shifted bytes);
//   strict     what the strict check (vpf check) answers, structure and
//              decoding together; where it refuses a pack that the lenient
//              readers accept, `strictWhy` names the rule, by design;
//   entries    for Intact cases, the full names ("/" between folders) and
//              bytes in directory order.
//
// Verdicts for fields whose effect depends on the bytes they point at (a data
// offset moved by one, an old entry record shifted) come from small oracles
// below that model only the bounds and overlap rules, independently of the
// walker under test. Header-only; links against cf_format and cf_codec.
#pragma once

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "format/PackFormat.h"
#include "tests/support/TestPacks.h"

namespace damaged {

using pack::PackMethod;
using testpacks::Bytes;
using testpacks::File;
using testpacks::Folder;

// Unchecked is used only for `strict`, where the outcome hangs on entry
// bytes that no oracle here models.
enum class Verdict { Accept, Refuse, Unchecked };
enum class Content { Intact, Damaged, Unchecked };

struct Entry {
    std::string name;  // full name, "/" between folders
    Bytes bytes;
    // The reader library's name ("\\" between folders), when the stored
    // names hold a "/" of their own; else `name` with "/" made "\\".
    std::string readerName = {};
};

inline std::string ReaderName(const Entry& e) {
    if (!e.readerName.empty())
        return e.readerName;
    std::string name = e.name;
    for (char& c : name)
        if (c == '/')
            c = '\\';
    return name;
}

struct Case {
    std::string what;
    Bytes bytes;
    pack::PackVersion version = pack::PackVersion::Current;
    Verdict directory = Verdict::Refuse;
    Content content = Content::Unchecked;  // meaningful when accepted
    Verdict strict = Verdict::Refuse;
    std::string strictWhy;       // the strict-only rule, when strict refuses an accepted pack
    std::vector<Entry> entries;  // Intact cases
};

// ---- The sound packs ---------------------------------------------------------

// All three methods and two folder levels.
inline Folder SmallTree() {
    Folder root;
    root.files = {File("a.txt", testpacks::ToBytes("alpha alpha alpha")),
                  File("b.gz", testpacks::SampleBytes(300, 11), PackMethod::Gzip)};
    Folder g("G", {File("d", testpacks::ToBytes("delta"))});
    root.folders = {
        Folder("F", {File("c.lz", testpacks::SampleBytes(200, 12), PackMethod::Lzrw3a)}, {g})};
    return root;
}

inline std::vector<Entry> SmallTreeEntries() {
    const Folder t = SmallTree();
    return {{"a.txt", t.files[0].content},
            {"b.gz", t.files[1].content},
            {"F/c.lz", t.folders[0].files[0].content},
            {"F/G/d", t.folders[0].folders[0].files[0].content}};
}

inline std::vector<testpacks::OldEntry> SmallOld() {
    return {testpacks::OldEntry("one", testpacks::ToBytes("first entry"), 0x00, 0),
            testpacks::OldEntry("two", testpacks::SampleBytes(400, 13), 0x01, 1),
            testpacks::OldEntry("gone", testpacks::ToBytes("skipped"), 0x00, 23),
            testpacks::OldEntry("three", testpacks::ToBytes("last one"), 0x00, 2)};
}

// Entries of SmallOld that are taken over, in table order; `taken` says
// which of the four are (the third is skipped by its code).
inline std::vector<Entry> SmallOldEntries(std::vector<bool> taken = {true, true, false, true}) {
    const auto e = SmallOld();
    std::vector<Entry> out;
    for (std::size_t i = 0; i < e.size(); ++i)
        if (taken[i])
            out.push_back({e[i].name, e[i].content});
    return out;
}

// ---- Oracles -----------------------------------------------------------------

struct Span {
    std::uint64_t begin, end;
};

inline bool Disjoint(std::vector<Span> spans) {
    std::sort(spans.begin(), spans.end(), [](Span a, Span b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (spans[i].begin < spans[i - 1].end)
            return false;
    return true;
}

// Whether the data blocks named by the file records at `recordOffsets` lie
// inside the file (the directory itself being otherwise sound). Readers take
// blocks anywhere in the file, sharing bytes or not.
inline bool DataInsideFile(const Bytes& b, const std::vector<std::size_t>& recordOffsets) {
    for (std::size_t at : recordOffsets) {
        const std::uint64_t block = testpacks::PeekU32(b, at + pack::kNameFieldSize);
        if (block + pack::kDataBlockHeaderSize > b.size())
            return false;
        const std::uint64_t packed = testpacks::PeekU32(b, block + 4);
        if (block + pack::kDataBlockHeaderSize + packed > b.size())
            return false;
    }
    return true;
}

// Whether the data blocks also lie after `directoryEnd` and apart, as the
// strict check demands.
inline bool DataRegionSound(const Bytes& b, const std::vector<std::size_t>& recordOffsets,
                            std::uint64_t directoryEnd) {
    if (!DataInsideFile(b, recordOffsets))
        return false;
    std::vector<Span> spans;
    for (std::size_t at : recordOffsets) {
        const std::uint64_t block = testpacks::PeekU32(b, at + pack::kNameFieldSize);
        if (block < directoryEnd)
            return false;
        spans.push_back({block, block + pack::kDataBlockHeaderSize + testpacks::PeekU32(b, block + 4)});
    }
    return Disjoint(spans);
}

// The directory verdict of a "1.03" pack whose header is sound, from the
// rules alone: table inside the file, every record inside it, the stored
// bytes of taken entries inside it, and all they claim no more than the
// file holds. Names, and records or bytes shared with the table or with each
// other, are for the strict check.
inline bool OldDirectorySound(const Bytes& b) {
    const std::uint64_t count = testpacks::PeekU32(b, 8);
    const std::uint64_t tableEnd = pack::kOldPackHeaderSize + 4 * count;
    if (tableEnd > b.size())
        return false;
    std::uint64_t claimed = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t at = testpacks::PeekU32(b, pack::kOldPackHeaderSize + 4 * i);
        if (at + pack::kOldEntryRecordSize > b.size())
            return false;
        if (b[at + 57] >= pack::kOldFirstSkippedEntryCode)
            continue;
        const std::uint64_t packed = testpacks::PeekU32(b, at + 48);
        if (at + pack::kOldEntryRecordSize + packed > b.size())
            return false;
        claimed += pack::kOldEntryRecordSize + packed;
    }
    return claimed <= b.size();
}

// ---- Building the corpus -------------------------------------------------------

// The values a u32 field is set to, given its sound value and the file size.
inline std::vector<std::uint32_t> Mutations(std::uint32_t sound, std::size_t fileSize) {
    std::set<std::uint32_t> values = {0u,
                                      1u,
                                      0xFFFFFFFFu,
                                      0x7FFFFFFFu,
                                      0x80000000u,
                                      sound - 1,
                                      sound + 1,
                                      static_cast<std::uint32_t>(fileSize),
                                      static_cast<std::uint32_t>(fileSize - 1)};
    values.erase(sound);
    return {values.begin(), values.end()};
}

inline Case Refused(std::string what, Bytes bytes, pack::PackVersion version) {
    Case c;
    c.what = std::move(what);
    c.bytes = std::move(bytes);
    c.version = version;
    return c;
}

inline Case Intact(std::string what, Bytes bytes, pack::PackVersion version,
                   std::vector<Entry> entries, std::string strictWhy = {}) {
    Case c;
    c.what = std::move(what);
    c.bytes = std::move(bytes);
    c.version = version;
    c.directory = Verdict::Accept;
    c.content = Content::Intact;
    c.entries = std::move(entries);
    c.strict = strictWhy.empty() ? Verdict::Accept : Verdict::Refuse;
    c.strictWhy = std::move(strictWhy);
    return c;
}

// Accepted by the directory readers; an entry does not decode, so the
// strict check refuses it (by `strictWhy` when a strict-only structure rule
// already does).
inline Case EntryDamage(std::string what, Bytes bytes, pack::PackVersion version,
                        std::string strictWhy = {}) {
    Case c;
    c.what = std::move(what);
    c.bytes = std::move(bytes);
    c.version = version;
    c.directory = Verdict::Accept;
    c.content = Content::Damaged;
    c.strict = Verdict::Refuse;
    c.strictWhy = strictWhy.empty() ? "an entry does not decode" : std::move(strictWhy);
    return c;
}

// Raw "2.10" directories written block by block: `names[k]` are the folder
// records of block k (their blockOffset all `blockOffset`).
inline Bytes RawTree(const std::vector<pack::FolderBlockHeader>& blocks,
                     const std::vector<std::vector<std::string>>& names, std::uint32_t fileCount,
                     std::uint32_t blockOffset) {
    Bytes out(pack::kPackHeaderSize);
    pack::Write(out, 0, pack::MakePackHeader(fileCount));
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        const std::size_t at = out.size();
        out.resize(at + pack::FolderBlockSize(blocks[k].folderCount, blocks[k].fileCount));
        pack::Write(out, at, blocks[k]);
        std::size_t r = at + pack::kFolderBlockHeaderSize;
        for (const std::string& n : names[k]) {
            std::memcpy(out.data() + r, n.data(), n.size());
            testpacks::PatchU32(out, r + pack::kNameFieldSize, blockOffset);
            r += pack::kFolderRecordSize;
        }
    }
    return out;
}

// A chain of `levels` folders named `name` below the root, with `bottom`
// files in the deepest one.
inline Folder Chain(std::size_t levels, const std::string& name, std::vector<File> bottom) {
    Folder leaf(name, std::move(bottom));
    for (std::size_t i = 1; i < levels; ++i)
        leaf = Folder(name, {}, {std::move(leaf)});
    Folder root;
    root.folders.push_back(std::move(leaf));
    return root;
}

inline void AddTreeFieldCases(std::vector<Case>& out) {
    using pack::PackVersion;
    testpacks::PackLayout layout;
    const Bytes sound = testpacks::BuildPack(SmallTree(), &layout);
    const auto current = PackVersion::Current;
    auto each = [&](std::size_t at, auto&& make) {
        for (std::uint32_t value : Mutations(testpacks::PeekU32(sound, at), sound.size())) {
            Bytes b = sound;
            testpacks::PatchU32(b, at, value);
            make(std::to_string(value), std::move(b), value);
        }
    };
    each(16, [&](const std::string& v, Bytes b, std::uint32_t) {
        out.push_back(Refused("header fileCount = " + v, std::move(b), current));
    });
    each(8, [&](const std::string& v, Bytes b, std::uint32_t) {
        out.push_back(Intact("header reserved = " + v, std::move(b), current, SmallTreeEntries(),
                             "reserved header bytes are not zero"));
    });
    for (std::size_t k = 0; k < layout.blockOffsets.size(); ++k) {
        const std::size_t at = layout.blockOffsets[k];
        const std::string block = "block " + std::to_string(k);
        each(at, [&](const std::string& v, Bytes b, std::uint32_t) {
            out.push_back(Intact(block + " subtreeSize = " + v, std::move(b), current,
                                 SmallTreeEntries(), "a subtreeSize that is not the subtree's"));
        });
        each(at + 4, [&](const std::string& v, Bytes b, std::uint32_t) {
            out.push_back(Refused(block + " folderCount = " + v, std::move(b), current));
        });
        each(at + 8, [&](const std::string& v, Bytes b, std::uint32_t) {
            out.push_back(Refused(block + " fileCount = " + v, std::move(b), current));
        });
    }
    for (std::size_t at : layout.folderRecordOffsets)
        each(at + pack::kNameFieldSize, [&](const std::string& v, Bytes b, std::uint32_t) {
            out.push_back(Intact("blockOffset at " + std::to_string(at) + " = " + v, std::move(b),
                                 current, SmallTreeEntries(),
                                 "a blockOffset that is not where the block starts"));
        });
    const std::vector<PackMethod> methods = {PackMethod::Stored, PackMethod::Gzip,
                                             PackMethod::Lzrw3a, PackMethod::Stored};
    for (std::size_t k = 0; k < layout.fileRecordOffsets.size(); ++k) {
        const std::string file = "file " + std::to_string(k);
        each(layout.fileRecordOffsets[k] + pack::kNameFieldSize,
             [&](const std::string& v, Bytes b, std::uint32_t) {
                 const std::string what = file + " dataOffset = " + v;
                 if (!DataInsideFile(b, layout.fileRecordOffsets)) {
                     out.push_back(Refused(what, std::move(b), current));
                     return;
                 }
                 Case c = EntryDamage(what, std::move(b), current,
                                      "a dataOffset that is not where its data block starts");
                 c.content = Content::Unchecked;
                 out.push_back(std::move(c));
             });
        // Sizes change the extent of the block: the oracle decides whether
        // the directory stands; the entry cannot decode either way.
        each(layout.dataOffsets[k], [&](const std::string& v, Bytes b, std::uint32_t) {
            out.push_back(EntryDamage(
                file + " originalSize = " + v, std::move(b), current,
                methods[k] == PackMethod::Stored ? "a stored file whose two sizes differ" : ""));
        });
        each(layout.dataOffsets[k] + 4, [&](const std::string& v, Bytes b, std::uint32_t) {
            const std::string what = file + " packedSize = " + v;
            if (!DataInsideFile(b, layout.fileRecordOffsets))
                out.push_back(Refused(what, std::move(b), current));
            else
                out.push_back(EntryDamage(what, std::move(b), current,
                                          "a data region with a gap or overlap"));
        });
        for (std::uint8_t method : {0, 1, 2, 3, 0x80, 0xFF}) {
            if (method == static_cast<std::uint8_t>(methods[k]))
                continue;
            Bytes b = sound;
            b[layout.dataOffsets[k] + 8] = method;
            const std::string what = file + " method " + std::to_string(method);
            // Stored text read as gzip is copied as it is (no gzip magic):
            // the entry still decodes to its bytes.
            if (methods[k] == PackMethod::Stored && method == 2)
                out.push_back(Intact(what, std::move(b), current, SmallTreeEntries()));
            else
                out.push_back(EntryDamage(what, std::move(b), current,
                                          method > 2 ? "an unknown method" : ""));
        }
    }
}

inline void AddTreeNameCases(std::vector<Case>& out) {
    const auto current = pack::PackVersion::Current;
    testpacks::PackLayout layout;
    const Bytes sound = testpacks::BuildPack(SmallTree(), &layout);
    std::vector<std::size_t> records = layout.folderRecordOffsets;
    records.insert(records.end(), layout.fileRecordOffsets.begin(), layout.fileRecordOffsets.end());
    // The record at `at` names which entry (or folder) of SmallTree.
    auto renamed = [&](std::size_t at, const std::string& name) {
        std::vector<Entry> e = SmallTreeEntries();
        for (Entry& entry : e)
            entry.readerName = ReaderName(entry);
        if (at == layout.folderRecordOffsets[0]) {  // F
            e[2].name = name + "/c.lz";
            e[2].readerName = name + "\\c.lz";
            e[3].name = name + "/G/d";
            e[3].readerName = name + "\\G\\d";
        } else if (at == layout.folderRecordOffsets[1]) {  // G
            e[3].name = "F/" + name + "/d";
            e[3].readerName = "F\\" + name + "\\d";
        } else {
            for (std::size_t k = 0; k < layout.fileRecordOffsets.size(); ++k)
                if (layout.fileRecordOffsets[k] == at) {
                    const std::size_t slash = e[k].name.rfind('/');
                    const std::string folder =
                        slash == std::string::npos ? "" : e[k].name.substr(0, slash + 1);
                    e[k].name = folder + name;
                    e[k].readerName = ReaderName({folder, {}}) + name;
                }
        }
        return e;
    };
    for (std::size_t at : records) {
        const std::string where = " at " + std::to_string(at);
        auto named = [&](const std::string& name) {
            Bytes b = sound;
            std::memset(b.data() + at, 0, pack::kNameFieldSize);
            std::memcpy(b.data() + at, name.data(), name.size());
            return b;
        };
        Bytes unterminated = sound;
        std::memset(unterminated.data() + at, 'n', pack::kNameFieldSize);
        out.push_back(Refused("unterminated name" + where, unterminated, current));
        // A name's bytes are its identity: readers take names no disk path
        // can hold, and only the strict check (and extraction) refuse them.
        for (const std::string name : {"", ".", "..", "a/../../x", "..\\..\\x", "/abs"}) {
            std::string label;
            for (char c : name)
                label += c == '\\' ? std::string("\\\\") : std::string(1, c);
            out.push_back(Intact((name.empty() ? "empty name" : "name \"" + label + "\"") + where,
                                 named(name), current, renamed(at, name),
                                 "a name that cannot be written to disk"));
        }
        // An old pack's kind of name, as conversion keeps it: fine everywhere.
        out.push_back(Intact("name \"maps\\\\x.map\"" + where, named("maps\\x.map"), current,
                             renamed(at, "maps\\x.map")));
        Bytes garbage = named("ok");
        garbage[at + 100] = 'x';
        out.push_back(Intact("bytes after the terminator" + where, garbage, current,
                             renamed(at, "ok"), "a name field with bytes after its terminator"));
        const std::string longest(pack::kMaxNameLength, 'n');
        out.push_back(
            Intact("259-byte name" + where, named(longest), current, renamed(at, longest)));
    }
    // Two files whose names differ only by case in one folder: every reader
    // takes both (the first wins lookups); a correct writer never makes them.
    Folder dup;
    dup.files = {File("Same.txt", testpacks::ToBytes("first")),
                 File("same.TXT", testpacks::ToBytes("second"))};
    out.push_back(Intact(
        "names equal but for case", testpacks::BuildPack(dup), current,
        {{"Same.txt", testpacks::ToBytes("first")}, {"same.TXT", testpacks::ToBytes("second")}},
        "two names of one folder equal but for case"));
}

inline void AddTreeShapeCases(std::vector<Case>& out) {
    const auto current = pack::PackVersion::Current;
    // Truncations.
    const Bytes sound = testpacks::BuildPack(SmallTree());
    for (std::size_t length = 0; length < sound.size(); ++length)
        out.push_back(Refused("2.10 cut at " + std::to_string(length),
                              Bytes(sound.begin(), sound.begin() + length), current));
    // Absurd counts.
    Bytes wideRoot = sound;
    testpacks::PatchU32(wideRoot, pack::kRootBlockOffset + 4, 0xFFFFFFFF);
    out.push_back(Refused("root folderCount max", wideRoot, current));
    Bytes manyFiles = sound;
    testpacks::PatchU32(manyFiles, pack::kRootBlockOffset + 8, 0x00FFFFFF);
    out.push_back(Refused("root fileCount 0xFFFFFF", manyFiles, current));
    // Every folder record pointing back at the root block: readers never
    // follow blockOffset, so this cannot loop.
    {
        testpacks::PackLayout layout;
        Bytes b = testpacks::BuildPack(SmallTree(), &layout);
        for (std::size_t at : layout.folderRecordOffsets)
            testpacks::PatchU32(b, at + pack::kNameFieldSize, pack::kRootBlockOffset);
        out.push_back(Intact("blockOffsets to the root", b, current, SmallTreeEntries(),
                             "a blockOffset that is not where the block starts"));
    }
    // A folder naming itself as its only subfolder until the file ends.
    for (std::size_t depth : {1u, 2u, 1000u}) {
        std::vector<pack::FolderBlockHeader> blocks(depth, pack::FolderBlockHeader{0, 1, 0});
        std::vector<std::vector<std::string>> names(depth, {"loop"});
        out.push_back(Refused("self chain of " + std::to_string(depth),
                              RawTree(blocks, names, 0, pack::kRootBlockOffset), current));
    }
    // Depth: 512 levels below the root is the deepest a writer makes.
    for (std::size_t levels : {512u, 513u, 1000u}) {
        std::vector<pack::FolderBlockHeader> blocks(levels + 1, pack::FolderBlockHeader{0, 1, 0});
        blocks.back().folderCount = 0;
        std::vector<std::vector<std::string>> names(levels + 1, {"d"});
        names.back().clear();
        Bytes b = RawTree(blocks, names, 0, 0);
        const std::string what = std::to_string(levels) + " levels of empty folders";
        if (levels <= pack::kMaxFolderDepth)
            out.push_back(Intact(what, b, current, {}, "a subtreeSize that is not the subtree's"));
        else
            out.push_back(Refused(what, b, current));
    }
    // 5000 empty folders side by side.
    {
        std::vector<pack::FolderBlockHeader> wide(5001, pack::FolderBlockHeader{12, 0, 0});
        wide[0].folderCount = 5000;
        std::vector<std::vector<std::string>> names(5001);
        for (int i = 0; i < 5000; ++i)
            names[0].push_back("f" + std::to_string(i));
        out.push_back(Intact("5000 empty folders", RawTree(wide, names, 0, 0), current, {},
                             "a subtreeSize that is not the subtree's"));
    }
    // Long full names a writer makes: 10 folders with 250-byte names and 200
    // files at the bottom, and 512 levels with a file at the bottom.
    {
        std::vector<File> files;
        std::vector<Entry> entries;
        const std::string folder(250, 'f');
        std::string path;
        for (int i = 0; i < 10; ++i)
            path += folder + "/";
        for (int i = 0; i < 200; ++i) {
            const std::string name = std::string(240, 'x') + std::to_string(1000 + i);
            files.emplace_back(name, testpacks::ToBytes("file " + std::to_string(i)));
            entries.push_back({path + name, files.back().content});
        }
        out.push_back(Intact("10 folders of 250-byte names, 200 files",
                             testpacks::BuildPack(Chain(10, folder, files)), current, entries));
        std::string deep;
        for (int i = 0; i < 512; ++i)
            deep += "d/";
        out.push_back(Intact("a file 512 levels down",
                             testpacks::BuildPack(Chain(512, "d", {File("x", {1, 2, 3})})), current,
                             {{deep + "x", {1, 2, 3}}}));
    }
    // Full names of 4,095 bytes are the longest: 16 folders of 250-byte names
    // (4,015 bytes) and a file of 79; one byte more, in a file's name or in a
    // folder's (empty or not), is refused. So are 512 levels of 8-byte names.
    {
        const std::string folder(250, 'f');
        std::string path;
        for (int i = 0; i < 16; ++i)
            path += folder + "/";
        for (std::size_t n : {79u, 80u}) {
            const std::string name(n, 'x');
            const std::string what = "full name of " + std::to_string(4016 + n) + " bytes";
            const Bytes b = testpacks::BuildPack(Chain(16, folder, {File(name, {7})}));
            if (n == 79)
                out.push_back(Intact("a file's " + what, b, current, {{path + name, {7}}}));
            else
                out.push_back(Refused("a file's " + what, b, current));
            Folder top = Chain(16, folder, {});
            Folder* bottom = &top.folders[0];
            while (!bottom->folders.empty())
                bottom = &bottom->folders[0];
            bottom->folders.push_back(Folder(name));
            const Bytes empty = testpacks::BuildPack(top);
            if (n == 79)
                out.push_back(Intact("an empty folder's " + what, empty, current, {}));
            else
                out.push_back(Refused("an empty folder's " + what, empty, current));
        }
        for (std::size_t n : {7u, 8u}) {
            const std::string name(n, 'd');
            std::string deep;
            for (int i = 0; i < 512; ++i)
                deep += name + "/";
            const Bytes b = testpacks::BuildPack(Chain(512, name, {}));
            const std::string what = "512 levels of " + std::to_string(n) + "-byte names";
            if (n == 7)
                out.push_back(Intact(what, b, current, {}));
            else
                out.push_back(Refused(what, b, current));
        }
    }
    // Data blocks pointing at another block, the root block, the directory.
    {
        testpacks::PackLayout layout;
        const Bytes base = testpacks::BuildPack(SmallTree(), &layout);
        const std::size_t at = layout.fileRecordOffsets[1] + pack::kNameFieldSize;
        for (std::size_t target :
             {layout.dataOffsets[0], layout.blockOffsets[0], layout.directoryEnd - 9}) {
            Bytes b = base;
            testpacks::PatchU32(b, at, static_cast<std::uint32_t>(target));
            const std::string what = "data of b.gz at " + std::to_string(target);
            if (!DataInsideFile(b, layout.fileRecordOffsets)) {
                out.push_back(Refused(what, b, current));
            } else if (target == layout.dataOffsets[0]) {
                // Sharing a.txt's block, b.gz is a.txt's bytes.
                std::vector<Entry> entries = SmallTreeEntries();
                entries[1].bytes = entries[0].bytes;
                out.push_back(Intact(what, b, current, entries, "data blocks that share bytes"));
            } else {
                out.push_back(EntryDamage(what, b, current, "a data block inside the directory"));
            }
        }
        // Bytes after the last block, and a gap between two blocks.
        Bytes tail = base;
        tail.push_back(0);
        out.push_back(Intact("a byte after the last data block", tail, current, SmallTreeEntries(),
                             "bytes after the last data block"));
    }
    {
        // The last file's block moved one byte later, leaving a gap.
        testpacks::PackLayout layout;
        Bytes b = testpacks::BuildPack(SmallTree(), &layout);
        const std::size_t last = layout.dataOffsets.back();
        b.insert(b.begin() + static_cast<std::ptrdiff_t>(last), 0);
        testpacks::PatchU32(b, layout.fileRecordOffsets.back() + pack::kNameFieldSize,
                            static_cast<std::uint32_t>(last + 1));
        out.push_back(Intact("a gap before the last data block", b, current, SmallTreeEntries(),
                             "a dataOffset that is not where its data block starts"));
    }
    // An empty pack.
    out.push_back(Intact("the 32-byte empty pack", testpacks::BuildPack(Folder()), current, {}));
}

inline void AddOldCases(std::vector<Case>& out) {
    const auto old = pack::PackVersion::Old;
    testpacks::OldPackLayout layout;
    const Bytes sound = testpacks::BuildOldPack(SmallOld(), &layout);
    out.push_back(Intact("the sound 1.03 pack", sound, old, SmallOldEntries()));
    for (std::size_t length = 0; length < sound.size(); ++length)
        out.push_back(Refused("1.03 cut at " + std::to_string(length),
                              Bytes(sound.begin(), sound.begin() + length), old));
    auto each = [&](std::size_t at, auto&& make) {
        for (std::uint32_t value : Mutations(testpacks::PeekU32(sound, at), sound.size())) {
            Bytes b = sound;
            testpacks::PatchU32(b, at, value);
            make(std::to_string(value), std::move(b), value);
        }
    };
    each(8, [&](const std::string& v, Bytes b, std::uint32_t value) {
        const std::string what = "1.03 fileCount = " + v;
        if (value > 4) {
            out.push_back(Refused(what, std::move(b), old));
            return;
        }
        std::vector<bool> taken = {true, true, false, true};
        for (std::size_t i = value; i < taken.size(); ++i)
            taken[i] = false;
        out.push_back(Intact(what, std::move(b), old, SmallOldEntries(taken)));
    });
    const auto entries = SmallOld();
    for (std::size_t k = 0; k < layout.entryOffsets.size(); ++k) {
        const std::string entry = "1.03 entry " + std::to_string(k);
        const std::size_t at = layout.entryOffsets[k];
        const bool skipped = entries[k].entryCode >= pack::kOldFirstSkippedEntryCode;
        const bool lzrw = entries[k].flags == 1;
        each(pack::kOldPackHeaderSize + 4 * k, [&](const std::string& v, Bytes b, std::uint32_t) {
            const std::string what = entry + " offset = " + v;
            if (!OldDirectorySound(b)) {
                out.push_back(Refused(what, std::move(b), old));
                return;
            }
            Case c = EntryDamage(what, std::move(b), old);
            c.content = Content::Unchecked;
            c.strict = Verdict::Unchecked;
            c.strictWhy.clear();
            out.push_back(std::move(c));
        });
        // A skipped entry's fields are never read.
        auto fieldCase = [&](const std::string& what, Bytes b, bool decodes) {
            if (!OldDirectorySound(b))
                out.push_back(Refused(what, std::move(b), old));
            else if (skipped || decodes)
                out.push_back(Intact(what, std::move(b), old, SmallOldEntries()));
            else
                out.push_back(EntryDamage(what, std::move(b), old));
        };
        each(at + 48, [&](const std::string& v, Bytes b, std::uint32_t) {
            fieldCase(entry + " packedSize = " + v, std::move(b), false);
        });
        each(at + 52, [&](const std::string& v, Bytes b, std::uint32_t) {
            fieldCase(entry + " originalSize = " + v, std::move(b), false);
        });
        for (std::uint8_t flags : {0x00, 0x01, 0x02, 0x11, 0xF0, 0xFF}) {
            if (flags == entries[k].flags)
                continue;
            Bytes b = sound;
            b[at + 56] = flags;
            const bool nowLzrw = (flags & 0x0F) == 1;
            fieldCase(entry + " flags " + std::to_string(flags), std::move(b), nowLzrw == lzrw);
        }
        for (std::uint8_t code : {0, 22, 23, 255}) {
            if (code == entries[k].entryCode)
                continue;
            Bytes b = sound;
            b[at + 57] = code;
            std::vector<bool> taken = {true, true, false, true};
            taken[k] = code < pack::kOldFirstSkippedEntryCode;
            out.push_back(Intact(entry + " code " + std::to_string(code), std::move(b), old,
                                 SmallOldEntries(taken)));
        }
        Bytes fullName = sound;
        std::memset(fullName.data() + at, 'm', pack::kOldNameFieldSize);
        std::vector<Entry> renamed = SmallOldEntries();
        if (!skipped)
            renamed[k < 2 ? k : k - 1].name = std::string(pack::kOldNameFieldSize, 'm');
        out.push_back(Intact(entry + " 48-byte name", fullName, old, renamed));
        // Old names are whole paths ("maps\\x.map"); readers take any.
        for (const std::string odd : {"", ".", "..", "a/b", "a\\b"}) {
            Bytes b = sound;
            std::memset(b.data() + at, 0, pack::kOldNameFieldSize);
            std::memcpy(b.data() + at, odd.data(), odd.size());
            const std::string what = entry + " name \"" + odd + "\"";
            std::vector<Entry> entries = SmallOldEntries();
            if (!skipped)
                entries[k < 2 ? k : k - 1] = {odd, entries[k < 2 ? k : k - 1].bytes, odd};
            const bool writable = odd.size() > 2;
            out.push_back(Intact(what, std::move(b), old, entries,
                                 skipped || writable ? "" : "a name that cannot be written to disk"));
        }
    }
    // Offsets that point into the header, the table or another entry.
    // Readers take a record wherever it lies; the strict check does not.
    for (std::uint32_t target :
         {0u, 4u, 8u, 12u, static_cast<std::uint32_t>(layout.entryOffsets[0])}) {
        Bytes b = sound;
        testpacks::PatchU32(b, pack::kOldPackHeaderSize + 4 * 3, target);
        const std::string what = "1.03 last entry offset -> " + std::to_string(target);
        if (!OldDirectorySound(b)) {
            out.push_back(Refused(what, b, old));
        } else if (target == layout.entryOffsets[0]) {
            std::vector<Entry> entries = SmallOldEntries();
            entries.back() = entries.front();  // the first entry, twice
            out.push_back(Intact(what, b, old, entries, "entries that share bytes"));
        } else {
            // Whatever the header and table read as: maybe no entry at all.
            Case c = EntryDamage(what, b, old);
            c.content = Content::Unchecked;
            c.strict = Verdict::Unchecked;
            c.strictWhy.clear();
            out.push_back(std::move(c));
        }
    }
    Bytes absurd = sound;
    testpacks::PatchU32(absurd, 8, 0x3FFFFFFF);
    out.push_back(Refused("1.03 fileCount 0x3FFFFFFF", absurd, old));
    // A table naming one record many times: taken, the entries claim more
    // than the file holds; skipped, nothing is taken from it.
    for (bool skippedRecord : {false, true}) {
        const std::uint32_t slots = 100000;
        std::vector<testpacks::OldEntry> one = {testpacks::OldEntry(
            "only", testpacks::ToBytes("the one record"), 0x00, skippedRecord ? 23 : 0)};
        Bytes single = testpacks::BuildOldPack(one);
        const std::uint32_t record = testpacks::PeekU32(single, 12);
        Bytes b(pack::kOldPackHeaderSize + 4 * std::size_t{slots});
        pack::Write(b, 0, pack::MakeOldPackHeader(slots));
        const std::uint32_t moved = static_cast<std::uint32_t>(b.size());
        for (std::uint32_t i = 0; i < slots; ++i)
            testpacks::PatchU32(b, pack::kOldPackHeaderSize + 4 * std::size_t{i}, moved);
        b.insert(b.end(), single.begin() + record, single.end());
        const std::string what = std::string("one ") + (skippedRecord ? "skipped " : "") +
                                 "record named by " + std::to_string(slots) + " slots";
        if (skippedRecord)
            out.push_back(Intact(what, std::move(b), old, {}));
        else
            out.push_back(Refused(what, std::move(b), old));
    }
    // Duplicate names are allowed in this version: readers keep both.
    std::vector<testpacks::OldEntry> twins = {
        testpacks::OldEntry("Twin", testpacks::ToBytes("first"), 0x00, 0),
        testpacks::OldEntry("twin", testpacks::ToBytes("second"), 0x00, 0)};
    out.push_back(
        Intact("1.03 names equal but for case", testpacks::BuildOldPack(twins), old,
               {{"Twin", testpacks::ToBytes("first")}, {"twin", testpacks::ToBytes("second")}}));
}

// Files that are no pack of either version.
inline void AddNotPackCases(std::vector<Case>& out) {
    out.push_back(Refused("empty file", {}, pack::PackVersion::None));
    out.push_back(Refused("other version", testpacks::ToBytes("VHPF2.11" + std::string(24, '\0')),
                          pack::PackVersion::None));
    out.push_back(Refused("text", testpacks::ToBytes("hello, this is no pack at all"),
                          pack::PackVersion::None));
}

// The whole corpus, built once.
inline const std::vector<Case>& Corpus() {
    static const std::vector<Case> corpus = [] {
        std::vector<Case> out;
        AddTreeFieldCases(out);
        AddTreeNameCases(out);
        AddTreeShapeCases(out);
        AddOldCases(out);
        AddNotPackCases(out);
        return out;
    }();
    return corpus;
}

}  // namespace damaged
