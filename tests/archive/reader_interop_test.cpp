// A pack written by the archive reads back through the reader library.
#include "tests/archive/ArchiveFixture.h"

#include <cstring>

#include "reader/PackReader.h"

namespace crateforge::test {
namespace {

using ReaderInteropTest = ArchiveTest;

TEST_F(ReaderInteropTest, SavedPackIsReadByTheLibrary) {
    const Bytes text = TextBytes(40000), noise = NoiseBytes(1500), zero;
    SourceDir("tree");
    SourceDir("tree/Inner");
    Source("tree/text.txt", text);
    Source("tree/Inner/noise.bin", noise);
    Source("tree/Inner/zero", zero);
    const std::string top = Source("top.txt", testpacks::ToBytes("top"));

    ASSERT_EQ(archive->CreateNew(PackPath()), 1);
    ASSERT_EQ(archive->AddFile(top, archive->Root()), 1);
    ASSERT_EQ(archive->AddFolder(src + "/tree", archive->Root()), 1);
    ASSERT_EQ(archive->Save(), 1);

    PackReader reader;
    std::string path = PackPath();
    ASSERT_TRUE(reader.OpenPack(path.data()));
    ASSERT_EQ(reader.GetNumFiles(), 4u);
    struct Want {
        std::string name;
        const Bytes* bytes;
    } wants[] = {{"top.txt", nullptr},
                 {"tree\\text.txt", &text},
                 {"tree\\Inner\\noise.bin", &noise},
                 {"TREE\\inner\\ZERO", &zero}};
    for (Want& w : wants) {
        std::string name = w.name;
        const unsigned long index = reader.GetIndex(name.data());
        ASSERT_NE(index, static_cast<unsigned long>(-1)) << w.name;
        if (!w.bytes)
            continue;
        ASSERT_EQ(reader.GetFileSize(index), w.bytes->size()) << w.name;
        unsigned char* data = reader.GetData(index);
        if (!w.bytes->empty()) {
            ASSERT_NE(data, nullptr) << w.name;
            EXPECT_EQ(0, std::memcmp(data, w.bytes->data(), w.bytes->size())) << w.name;
        }
    }
    EXPECT_LT(reader.GetFilePackedSize(reader.GetIndex(wants[1].name.data())), text.size());
    reader.ClosePack();
}

}  // namespace
}  // namespace crateforge::test
