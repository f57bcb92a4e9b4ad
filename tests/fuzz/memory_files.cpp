#include "memory_files.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace memory_files {

State& Files() {
  static State state;
  return state;
}

namespace {

bool IsOpen(const std::string& path) {
  for (const auto& [handle, file] : Files().open) {
    if (file.path == path) return true;
  }
  return false;
}

HostFile Open(const std::string& path) {
  State& s = Files();
  const HostFile handle = s.nextHandle++;
  s.open[handle] = OpenFile{path, 0};
  return handle;
}

HostFile MemOpenRead(const std::string& path) {
  if (!Files().files.count(path) || IsOpen(path)) return kNoFile;
  return Open(path);
}

HostFile MemCreateTruncate(const std::string& path) {
  if (path.empty() || IsOpen(path)) return kNoFile;
  Files().files[path].clear();
  return Open(path);
}

std::int32_t MemRead(HostFile file, void* buffer, std::int32_t count) {
  auto it = Files().open.find(file);
  if (it == Files().open.end() || count < 0) return -1;
  const std::vector<std::uint8_t>& data = Files().files[it->second.path];
  const std::size_t position = std::min(it->second.position, data.size());
  const std::size_t n = std::min(data.size() - position, static_cast<std::size_t>(count));
  if (n > 0) std::memcpy(buffer, data.data() + position, n);
  it->second.position = position + n;
  return static_cast<std::int32_t>(n);
}

std::int32_t MemWrite(HostFile file, const void* buffer, std::int32_t count) {
  auto it = Files().open.find(file);
  if (it == Files().open.end() || count < 0) return -1;
  Files().writeSizes.push_back(count);
  std::vector<std::uint8_t>& data = Files().files[it->second.path];
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  data.resize(std::max(data.size(), it->second.position + static_cast<std::size_t>(count)));
  if (count > 0)
    std::memcpy(data.data() + it->second.position, bytes, static_cast<std::size_t>(count));
  it->second.position += static_cast<std::size_t>(count);
  return count;
}

bool MemFlush(HostFile file) {
  return Files().open.count(file) == 1;
}
bool MemClose(HostFile file) {
  return Files().open.erase(file) == 1;
}
bool MemDelete(const std::string& path) {
  if (IsOpen(path)) return false;
  return Files().files.erase(path) == 1;
}

void* CountingGetMem(std::size_t size) {
  void* block = std::malloc(size);
  if (block) {
    Files().liveBlocks.insert(block);
    ++Files().allocations;
    Files().allocatedBytes += size;
  }
  return block;
}

bool CountingFreeMem(void* block) {
  if (!block) return true;
  if (Files().liveBlocks.erase(block) != 1) {
    ++Files().badFrees;
    return false;
  }
  std::free(block);
  return true;
}

constexpr HostFileOps kMemoryFiles = {MemOpenRead, MemCreateTruncate, MemRead,  MemWrite,
                                      MemFlush,    MemClose,          MemDelete};
constexpr HeapOps kCountingHeap = {CountingGetMem, CountingFreeMem};

}  // namespace

Install::Install() : savedFiles_(HostFiles), savedHeap_(Heap) {
  HostFiles = kMemoryFiles;
  Heap = kCountingHeap;
}

Install::~Install() {
  HostFiles = savedFiles_;
  Heap = savedHeap_;
}

}  // namespace memory_files
