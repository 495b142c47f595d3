// PathTree.cpp - building the path tree of a pack and finding names in it.
#include "format/PathTree.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "format/Names.h"
#include "format/PackFormat.h"
#include "platform/NativeFile.h"

namespace pack {

namespace {

// Receives a decoded entry into a buffer of its original size.
class BufferSink final : public ByteSink {
  public:
    BufferSink(unsigned char* data, std::size_t capacity) : data_(data), capacity_(capacity) {}
    bool Write(const unsigned char* data, std::size_t length) override {
        if (length > capacity_ - used_)
            return false;
        std::memcpy(data_ + used_, data, length);
        used_ += length;
        return true;
    }

  private:
    unsigned char* data_;
    std::size_t capacity_;
    std::size_t used_ = 0;
};

// A buffer for a decoded file of `size` bytes. A large one asks for huge
// pages where the kernel gives them on request: filling 100 MB costs some
// fifty page faults instead of 25,000, a third of the time of a decode.
DecodedBytes AllocateDecoded(std::size_t size) {
    DecodedBytes bytes(new (std::nothrow) unsigned char[std::max<std::size_t>(size, 1)]);
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (bytes && size >= 4 * kHugePage)
        native::HintHugePages(bytes.get(), size);
    return bytes;
}

}  // namespace

bool LoadTreeFile(ByteSource& source, const DirectoryFile& file, DecodedBytes& out, Fault& fault) {
    const EntryClaim claim{file.method, file.originalSize, file.packedSize};
    if (file.method != static_cast<std::uint8_t>(PackMethod::Gzip))
        return LoadEntry(source, file.dataOffset, claim, out, fault);
    DecodedBytes bytes = AllocateDecoded(file.originalSize);
    if (!bytes)
        return Fail(fault, FaultKind::NoMemory, "out of memory");
    // StreamEntry gives exactly originalSize bytes when it succeeds.
    BufferSink sink(bytes.get(), file.originalSize);
    if (!StreamEntry(source, file.dataOffset, claim, sink, fault))
        return false;
    out = std::move(bytes);
    return true;
}

std::uint64_t PathTree::HashOf(Node parent, std::string_view name) const {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (char c : name)
        h = (h ^ FoldAscii(static_cast<unsigned char>(c))) * 0x100000001b3ull;
    h ^= (std::uint64_t{parent} + 1) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ull;
    return h ^ (h >> 32);
}

PathTree::Node PathTree::FindHashed(Node parent, std::string_view name, std::uint64_t hash) const {
    if (table_.empty())
        return kNoNode;
    const std::size_t mask = table_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const Node node = table_[slot];
        if (node == kNoNode)
            return kNoNode;
        if (nodes_[node].parent == parent && SameNameIgnoringCase(Name(node), name))
            return node;
    }
}

PathTree::Node PathTree::Find(Node folder, std::string_view name) const {
    if (folder >= nodes_.size() || !IsFolder(folder))
        return kNoNode;
    return FindHashed(folder, name, HashOf(folder, name));
}

void PathTree::Grow() {
    std::vector<Node> old = std::move(table_);
    table_.assign(old.empty() ? 1024 : old.size() * 2, kNoNode);
    const std::size_t mask = table_.size() - 1;
    for (Node node = 1; node < nodes_.size(); ++node) {
        std::size_t slot = HashOf(nodes_[node].parent, Name(node)) & mask;
        while (table_[slot] != kNoNode)
            slot = (slot + 1) & mask;
        table_[slot] = node;
    }
}

PathTree::Node PathTree::Add(Node parent, std::string_view name, std::uint32_t file,
                             std::uint64_t hash) {
    const auto node = static_cast<Node>(nodes_.size());
    Entry entry;
    entry.parent = parent;
    entry.name = {static_cast<std::uint32_t>(names_.size()),
                  static_cast<std::uint32_t>(name.size())};
    entry.file = file;
    names_.append(name);
    nodes_.push_back(entry);
    if (file == kNoFile)
        ++nodes_[parent].subfolders;
    // At most half full, so that probes stay short.
    if (nodes_.size() * 2 > table_.size()) {
        Grow();
        return node;
    }
    const std::size_t mask = table_.size() - 1;
    std::size_t slot = hash & mask;
    while (table_[slot] != kNoNode)
        slot = (slot + 1) & mask;
    table_[slot] = node;
    return node;
}

bool PathTree::WalkFolders(Node& parent, std::span<const std::string> parts, std::string& reason) {
    for (const std::string& part : parts) {
        const std::uint64_t hash = HashOf(parent, part);
        Node next = FindHashed(parent, part, hash);
        if (next == kNoNode) {
            next = Add(parent, part, kNoFile, hash);
        } else if (!IsFolder(next)) {
            reason = "an earlier file is named \"" + std::string(Name(next)) +
                     "\" where a folder is needed";
            return false;
        }
        parent = next;
    }
    return true;
}

// Leaves the tree empty after an allocation failed while building it.
bool PathTree::OutOfMemory(Fault& fault) {
    directory_ = Directory();
    nodes_.clear();
    children_.clear();
    table_.clear();
    names_.clear();
    leftOut_.clear();
    return Fail(fault, FaultKind::NoMemory, "out of memory");
}

