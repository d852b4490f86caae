// Filling and freeing the address space for the out-of-memory tests.
#include "address_space.h"

std::vector<void*> ReserveAddressSpace(uint64_t leave, uint64_t contiguous, HANDLE process) {
    std::vector<void*> blocks;
    std::vector<SIZE_T> sizes;
    for (SIZE_T size = (SIZE_T)1 << 30; size >= 65536; size /= 2) {
        while (void* block = VirtualAllocEx(process, NULL, size, MEM_RESERVE, PAGE_NOACCESS)) {
            blocks.push_back(block);
            sizes.push_back(size);
        }
    }
    for (uint64_t freed = 0; freed < leave && !blocks.empty(); blocks.pop_back(), sizes.pop_back()) {
        VirtualFreeEx(process, blocks.back(), 0, MEM_RELEASE);
        freed += sizes.back();
    }
    // Largest first: the last block large enough is the smallest that is.
    for (size_t i = blocks.size(); contiguous > 0 && i-- > 0;) {
        if (sizes[i] >= contiguous) {
            VirtualFreeEx(process, blocks[i], 0, MEM_RELEASE);
            blocks.erase(blocks.begin() + (ptrdiff_t)i);
            break;
        }
    }
    return blocks;
}

void ReleaseAddressSpace(const std::vector<void*>& blocks, HANDLE process) {
    for (void* block : blocks) {
        VirtualFreeEx(process, block, 0, MEM_RELEASE);
    }
}

void ReserveRangesOfAtLeast(std::vector<void*>* blocks, uint64_t bytes, HANDLE process) {
    while (void* block = VirtualAllocEx(process, NULL, (SIZE_T)bytes, MEM_RESERVE, PAGE_NOACCESS)) {
        blocks->push_back(block);
    }
}
