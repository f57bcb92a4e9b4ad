// The runtime heap, behind a replaceable table.
//
// The decoder's work tables and the decompressor's I/O buffers come from here,
// so that tests can make any single allocation or release fail and check that
// the callers turn the failure into their own error and leak nothing.
#pragma once

#include <cstddef>

struct HeapOps {
  void* (*GetMem)(std::size_t size);  // null on failure
  bool (*FreeMem)(void* block);       // false on failure; null block is a no-op
};

// The table in use; starts as the C library's malloc and free.
extern HeapOps Heap;
extern const HeapOps SystemHeap;
