// tovelink.cpp - the C interface, on the same index as class PackReader.
#include "reader/tovelink.h"

#include <cstring>
#include <new>
#include <string>

#include "reader/PackIndex.h"

struct tovelink_reader {
    tovelink::PackIndex index;
    // The latest failure's reason; the index's own text covers opening and
    // decoding, this one also the interface's argument checks.
    std::string error;
};

namespace {

// Why the thread's last tovelink_open failed.
thread_local std::string openError;

tovelink_reader* Mutable(const tovelink_reader* reader) {
    // Names are built on first use and kept, and failures are recorded:
    // both change the reader behind a const pointer, which the header's
    // one-thread-per-reader rule makes safe.
    return const_cast<tovelink_reader*>(reader);
}

bool Valid(const tovelink_reader* reader, std::uint32_t index) {
    if (!reader)
        return false;
    if (index < reader->index.GetNumFiles())
        return true;
    try {
        Mutable(reader)->error = "no file has index " + std::to_string(index) +
                                 " (the pack holds " + std::to_string(reader->index.GetNumFiles()) +
                                 ")";
    } catch (const std::bad_alloc&) {
        Mutable(reader)->error.clear();  // the result still says it failed
    }
    return false;
}

int Code(pack::FaultKind kind) {
    switch (kind) {
        case pack::FaultKind::Damaged:
        case pack::FaultKind::NotAPack:
            return TOVELINK_ERROR_DAMAGED;
        case pack::FaultKind::NoMemory:
            return TOVELINK_ERROR_MEMORY;
        default:
            return TOVELINK_ERROR_IO;
    }
}

}  // namespace

extern "C" {

const char* tovelink_version(void) {
    return TOVELINK_VERSION_STRING;
}

tovelink_reader* tovelink_open(const char* path) {
    tovelink_reader* reader = new (std::nothrow) tovelink_reader;
    if (!reader) {
        openError = "out of memory";
        return nullptr;
    }
    bool opened = false;
    try {
        opened = reader->index.OpenPack(path);
        if (!opened)
            openError = reader->index.LastError();
    } catch (const std::bad_alloc&) {
        openError = "out of memory";
    }
    if (!opened) {
        delete reader;
        return nullptr;
    }
    openError.clear();
    return reader;
}

void tovelink_close(tovelink_reader* reader) {
    delete reader;
}

std::uint32_t tovelink_count(const tovelink_reader* reader) {
    return reader ? static_cast<std::uint32_t>(reader->index.GetNumFiles()) : 0;
}

const char* tovelink_name(const tovelink_reader* reader, std::uint32_t index) {
    if (!Valid(reader, index))
        return nullptr;
    const char* name = Mutable(reader)->index.GetName(index);
    if (!name)
        Mutable(reader)->error = "out of memory";
    return name;
}

std::int64_t tovelink_find(const tovelink_reader* reader, const char* name) {
    if (!reader || !name)
        return -1;
    const unsigned long index = reader->index.GetIndex(name);
    return index == tovelink::PackIndex::kNotFound ? -1 : static_cast<std::int64_t>(index);
}

std::uint64_t tovelink_size(const tovelink_reader* reader, std::uint32_t index) {
    return Valid(reader, index) ? reader->index.GetFileSize(static_cast<unsigned long>(index)) : 0;
}

std::uint64_t tovelink_packed_size(const tovelink_reader* reader, std::uint32_t index) {
    return Valid(reader, index) ? reader->index.GetFilePackedSize(static_cast<unsigned long>(index))
                                : 0;
}

int tovelink_read(tovelink_reader* reader, std::uint32_t index, void* buffer,
                  std::uint64_t capacity) {
    if (!reader)
        return TOVELINK_ERROR_ARGUMENT;
    if (!Valid(reader, index))
        return TOVELINK_ERROR_ARGUMENT;
    const std::uint64_t size = reader->index.GetFileSize(static_cast<unsigned long>(index));
    try {
        if (size > 0 && !buffer) {
            reader->error = "no buffer given for the " + std::to_string(size) + " bytes of file " +
                            std::to_string(index);
            return TOVELINK_ERROR_ARGUMENT;
        }
        if (capacity < size) {
            reader->error = "a buffer of " + std::to_string(capacity) +
                            " bytes is too small for the " + std::to_string(size) +
                            " bytes of file " + std::to_string(index);
            return TOVELINK_ERROR_CAPACITY;
        }
        if (reader->index.ReadInto(index, static_cast<unsigned char*>(buffer), capacity))
            return TOVELINK_OK;
        reader->error = reader->index.LastError();
        return Code(reader->index.LastFault().kind);
    } catch (const std::bad_alloc&) {
        reader->error.clear();
        return TOVELINK_ERROR_MEMORY;
    }
}

const char* tovelink_error(const tovelink_reader* reader) {
    return reader ? reader->error.c_str() : openError.c_str();
}

}  // extern "C"
