// FailingAllocations.h - "out of memory" on demand, for the one failure the
// gzip coder still has.
//
// While a FailAllocations guard lives, every `new (std::nothrow) T[n]` of
// `from` to `to` bytes, on any thread, returns null; all other allocations
// work. Tests choose a window that holds the coder's output buffer (a
// little more than the file) and no other allocation of the operation, so
// that files are read but not coded. Link FailingAllocations.cpp into the
// test program: it replaces the nothrow array new.
#pragma once

#include <cstddef>

namespace testsupport {

class FailAllocations {
  public:
    FailAllocations(std::size_t from, std::size_t to);
    ~FailAllocations();
    FailAllocations(const FailAllocations&) = delete;
    FailAllocations& operator=(const FailAllocations&) = delete;

    // How many allocations failed so far.
    int Failed() const;
};

}  // namespace testsupport
