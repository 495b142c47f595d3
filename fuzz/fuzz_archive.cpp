// Fuzz target: the input is a pack file opened by the desktop program's
// document (loading a "2.10" pack, converting a "1.03" one after the
// question is answered Yes). Whatever it opens it must list, walk and save
// again, and what it saves must be a sound pack.
#include <cstdint>
#include <string>

#include "archive/PackArchive.h"
#include "format/ByteSource.h"
#include "format/PackDirectory.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Scripted.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using fuzzing::Require;
    const std::string path = fuzzing::WriteInput(data, size, "input.dat");
    crateforge::ScriptedMessages messages;
    messages.Queue({crateforge::MessageAnswer::Yes});
    crateforge::ScriptedList list;
    crateforge::ScriptedProgress progress;
    {
        crateforge::CPackArchive archive(&messages, &list, &progress);
        if (archive.Open(path)) {
            Require(archive.Root() != nullptr, "an open document without a tree");
            archive.RefreshList();
            // Every folder can be entered and left again.
            for (int i = 0; i < static_cast<int>(archive.Current()->SubfolderCount()); ++i) {
                archive.EnterFolderAt(i);
                archive.GoUp();
            }
            Require(archive.Save() == 1, "a loaded pack cannot be saved");
            pack::FileSource saved;
            pack::Fault fault;
            Require(saved.Open(archive.Path(), fault), "the saved pack cannot be opened");
            pack::Directory dir;
            Require(pack::ReadDirectory(saved, pack::PackVersion::Current, dir, fault),
                    "the saved pack is not sound");
            Require(dir.files.size() == archive.FileCount(), "the saved pack lost files");
        }
    }
    std::remove(path.c_str());
    std::remove((fuzzing::PrivateFolder() + "/input.VPF").c_str());
    Require(fuzzing::EntriesIn(fuzzing::TempFolder()) == 0, "a temporary file left behind");
    return 0;
}
