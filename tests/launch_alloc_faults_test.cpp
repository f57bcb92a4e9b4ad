// A launcher run with each of its operator new calls failing in turn.
//
// The extraction takes nothing from the decoder's heap (launch_fault_matrix_
// test fails that heap); what it allocates are its strings: the paths, the
// messages, the texts of the host. Any of those allocations may fail, and the
// product then shows the out-of-memory report. Whichever fails, the run must
// end with std::bad_alloc, leave the items before the one in work complete
// and those after as they were, keep no file open, no payload item held and
// no heap block, start nothing, and the next run must succeed.
//
// The fake host's own bookkeeping is kept out of the count, so that every
// failure counted is one the launcher's code meets.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "compress.h"
#include "fake_host_texts.h"
#include "host.h"
#include "host_files.h"
#include "host_texts.h"
#include "launch_sequence.h"
#include "payload_table.h"
#include "rtl/heap.h"
#include "temp_dir.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// The item a call belongs to: 1 to 10 while that item is extracted, 11 from
// the decode on.
constexpr int kDecodeStage = 11;
constexpr int kMaxCalls = 1024;

struct Journal {
  bool counting = false;  // operator new counts only during a run...
  int quiet = 0;          // ...and not for the fake host's bookkeeping
  int calls = 0;
  int failAt = 0;  // the call that fails; 0: none
  int stage = 0;
  std::array<int, kMaxCalls> stageOf{};  // census: the stage of each call
  std::map<HostFile, std::string> open;
  int payloadHeld = 0;
  std::map<void*, std::size_t> heapLive;
  std::vector<std::string> started;
};
Journal g;

struct Quiet {
  Quiet() { ++g.quiet; }
  ~Quiet() { --g.quiet; }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;
};

}  // namespace

// Every form is replaced, so that no block of one allocator reaches the
// release of another (the sanitizers check that).
void* operator new(std::size_t size) {
  if (g.counting && g.quiet == 0) {
    const int n = ++g.calls;
    if (n <= kMaxCalls) g.stageOf[static_cast<std::size_t>(n - 1)] = g.stage;
    if (n == g.failAt) throw std::bad_alloc();
  }
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::nothrow);
}
// GCC takes the pairing of its own operator new with free() for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}

namespace {

std::string g_tempFolder;
std::map<std::string, Bytes> g_payload;  // by upper-case resource name

}  // namespace

HostServiceOps HostServices = {
    [] { return g_tempFolder; },
    [](const std::string& path) {
      const Quiet quiet;
      std::error_code ec;
      fs::create_directories(Posix(path), ec);
      return !ec;
    },
    [](const char*, const std::string& name, PayloadBlock& block) {
      const Quiet quiet;
      const std::string upper = Upper(name);
      for (std::size_t i = 0; i < PayloadTable.size(); ++i) {
        if (Upper(PayloadTable[i].ResourceName) == upper) g.stage = static_cast<int>(i) + 1;
      }
      const auto it = g_payload.find(upper);
      if (it == g_payload.end()) return false;
      block = {it->second.data(), static_cast<std::uint32_t>(it->second.size()), &it->second};
      ++g.payloadHeld;
      return true;
    },
    [](PayloadBlock& block) {
      if (block.Handle) --g.payloadHeld;
      block = PayloadBlock{};
    },
    [](const std::string& file, const std::string&) {
      const Quiet quiet;
      g.started.push_back(file);
      return ShellOutcome{true, false, 42};
    },
    FakeLoadText,
};

namespace {

HostFile Opened(HostFile file, const std::string& path) {
  const Quiet quiet;
  if (file != kNoFile) g.open[file] = path;
  return file;
}

const HostFileOps kCountedFiles = {
    [](const std::string& path) {
      g.stage = kDecodeStage;  // only the decoder opens a file for reading
      const Quiet quiet;
      return Opened(PlatformFiles.OpenRead(Posix(path)), path);
    },
    [](const std::string& path) {
      const Quiet quiet;
      return Opened(PlatformFiles.CreateTruncate(Posix(path)), path);
    },
    PlatformFiles.Read,
    PlatformFiles.Write,
    PlatformFiles.Flush,
    [](HostFile file) {
      if (g.open.erase(file) != 1) return false;
      return PlatformFiles.Close(file);
    },
    [](const std::string& path) {
      const Quiet quiet;
      return PlatformFiles.Delete(Posix(path));
    },
};

const HeapOps kCountedHeap = {
    [](std::size_t size) -> void* {
      void* block = SystemHeap.GetMem(size);
      const Quiet quiet;
      if (block) g.heapLive[block] = size;
      return block;
    },
    [](void* block) {
      if (!block) return true;
      const Quiet quiet;
      g.heapLive.erase(block);
      return SystemHeap.FreeMem(block);
    },
};

// What a file of the staging folder may hold after a run; each held "old"
// before it.
enum class State {
  Old,
  Complete,
  Prefix,    // old, or any beginning of its content up to all of it
  NotBegun,  // Setup.exe: old, gone or complete, but never a part
};
const char* const kStateNames[] = {"old", "complete", "old or a beginning", "old, gone or whole"};

class LaunchAllocFaults : public ::testing::Test {
 protected:
  static constexpr std::size_t kFiles = PayloadTable.size() + 1;  // the items, Setup.exe

