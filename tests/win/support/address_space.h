// A 32-bit process whose address space is nearly used up, made on purpose:
// the tests' way to have a decode or an allocation find no room.
#ifndef TESTS_WIN_SUPPORT_ADDRESS_SPACE_H
#define TESTS_WIN_SUPPORT_ADDRESS_SPACE_H

#include <stdint.h>
#include <windows.h>

#include <vector>

// Reserves every free range of the address space, large ones first, then
// gives the smallest back until at least `leave` bytes are free again (0:
// none, so that no thread stack can be placed), and beside them the
// smallest block of at least `contiguous` bytes, one range where a block of
// that size can be mapped (the rest is fragments). Free space is counted by
// what could be reserved: Wine hands out ranges it keeps for itself, which
// neither its ullAvailVirtual nor VirtualQuery counts as free. Released by
// ReleaseAddressSpace. In this process, or in another 32-bit one opened
// with PROCESS_VM_OPERATION.
std::vector<void*> ReserveAddressSpace(uint64_t leave = 0, uint64_t contiguous = 0,
                                       HANDLE process = GetCurrentProcess());
void ReleaseAddressSpace(const std::vector<void*>& blocks, HANDLE process = GetCurrentProcess());
// Reserves, into *blocks, `bytes` at a time from every free range that holds
// them, so that no block of that size can be had any more; the same release.
void ReserveRangesOfAtLeast(std::vector<void*>* blocks, uint64_t bytes, HANDLE process = GetCurrentProcess());

#endif
