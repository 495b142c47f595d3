// PathTree.cpp - building the path tree of a pack and finding names in it.
#include "format/PathTree.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "format/Names.h"
#include "format/PackFormat.h"

namespace pack {

namespace {

// Splits a record name into the components of its path on disk. False with
// `reason` for a name that extraction does not write.
// TODO(mount): replaced by the shared name-to-path rule.
bool SplitRecordName(std::string_view name, std::vector<std::string_view>& parts,
                     std::string& reason) {
    parts.clear();
    std::size_t at = name.find_first_not_of("\\/");
    if (at == std::string_view::npos) {
        reason = "a name without a file name";
        return false;
    }
    for (;;) {
        const std::size_t end = name.find_first_of("\\/", at);
        const std::string_view part = name.substr(at, end - at);
        if (part.empty() && end != std::string_view::npos) {
            reason = "a name with an empty folder name inside it";
            return false;
        }
        if (part == "." || part == "..") {
            reason = "a name holding \"" + std::string(part) + "\"";
            return false;
        }
        if (!part.empty())
            parts.push_back(part);
        if (end == std::string_view::npos)
            break;
        at = end + 1;
    }
    if (parts.empty()) {
        reason = "a name without a file name";
        return false;
    }
    return true;
}

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

}  // namespace

bool LoadTreeFile(ByteSource& source, const DirectoryFile& file, DecodedBytes& out, Fault& fault) {
    const EntryClaim claim{file.method, file.originalSize, file.packedSize};
    if (file.method != static_cast<std::uint8_t>(PackMethod::Gzip))
        return LoadEntry(source, file.dataOffset, claim, out, fault);
    DecodedBytes bytes(
        new (std::nothrow) unsigned char[std::max<std::size_t>(file.originalSize, 1)]);
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

PathTree::Node PathTree::Add(Node parent, NameRef name, std::uint32_t file, std::uint64_t hash) {
    const auto node = static_cast<Node>(nodes_.size());
    Entry entry;
    entry.parent = parent;
    entry.name = name;
    entry.file = file;
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

PathTree::Node PathTree::FolderAt(Node parent, NameRef name) {
    const std::string_view text = directory_.Name(name);
    const std::uint64_t hash = HashOf(parent, text);
    const Node found = FindHashed(parent, text, hash);
    if (found != kNoNode)
        return IsFolder(found) ? found : kNoNode;
    return Add(parent, name, kNoFile, hash);
}

bool PathTree::WalkFolders(Node& parent, std::span<const NameRef> parts, std::string& reason) {
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const Node next = FolderAt(parent, parts[i]);
        if (next == kNoNode) {
            reason = "an earlier file is named \"" + std::string(directory_.Name(parts[i])) +
                     "\" where it needs a folder";
            return false;
        }
        parent = next;
    }
    return true;
}

void PathTree::LeaveOut(std::string name, std::string reason) {
    leftOut_.push_back({std::move(name), std::move(reason)});
}

bool PathTree::Build(Directory directory, Fault& fault) {
    directory_ = std::move(directory);
    nodes_.clear();
    children_.clear();
    table_.clear();
    leftOut_.clear();
    try {
        nodes_.reserve(directory_.folders.size() + directory_.files.size());
        nodes_.push_back(Entry());  // the root
        Grow();

        // Where each folder record landed (kNoNode: left out, with everything
        // in it). Folders come in pre-order and each folder's files right
        // after it, so nodes are made in directory order: of two records
        // that claim one name, the earlier wins.
        std::vector<Node> folderNode(directory_.folders.size(), kNoNode);
        folderNode[0] = kRoot;
        std::vector<std::string_view> views;
        std::vector<NameRef> parts;
        std::string reason;
        const char* pool = directory_.names.data();
        auto toRefs = [&] {
            parts.clear();
            for (std::string_view v : views)
                parts.push_back({static_cast<std::uint32_t>(v.data() - pool),
                                 static_cast<std::uint32_t>(v.size())});
        };

        for (std::size_t f = 0; f < directory_.folders.size(); ++f) {
            const PackDirectory& folder = directory_.folders[f];
            Node here = kRoot;
            if (f != 0) {
                here = folderNode[folder.parent];
                if (here == kNoNode)
                    continue;  // its parent is left out, and named so
                const std::string path = directory_.FolderPath(static_cast<std::uint32_t>(f), '/');
                if (!SplitRecordName(directory_.Name(folder.name), views, reason)) {
                    LeaveOut(path + "/", reason);
                    continue;
                }
                toRefs();
                if (!WalkFolders(here, parts, reason)) {
                    LeaveOut(path + "/", reason + "; the folder is left out with what it holds");
                    continue;
                }
                folderNode[f] = here;
            }
            for (std::uint32_t k = 0; k < folder.fileCount; ++k) {
                const std::uint32_t i = folder.firstFile + k;
                const std::string_view name = directory_.FileName(i);
                Node parent = here;
                if (!SplitRecordName(name, views, reason)) {
                    LeaveOut(directory_.FullName(i, '/'), reason);
                    continue;
                }
                toRefs();
                if (!WalkFolders(parent, std::span<const NameRef>(parts).first(parts.size() - 1),
                                 reason)) {
                    LeaveOut(directory_.FullName(i, '/'), reason);
                    continue;
                }
                const std::string_view last = directory_.Name(parts.back());
                const std::uint64_t hash = HashOf(parent, last);
                const Node taken = FindHashed(parent, last, hash);
                if (taken != kNoNode) {
                    LeaveOut(directory_.FullName(i, '/'),
                             IsFolder(taken) ? "a folder of the same name comes first"
                                             : "an earlier file has the same name");
                    continue;
                }
                Add(parent, parts.back(), i, hash);
            }
        }

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
        directory_ = Directory();
        nodes_.clear();
        children_.clear();
        table_.clear();
        leftOut_.clear();
        return Fail(fault, FaultKind::NoMemory, "out of memory");
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
