// Fault injection through the host's file routines and the heap.
//
// kInjectedFiles and kInjectedHeap pass every call on to the real routines
// and count it in g_journal, which also tracks the open handles and live heap
// blocks. An Injection makes the n-th call of one operation fail (or move
// half the bytes asked for), so that a test can take the census of a clean
// run and then make each call position fail in turn.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host_files.h"
#include "rtl/heap.h"

namespace fault_injection {

// The host file routines and the heap, and the launcher's host services
// that a test program may route through Hit() as well.
enum class Op {
  OpenRead,
  CreateTruncate,
  Read,
  Write,
  Flush,
  Close,
  Delete,
  GetMem,
  FreeMem,
  FindPayload,
  ForceDirectories,
  ShellOpen
};
constexpr int kOps = 12;
inline const char* const kOpNames[kOps] = {"OpenRead",
                                           "CreateTruncate",
                                           "Read",
                                           "Write",
                                           "Flush",
                                           "Close",
                                           "Delete",
                                           "GetMem",
                                           "FreeMem",
                                           "FindPayload",
                                           "ForceDirectories",
                                           "ShellOpen"};

enum class Fault {
  Fail,   // the call reports failure (and does nothing)
  Short,  // a read or write moves half the bytes asked for
};

struct Injection {
  Op op;
  int call;  // 1-based position among the calls of `op` in one run
  Fault fault;
};

// One run's record of the calls made, the handles open and the blocks held.
struct Journal {
  std::array<int, kOps> calls{};
  std::vector<Injection> injections;
  std::set<HostFile> open;
  std::map<void*, std::size_t> live;  // block -> size
  int strayFrees = 0;                 // frees of blocks not handed out (or twice)
  // Census details: the count asked of each read, the size of each block.
  std::vector<std::int32_t> readCounts, writeCounts;
  std::vector<std::size_t> allocSizes, freeSizes;

  std::vector<Op> trace;  // every call, in order

  std::optional<Fault> Hit(Op op) {
    trace.push_back(op);
    const int n = ++calls[static_cast<int>(op)];
    for (const Injection& i : injections) {
      if (i.op == op && i.call == n) return i.fault;
    }
    return std::nullopt;
  }

  // Whether `call` of `op` moved enough bytes that moving fewer means
  // something: only reads and writes of two bytes or more can fall short.
  bool CanFallShort(Op op, int call) const {
    const std::vector<std::int32_t>* counts = op == Op::Read    ? &readCounts
                                              : op == Op::Write ? &writeCounts
                                                                : nullptr;
    return counts && (*counts)[static_cast<std::size_t>(call - 1)] >= 2;
  }
};

inline Journal g_journal;

// Turns the paths the code under test uses into host paths (the launcher
// writes Windows paths); the identity unless a test sets it.
inline std::string (*g_mapPath)(const std::string&) = [](const std::string& p) { return p; };

inline HostFile Opened(HostFile file) {
  if (file != kNoFile) g_journal.open.insert(file);
  return file;
}

inline constexpr HostFileOps kInjectedFiles = {
    [](const std::string& path) -> HostFile {
      if (g_journal.Hit(Op::OpenRead)) return kNoFile;
      return Opened(PlatformFiles.OpenRead(g_mapPath(path)));
    },
    [](const std::string& path) -> HostFile {
      if (g_journal.Hit(Op::CreateTruncate)) return kNoFile;
      return Opened(PlatformFiles.CreateTruncate(g_mapPath(path)));
    },
    [](HostFile file, void* buffer, std::int32_t count) -> std::int32_t {
      g_journal.readCounts.push_back(count);
      const std::optional<Fault> fault = g_journal.Hit(Op::Read);
      if (fault == Fault::Fail) return -1;
      return PlatformFiles.Read(file, buffer, fault == Fault::Short ? count / 2 : count);
    },
    [](HostFile file, const void* buffer, std::int32_t count) -> std::int32_t {
      g_journal.writeCounts.push_back(count);
      const std::optional<Fault> fault = g_journal.Hit(Op::Write);
      if (fault == Fault::Fail) return -1;
      return PlatformFiles.Write(file, buffer, fault == Fault::Short ? count / 2 : count);
    },
    [](HostFile file) {
      if (g_journal.Hit(Op::Flush)) return false;
      return PlatformFiles.Flush(file);
    },
    // A failing close still gives the handle back: what is checked is that
    // the code under test neither stumbles over the report nor closes twice.
    [](HostFile file) {
      const bool failed = g_journal.Hit(Op::Close).has_value();
      if (g_journal.open.erase(file) != 1) return false;
      return PlatformFiles.Close(file) && !failed;
    },
    [](const std::string& path) {
      if (g_journal.Hit(Op::Delete)) return false;
      return PlatformFiles.Delete(g_mapPath(path));
    },
};

// A failing release still releases (so that the sanitizers stay quiet about
// the test itself) but reports the failure.
inline constexpr HeapOps kInjectedHeap = {
    [](std::size_t size) -> void* {
      if (g_journal.Hit(Op::GetMem)) return nullptr;
      void* block = SystemHeap.GetMem(size);
      if (block) {
        g_journal.live[block] = size;
        g_journal.allocSizes.push_back(size);
      }
      return block;
    },
    [](void* block) {
      if (!block) return true;
      const bool failed = g_journal.Hit(Op::FreeMem).has_value();
      auto it = g_journal.live.find(block);
      if (it == g_journal.live.end()) {
        ++g_journal.strayFrees;
        return false;
      }
      g_journal.freeSizes.push_back(it->second);
      g_journal.live.erase(it);
      return SystemHeap.FreeMem(block) && !failed;
    },
};

}  // namespace fault_injection
