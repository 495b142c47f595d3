// TempFiles.cpp - the async-signal-safe list of live temporary files.
#include "platform/TempFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace crateforge::fs {

namespace {

// A slot's life: Free -> Filling (its owner copies the path) -> Live ->
// Free again when its owner unregisters it. A signal handler takes a Live
// slot to Removing, unlinks, and leaves it Removed; the owner then frees it.
enum SlotState : int { Free, Filling, Live, Removing, Removed };

struct Slot {
    std::atomic<int> state{Free};
    int folder = -1;  // a folder descriptor, `path` a name in it; -1: `path` is a path
    char path[kMaxTempPathSize];
};

static_assert(std::atomic<int>::is_always_lock_free,
              "the list is read from signal handlers, which may not take locks");

Slot g_slots[kMaxLiveTempFiles];

}  // namespace

namespace {

int Register(int folder, const char* path) {
    const std::size_t length = std::strlen(path);
    if (length + 1 > kMaxTempPathSize)
        return -1;
    for (std::size_t i = 0; i < kMaxLiveTempFiles; ++i) {
        int expected = Free;
        if (g_slots[i].state.compare_exchange_strong(expected, Filling,
                                                     std::memory_order_acquire)) {
            g_slots[i].folder = folder;
            std::memcpy(g_slots[i].path, path, length + 1);
            g_slots[i].state.store(Live, std::memory_order_release);
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

int RegisterTempFile(const char* path) {
    return Register(-1, path);
}

int RegisterTempFileAt(int folderFd, const char* name) {
    return folderFd < 0 ? -1 : Register(folderFd, name);
}

void UnregisterTempFile(int slot) {
    if (slot < 0 || static_cast<std::size_t>(slot) >= kMaxLiveTempFiles)
        return;
    std::atomic<int>& state = g_slots[slot].state;
    for (;;) {
        int expected = Live;
        if (state.compare_exchange_strong(expected, Free, std::memory_order_acq_rel))
            return;
        if (expected == Removed) {
            state.store(Free, std::memory_order_release);
            return;
        }
        // A handler on another thread is unlinking it right now.
        std::this_thread::yield();
    }
}

int RemoveLiveTempFiles() noexcept {
    int removed = 0;
    for (Slot& slot : g_slots) {
        int expected = Live;
        if (slot.state.compare_exchange_strong(expected, Removing, std::memory_order_acq_rel)) {
            if (slot.folder >= 0)
                ::unlinkat(slot.folder, slot.path, 0);
            else
                ::unlink(slot.path);
            slot.state.store(Removed, std::memory_order_release);
            ++removed;
        }
    }
    return removed;
}

std::size_t LiveTempFileCount() {
    std::size_t count = 0;
    for (const Slot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == Live)
            ++count;
    return count;
}

}  // namespace crateforge::fs
