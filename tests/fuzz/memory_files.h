// An in-memory stand-in for the host's file routines and a counting heap,
// for running DecompressFile() on fuzzed files without touching the disk.
//
// Files are byte vectors by name. Opening follows the host's rules the
// decompressor relies on (open: an existing file, not shared; create: not
// shared, truncates), every write is recorded with its size, and the open
// handles and live heap blocks are counted so that a run can be checked to
// have released everything on every way out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host_files.h"
#include "rtl/heap.h"

namespace memory_files {

struct OpenFile {
  std::string path;
  std::size_t position = 0;
};

struct State {
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::map<HostFile, OpenFile> open;  // handle -> file
  HostFile nextHandle = 100;
  std::vector<std::int32_t> writeSizes;  // every write's count, in order
  std::set<void*> liveBlocks;            // heap blocks handed out, not yet freed
  int allocations = 0;                   // heap blocks handed out in all
  std::size_t allocatedBytes = 0;
  int badFrees = 0;  // frees of blocks not handed out
};

// The one state the tables below work on.
State& Files();

// Sets HostFiles and Heap to the in-memory tables (and back on destruction).
class Install {
 public:
  Install();
  ~Install();
  Install(const Install&) = delete;
  Install& operator=(const Install&) = delete;

 private:
  HostFileOps savedFiles_;
  HeapOps savedHeap_;
};

}  // namespace memory_files
