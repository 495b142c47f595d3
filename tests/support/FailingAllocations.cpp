// FailingAllocations.cpp - the replaced nothrow array new behind
// FailAllocations.
#include "tests/support/FailingAllocations.h"

#include <atomic>
#include <new>

namespace {

std::atomic<std::size_t> failFrom{1};
std::atomic<std::size_t> failTo{0};  // an empty window: nothing fails
std::atomic<int> failed{0};

}  // namespace

// Everything else goes to the ordinary array new, so that every block is
// released by the delete[] that matches it (also under the sanitizers).
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (size >= failFrom.load() && size <= failTo.load()) {
        ++failed;
        return nullptr;
    }
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace testsupport {

FailAllocations::FailAllocations(std::size_t from, std::size_t to) {
    failed = 0;
    failFrom = from;
    failTo = to;
}

FailAllocations::~FailAllocations() {
    failTo = 0;
    failFrom = 1;
}

int FailAllocations::Failed() const {
    return failed.load();
}

}  // namespace testsupport
