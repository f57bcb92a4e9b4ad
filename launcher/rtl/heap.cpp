#include "rtl/heap.h"

#include <cstdlib>

namespace {
void* SystemGetMem(std::size_t size) {
  return std::malloc(size);
}
bool SystemFreeMem(void* block) {
  std::free(block);
  return true;
}
}  // namespace

const HeapOps SystemHeap = {SystemGetMem, SystemFreeMem};
HeapOps Heap = SystemHeap;
