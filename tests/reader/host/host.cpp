// A host program that knows nothing of the project but the installed
// header: it opens the two sample packs and checks names, sizes and bytes.
#include <tovelink/PackReader.h>

#include <cstdio>
#include <cstring>
#include <string>

static_assert(sizeof(PackReader) == sizeof(void*), "PackReader must be one pointer");

static int failures = 0;

static void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "host: FAILED: %s\n", what);
        ++failures;
    }
}

static std::string Name(const char* s) {
    return std::string(s);
}

static bool Holds(PackReader& reader, std::string name, const std::string& content) {
    unsigned long size = 0;
    reader.CopyData(&name[0], 0, &size);
    if (size != content.size())
        return false;
    std::string copy(size, '\0');
    reader.CopyData(&name[0], reinterpret_cast<unsigned char*>(&copy[0]), &size);
    unsigned char* data = reader.GetData(&name[0]);
    return copy == content && data && std::memcmp(data, content.data(), size) == 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PACK.vpf PACK.dat\n", argv[0]);
        return 2;
    }
    std::string guide;
    for (int i = 0; i < 200; ++i)
        guide += "Line " + std::to_string(i) + " of the guide.\n";
    std::string notes;
    for (int i = 0; i < 100; ++i)
        notes += "note note note " + std::to_string(i % 7) + "\n";

    PackReader reader;
    Check(reader.OpenPack(argv[1]), "open the 2.10 pack");
    Check(reader.GetNumFiles() == 3, "three files");
    Check(std::strcmp(reader.GetArchiveName(), argv[1]) == 0, "archive name");
    Check(reader.GetName(1) && std::strcmp(reader.GetName(1), "docs\\Guide.md") == 0, "full name");
    Check(Holds(reader, "hello.txt", "Hello from the pack.\n"), "stored file");
    Check(Holds(reader, "DOCS\\guide.md", guide), "gzip file, case-blind");
    Check(Holds(reader, "docs\\deep\\Notes.lz", notes), "LZRW3-A file");
    Check(reader.GetFilePackedSize(1ul) < guide.size(), "gzip packed size");
    std::string missing = Name("nope");
    Check(reader.GetIndex(&missing[0]) == static_cast<unsigned long>(-1), "not found is all ones");
    Check(reader.LoadAll(), "load all");

    {
        PackReader shared(reader);  // shares the open pack
        Check(shared.GetNumFiles() == 3, "copy shares");
        PackReader assigned;
        assigned = shared;
        assigned.ClosePack();
    }
    Check(reader.GetNumFiles() == 0, "closed through a shared handle");

    Check(reader.OpenPack(argv[2]), "open the 1.03 pack");
    Check(reader.GetNumFiles() == 2, "two old files");
    Check(Holds(reader, "legacy.txt", notes), "old LZRW3-A file");
    Check(Holds(reader, "plain.txt", "plain old\n"), "old stored file");
    reader.PurgeAll();
    reader.ClosePack();

    if (failures == 0)
        std::printf("host: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
