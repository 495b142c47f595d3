// Writes the seed corpus of the fuzz targets into <dir>/<target>/ (run with
// fuzz/corpus to refresh the committed seeds). Every target that reads packs
// gets the same pack seeds; fuzz_lzrw gets blocks, fuzz_gzip gzip members.
#include <cstdio>
#include <string>

#include "tests/support/TestPacks.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    using namespace testpacks;
    using pack::PackMethod;
    const std::string reader = std::string(argv[1]) + "/fuzz_reader/";
    const std::string gzip = std::string(argv[1]) + "/fuzz_gzip/";
    const std::string lzrw = std::string(argv[1]) + "/fuzz_lzrw/";

    WriteFile(reader + "empty.vpf", BuildPack(Folder()));
    Folder one;
    one.files = {File("a.txt", ToBytes("0123456789"))};
    WriteFile(reader + "one_stored.vpf", BuildPack(one));
    Folder mixed;
    mixed.files = {File("s.txt", ToBytes("stored bytes")),
                   File("g.gz", SampleBytes(120, 1), PackMethod::Gzip), File("z", {})};
    mixed.folders = {Folder("F", {File("l.lz", SampleBytes(150, 2), PackMethod::Lzrw3a)},
                            {Folder("G", {File("d", ToBytes("deep"))})})};
    WriteFile(reader + "mixed.vpf", BuildPack(mixed));
    WriteFile(reader + "empty.dat", BuildOldPack({}));
    WriteFile(reader + "old.dat",
              BuildOldPack({OldEntry("plain", ToBytes("old plain"), 0x00, 0),
                            OldEntry("coded", SampleBytes(100, 3), 0x01, 1),
                            OldEntry("skipped", ToBytes("x"), 0x00, 23),
                            OldEntry(std::string(48, 'n'), ToBytes("full name"), 0x10, 0)}));

    // LZRW3-A blocks with their capacity in front.
    auto block = [&](const std::string& name, const Bytes& content) {
        Bytes coded = EncodeContent(content, PackMethod::Lzrw3a);
        Bytes seed = {static_cast<std::uint8_t>(content.size()),
                      static_cast<std::uint8_t>(content.size() >> 8)};
        seed.insert(seed.end(), coded.begin(), coded.end());
        WriteFile(lzrw + name, seed);
    };
    block("text.bin", SampleBytes(400, 4));
    block("repeats.bin", Bytes(300, 'a'));
    block("short.bin", ToBytes("abcabcabcabd"));
    Bytes noise(200);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>(i * 73 + 11);
    block("noise.bin", noise);  // incompressible: a stored copy
    block("empty.bin", {});

    // Gzip members with a limit in front (in 64-byte steps).
    auto member = [&](const std::string& name, const Bytes& content) {
        Bytes coded = EncodeContent(content, PackMethod::Gzip);
        const std::size_t steps = (content.size() + 63) / 64;
        Bytes seed = {static_cast<std::uint8_t>(steps), static_cast<std::uint8_t>(steps >> 8)};
        seed.insert(seed.end(), coded.begin(), coded.end());
        WriteFile(gzip + name, seed);
    };
    member("text.gz", SampleBytes(3000, 5));
    member("empty.gz", {});
    member("run.gz", Bytes(5000, 'z'));
    Bytes plain = {0x00, 0x01};
    const Bytes words = ToBytes("not gzip at all");
    plain.insert(plain.end(), words.begin(), words.end());
    WriteFile(gzip + "plain.bin", plain);
    return 0;
}
