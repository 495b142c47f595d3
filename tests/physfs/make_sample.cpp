// make_sample DIR: writes the sample tree to DIR/tree and its packs:
// DIR/sample.vpf (the tree), DIR/damaged.vpf (the same, cut inside its
// directory) and DIR/bad-entry.vpf (good.txt, and z/bad.txt, a gzip file
// whose stored bytes are no gzip member).
#include <sys/stat.h>

#include <cstdio>

#include "tests/support/SampleTree.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string tree = dir + "/tree";
    if (mkdir(tree.c_str(), 0755) != 0) {
        std::perror(tree.c_str());
        return 1;
    }
    const testpacks::Bytes pack = testpacks::WriteSampleTree(tree);
    testpacks::WriteFile(dir + "/sample.vpf", pack);
    testpacks::WriteFile(dir + "/damaged.vpf", testpacks::Bytes(pack.begin(), pack.begin() + 600));
    testpacks::Folder bad("", {{"good.txt", testpacks::ToBytes("good\n"), pack::PackMethod::Gzip}},
                          {testpacks::Folder("z", {{"bad.txt", testpacks::SampleBytes(3000),
                                                    pack::PackMethod::Gzip}})});
    bad.folders[0].files[0].stored = testpacks::SampleBytes(500, 3);
    testpacks::WriteFile(dir + "/bad-entry.vpf", testpacks::BuildPack(bad));
    return 0;
}
