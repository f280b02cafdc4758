// The process heap: one fixed pseudo handle in front of the C allocator.
#include <cstdint>
#include <cstdlib>

#include "platform/posix/error.h"

namespace vyn::platform {

namespace {

// Handle table values are multiples of four, so an odd value never names a table object.
const HANDLE kProcessHeap = reinterpret_cast<HANDLE>(uintptr_t{0x4EA1});

// Larger requests are refused with an error rather than handed to an allocator that may end
// the process when it cannot serve them (as sanitizer allocators do).
constexpr SIZE_T kLargestBlock = SIZE_T{1} << 40;

}  // namespace

}  // namespace vyn::platform

HANDLE WINAPI GetProcessHeap(void) {
    return vyn::platform::kProcessHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    using namespace vyn::platform;
    if (heap != kProcessHeap) {
        FailWith(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (bytes > kLargestBlock) {
        FailWith(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // A request for 0 bytes still gets its own block.
    SIZE_T size = bytes == 0 ? 1 : bytes;
    void *block = (flags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, size) : std::malloc(size);
    if (block == nullptr) {
        FailWith(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD /*flags*/, LPVOID memory) {
    if (heap != vyn::platform::kProcessHeap) {
        return vyn::platform::FailWith(ERROR_INVALID_HANDLE);
    }
    std::free(memory);
    return TRUE;
}