bool PathTree::Build(Directory directory, Fault& fault) {
    directory_ = std::move(directory);
    nodes_.clear();
    children_.clear();
    table_.clear();
    names_.clear();
    leftOut_.clear();
    try {
        nodes_.reserve(directory_.folders.size() + directory_.files.size() + 1);
        nodes_.push_back(Entry());  // the root
        Grow();

        // Every record is placed by its own path: the names from the top
        // folder down to it, made a disk path by the one rule extraction
        // uses (ToDiskPath). Folders come in pre-order and each folder's
        // files right after it, so nodes are made in directory order: of
        // two records that claim one path, the earlier wins.
        //
        // A record left out inside a folder that is left out is not named
        // on its own: the folder's line counts it.
        constexpr std::size_t kNone = static_cast<std::size_t>(-1);
        std::vector<std::size_t> folderNote(directory_.folders.size(), kNone);
        std::vector<std::size_t> hiddenInside;  // per left-out line: records inside it
        std::vector<std::string_view> chain;
        std::vector<std::string_view> climb;
        DiskPath path;
        std::string reason;
        auto leaveOut = [&](std::size_t note, std::string name, std::string why) {
            if (note != kNone) {
                ++hiddenInside[note];
                return kNone;
            }
            leftOut_.push_back({std::move(name), std::move(why)});
            hiddenInside.push_back(0);
            return leftOut_.size() - 1;
        };

        for (std::size_t f = 0; f < directory_.folders.size(); ++f) {
            const PackDirectory& folder = directory_.folders[f];
            // The names from the top folder down to this one.
            climb.clear();
            for (std::uint32_t up = static_cast<std::uint32_t>(f); up != 0 && up != kNoFolder;
                 up = directory_.folders[up].parent)
                climb.push_back(directory_.Name(directory_.folders[up].name));
            chain.assign(climb.rbegin(), climb.rend());
            // The nearest folder above that is left out and named.
            const std::size_t above = f == 0 ? kNone : folderNote[folder.parent];
            folderNote[f] = above;
            if (f != 0) {
                Node here = kRoot;
                reason = ToDiskPath(chain, path);
                if (reason.empty())
                    WalkFolders(here, path.components, reason);
                if (!reason.empty()) {
                    const std::size_t note = leaveOut(
                        above, directory_.FolderPath(static_cast<std::uint32_t>(f), '/') + "/",
                        reason);
                    if (note != kNone)
                        folderNote[f] = note;
                }
            }
            for (std::uint32_t k = 0; k < folder.fileCount; ++k) {
                const std::uint32_t i = folder.firstFile + k;
                chain.push_back(directory_.FileName(i));
                reason = ToDiskPath(chain, path);
                chain.pop_back();
                Node parent = kRoot;
                if (reason.empty()) {
                    const std::span<const std::string> parts = path.components;
                    if (WalkFolders(parent, parts.first(parts.size() - 1), reason)) {
                        const std::string_view last = parts.back();
                        const std::uint64_t hash = HashOf(parent, last);
                        const Node taken = FindHashed(parent, last, hash);
                        if (taken == kNoNode)
                            Add(parent, last, i, hash);
                        else
                            reason = IsFolder(taken) ? "a folder of the same name comes first"
                                                     : "an earlier file has the same name";
                    }
                }
                if (!reason.empty())
                    leaveOut(folderNote[f], directory_.FullName(i, '/'), reason);
            }
        }
        for (std::size_t n = 0; n < leftOut_.size(); ++n)
            if (hiddenInside[n] > 0)
                leftOut_[n].reason += " (and " + std::to_string(hiddenInside[n]) +
                                      (hiddenInside[n] == 1 ? " entry" : " entries") +
                                      " inside it)";

        // Children in the order their nodes were made, which is directory
        // order.
        for (Node node = 1; node < nodes_.size(); ++node)
            ++nodes_[nodes_[node].parent].childCount;
        std::uint32_t next = 0;
        for (Entry& entry : nodes_) {
            entry.firstChild = next;
            next += entry.childCount;
            entry.childCount = 0;
        }
        children_.resize(next);
        for (Node node = 1; node < nodes_.size(); ++node) {
            Entry& parent = nodes_[nodes_[node].parent];
            children_[parent.firstChild + parent.childCount++] = node;
        }
    } catch (const std::bad_alloc&) {
        return OutOfMemory(fault);
    } catch (const std::length_error&) {
        return OutOfMemory(fault);
    }
    return true;
}

std::span<const PathTree::Node> PathTree::Children(Node folder) const {
    const Entry& entry = nodes_[folder];
    return std::span<const Node>(children_.data() + entry.firstChild, entry.childCount);
}

PathTree::Node PathTree::Resolve(std::string_view path) const {
    Node node = kRoot;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(at, end - at);
        if (part == "." || part == "..")
            return kNoNode;
        if (!part.empty()) {
            node = Find(node, part);
            if (node == kNoNode)
                return kNoNode;
        }
        at = end + 1;
    }
    return node;
}

std::string PathTree::Path(Node node) const {
    std::vector<std::string_view> parts;
    for (; node != kRoot && node != kNoNode; node = nodes_[node].parent)
        parts.push_back(Name(node));
    std::string path;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        if (!path.empty())
            path += '/';
        path.append(*it);
    }
    return path;
}

}  // namespace pack