  void SetUp() override {
    for (std::size_t i = 0; i < PayloadTable.size(); ++i) {
      g_payload[Upper(PayloadTable[i].ResourceName)] =
          RandomBytes(i == 3 ? 0 : 300 + 50 * i, static_cast<std::uint32_t>(i + 1));
    }
    installer_ = SampleRecords(70000);
    g_payload["TEST9"] =
        CompressedFile(static_cast<std::uint32_t>(installer_.size()), PackBody(installer_));
    g_tempFolder = dir_ / "Temp\\";
    staging_ = g_tempFolder + "Inst-Setup_Quarvel\\";
    HostFiles = kCountedFiles;
    Heap = kCountedHeap;
  }
  void TearDown() override {
    HostFiles = PlatformFiles;
    Heap = SystemHeap;
    g_payload.clear();
  }

  std::string Path(std::size_t f) const {
    return Posix(staging_ + (f < PayloadTable.size() ? PayloadTable[f].FileName : "Setup.exe"));
  }
  const Bytes& Content(std::size_t f) const {
    return f < PayloadTable.size() ? g_payload.at(Upper(PayloadTable[f].ResourceName)) : installer_;
  }
  static Bytes Old(std::size_t f) {
    const std::string text = "left from an earlier run, file " + std::to_string(f);
    return Bytes(text.begin(), text.end());
  }

  // One run with call `failAt` of operator new failing (0: none).
  void Run(int failAt, const std::array<State, kFiles>& files) {
    fs::create_directories(Posix(staging_));
    for (std::size_t f = 0; f < kFiles; ++f) WriteFile(Path(f), Old(f));
    g = Journal{};
    g.failAt = failAt;
    bool outOfMemory = false;
    g.counting = true;
    try {
      RunLaunchSequence();
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
    }
    g.counting = false;

    EXPECT_EQ(outOfMemory, failAt != 0);
    for (std::size_t f = 0; f < kFiles; ++f) {
      const std::optional<Bytes> now = ReadFile(Path(f));
      const Bytes& full = Content(f);
      const bool prefix =
          now && now->size() <= full.size() && std::equal(now->begin(), now->end(), full.begin());
      bool ok = false;
      switch (files[f]) {
        case State::Old:
          ok = now == Old(f);
          break;
        case State::Complete:
          ok = now == full;
          break;
        case State::Prefix:
          ok = now == Old(f) || prefix;
          break;
        case State::NotBegun:
          ok = !now || now == Old(f) || now == full;
          break;
      }
      EXPECT_TRUE(ok) << Path(f) << " is not " << kStateNames[static_cast<int>(files[f])] << " ("
                      << (now ? std::to_string(now->size()) + " bytes" : "gone") << ")";
    }
    EXPECT_TRUE(g.open.empty()) << g.open.size() << " file(s) left open, "
                                << (g.open.empty() ? "" : g.open.begin()->second);
    EXPECT_EQ(g.payloadHeld, 0) << "payload items not released";
    EXPECT_TRUE(g.heapLive.empty()) << g.heapLive.size() << " heap block(s) left";
    if (failAt == 0) {
      EXPECT_EQ(g.started.size(), 1u);
    } else {
      EXPECT_TRUE(g.started.empty()) << "started after a failure: " << g.started.front();
    }
  }

  static std::array<State, kFiles> AllComplete() {
    std::array<State, kFiles> files;
    files.fill(State::Complete);
    return files;
  }

  // In memory where there is a /dev/shm: ext4 writes a file out on the close
  // after it was truncated, and that takes seconds over a hundred runs.
  struct Folder {
    Folder() {
      const fs::path base =
          fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
      std::string pattern = (base / "quarvel-alloc-faults-XXXXXX").string();
      path = mkdtemp(pattern.data());
    }
    ~Folder() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    fs::path path;
  };

  Folder dir_;
  std::string staging_;
  Bytes installer_;
};

TEST_F(LaunchAllocFaults, EveryAllocationOfARunFailingInTurn) {
  Run(0, AllComplete());
  const Journal census = g;
  ASSERT_GT(census.calls, 10);
  ASSERT_LE(census.calls, kMaxCalls);

  for (int call = 1; call <= census.calls; ++call) {
    const int stage = census.stageOf[static_cast<std::size_t>(call - 1)];
    SCOPED_TRACE("allocation " + std::to_string(call) + " fails, item " + std::to_string(stage));
    std::array<State, kFiles> files{};
    for (std::size_t f = 0; f < kFiles; ++f) {
      const int item = static_cast<int>(f) + 1;
      files[f] = item < stage ? State::Complete : item == stage ? State::Prefix : State::Old;
    }
    if (stage == kDecodeStage) files[kFiles - 1] = State::NotBegun;
    Run(call, files);
    SCOPED_TRACE("the next run");
    Run(0, AllComplete());
  }
}

}  // namespace
