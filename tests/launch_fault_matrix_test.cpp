// Fault injection across a whole launcher run: the extraction of the ten
// items, the decoding of the installer and its start.
//
// The launcher runs on a fake host (payload in memory, its Windows paths
// mapped onto a temporary folder, real files) whose file routines, heap,
// payload lookup, folder creation and shell start all go through the
// counting and failing tables of fault_injection.h. A clean run takes the
// census; then every call of every operation fails in turn. Each run must
// raise what that failure calls for, leave the eleven files as the failure
// says (older files untouched, items written before it complete, the failed
// item with what was written, the installer deleted after a failed decode),
// release every handle, payload item and heap block, start the installer
// only after a complete decode, and let the next run succeed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compress.h"
#include "fake_host_texts.h"
#include "fault_injection.h"
#include "host.h"
#include "host_texts.h"
#include "launch_sequence.h"
#include "lzh.h"
#include "payload_table.h"
#include "temp_dir.h"
#include "test_support.h"

using namespace fault_injection;

namespace {

namespace fs = std::filesystem;

struct Host {
  std::string tempFolder;                // as the host reports it (Windows style)
  std::map<std::string, Bytes> payload;  // by stored (upper-case) name
  int found = 0, freed = 0;
  std::vector<std::string> started;  // files handed to the shell
};
Host g_host;

}  // namespace

HostServiceOps HostServices = {
    [] { return g_host.tempFolder; },
    [](const std::string& path) {
      if (g_journal.Hit(Op::ForceDirectories)) return false;
      std::error_code ec;
      fs::create_directories(Posix(path), ec);
      return !ec;
    },
    [](const char* type, const std::string& name, PayloadBlock& block) {
      if (g_journal.Hit(Op::FindPayload) || std::string(type) != "FILE") return false;
      auto it = g_host.payload.find(Upper(name));
      if (it == g_host.payload.end()) return false;
      ++g_host.found;
      block = {it->second.data(), static_cast<std::uint32_t>(it->second.size()), &it->second};
      return true;
    },
    [](PayloadBlock& block) {
      if (block.Handle) ++g_host.freed;
      block = PayloadBlock{};
    },
    [](const std::string& file, const std::string&) {
      if (g_journal.Hit(Op::ShellOpen)) return ShellOutcome{false, false, 2};
      g_host.started.push_back(file);
      return ShellOutcome{true, false, 42};
    },
    FakeLoadText,
};

namespace {

// What one of the eleven files holds after a run; every file holds "old"
// before it.
enum class State { Old, New, Partial, Gone };

struct Expect {
  std::string className;  // empty: the run succeeds and starts the installer
  std::string message;
  std::vector<State> files;  // the ten items in table order, then Setup.exe
  std::size_t partialSize = 0;
};

const Bytes kOld = {'o', 'l', 'd'};

class LaunchFaultMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    g_host = Host{};
    g_host.tempFolder = dir_ / "Temp\\";
    staging_ = g_host.tempFolder + "Inst-Setup_Quarvel\\";
    std::uint32_t seed = 1;
    for (const PayloadItem& item : PayloadTable) {
      g_host.payload[Upper(item.ResourceName)] = RandomBytes(seed * 700, seed);
      ++seed;
    }
    g_host.payload["TEST4"] = {};  // an empty item: created, never written
    installer_ = SampleText(70000, 3);
    g_host.payload["TEST9"] =
        CompressedFile(static_cast<std::uint32_t>(installer_.size()), PackBody(installer_));
    g_mapPath = [](const std::string& p) { return Posix(p); };
    HostFiles = kInjectedFiles;
    Heap = kInjectedHeap;
  }
  void TearDown() override {
    HostFiles = PlatformFiles;
    Heap = SystemHeap;
    g_mapPath = [](const std::string& p) { return p; };
  }

  std::string WindowsPath(std::size_t file) const {
    return staging_ + (file < PayloadTable.size() ? PayloadTable[file].FileName : "Setup.exe");
  }
  Bytes Expected(std::size_t file) const {
    return file < PayloadTable.size() ? g_host.payload.at(Upper(PayloadTable[file].ResourceName))
                                      : installer_;
  }

  // Every file of an earlier run in place, each holding "old".
  void Prepare() {
    fs::create_directories(Posix(staging_));
    for (std::size_t f = 0; f <= PayloadTable.size(); ++f) WriteFile(Posix(WindowsPath(f)), kOld);
  }

  void Run(const std::vector<Injection>& injections, const Expect& expect) {
    g_journal = Journal{};
    g_journal.injections = injections;
    g_host.found = g_host.freed = 0;
    g_host.started.clear();
    std::string className, message;
    try {
      RunLaunchSequence();
    } catch (const Exception& e) {
      className = e.ClassName();
      message = e.Message();
    }
    EXPECT_EQ(className, expect.className);
    EXPECT_EQ(message, expect.message);
    if (expect.className.empty()) {
      EXPECT_EQ(g_host.started, std::vector<std::string>{WindowsPath(PayloadTable.size())});
    } else {
      EXPECT_TRUE(g_host.started.empty()) << "an installer was started after an error";
    }
    for (std::size_t f = 0; f < expect.files.size(); ++f) {
      const auto bytes = ReadFile(Posix(WindowsPath(f)));
      const Bytes want = Expected(f);
      switch (expect.files[f]) {
        case State::Old:
          EXPECT_TRUE(bytes == kOld) << WindowsPath(f) << " was touched";
          break;
        case State::New:
          EXPECT_TRUE(bytes == want) << WindowsPath(f) << " is not complete";
          break;
        case State::Partial:
          EXPECT_TRUE(bytes && bytes->size() == expect.partialSize &&
                      std::equal(bytes->begin(), bytes->end(), want.begin()))
              << WindowsPath(f) << " does not hold what was written";
          break;
        case State::Gone:
          EXPECT_FALSE(bytes.has_value()) << WindowsPath(f) << " stays";
          break;
      }
    }
    EXPECT_TRUE(g_journal.open.empty()) << g_journal.open.size() << " file(s) left open";
    EXPECT_EQ(g_host.found, g_host.freed) << "payload items not released";
    EXPECT_TRUE(g_journal.live.empty()) << g_journal.live.size() << " heap block(s) left";
    EXPECT_EQ(g_journal.strayFrees, 0);
  }

  Expect Success() const { return {"", "", std::vector<State>(11, State::New)}; }

  // The first `done` files complete, the one at `failed` in `state`, the
  // rest as they were.
  static std::vector<State> Files(std::size_t failed, State state) {
    std::vector<State> files(11, State::Old);
    for (std::size_t f = 0; f < failed; ++f) files[f] = State::New;
    if (failed < files.size()) files[failed] = state;
    return files;
  }

  TempDir dir_;
  std::string staging_;
  Bytes installer_;
};

TEST_F(LaunchFaultMatrix, EveryHostCallFailingInTurn) {
  Prepare();
  Run({}, Success());
  const Journal census = g_journal;
  const std::size_t items = PayloadTable.size();

  // The stage of each call of the census: the item being extracted (0-9),
  // the decode (10), the start (11).
  std::map<std::pair<Op, int>, std::size_t> stageOf;
  {
    std::array<int, kOps> seen{};
    std::size_t stage = 0;
    int lookups = 0;
    for (Op op : census.trace) {
      if (op == Op::FindPayload) stage = static_cast<std::size_t>(lookups++);
      // The decode starts with its buffers, then opens its input.
      if ((op == Op::GetMem && lookups == static_cast<int>(items)) || op == Op::OpenRead) {
        stage = items;
      }
      if (op == Op::ShellOpen) stage = items + 1;
      stageOf[{op, ++seen[static_cast<std::size_t>(op)]}] = stage;
    }
  }
  const std::string in = staging_ + "Setup.ex_", out = staging_ + "Setup.exe";
  const std::vector<State> decodeFailed = Files(items, State::Gone);
  const std::vector<State> decodeUntouched = Files(items, State::Old);

  auto expected = [&](Op op, int call, Fault fault) -> Expect {
    const std::size_t stage = stageOf.at({op, call});
    const auto k = static_cast<std::size_t>(call - 1);
    if (stage < items) {
      const std::string name = PayloadTable[stage].ResourceName;
      switch (op) {
        case Op::FindPayload:
          return {"EResNotFound", "Ressource " + name + " nicht gefunden",
                  Files(stage, State::Old)};
        case Op::CreateTruncate:
          return {"EFCreateError", "Datei " + WindowsPath(stage) + " kann nicht erstellt werden",
                  Files(stage, State::Old)};
        case Op::Write:
          return {"EWriteError", "Stream-Write-Fehler", Files(stage, State::Partial),
                  fault == Fault::Short ? static_cast<std::size_t>(census.writeCounts[k] / 2) : 0};
        case Op::ForceDirectories:
        case Op::Close:
          return Success();  // the folder exists already; a close is not checked
        default:
          break;
      }
    } else if (stage == items) {
      const std::string readingFrom = "Lzrw1 : ERROR READING FROM " + in + " !";
      switch (op) {
        case Op::OpenRead:
          return {"ELzrw1Exception", "Lzrw1 : Inputfile " + in + " not found !", decodeUntouched};
        case Op::CreateTruncate:
          return {"ELzrw1Exception", "Lzrw1 : Outputfile " + out + " can not be opened !",
                  decodeUntouched};
        case Op::Read:
          if (census.readCounts[k] == 4) return {"ELzrw1Exception", readingFrom, decodeFailed};
          if (fault == Fault::Short) return Success();
          return {"ELzrw1Exception", "Lzrw1/LZH : READ ERROR ON " + in + " !", decodeFailed};
        case Op::Write:
          return {"ELzrw1Exception", "Lzrw1 : ERROR WRITING TO " + out + " !", decodeFailed};
        case Op::Flush:
        case Op::Close:
          return Success();
        case Op::GetMem:
          if (census.allocSizes[k] == IoBufferSize) {
            return {"ELzrw1Exception", "Lzrw1 : no memory for I/O Buffers !!", decodeUntouched};
          }
          return {"ElzhException", kLzhNoMemory, decodeFailed};
        case Op::FreeMem:
          if (census.freeSizes[k] == IoBufferSize) return Success();
          return {"ElzhException", kLzhFreeError, decodeFailed};
        default:
          break;
      }
    } else if (op == Op::ShellOpen) {
      return {"EOSError", "Das Programm " + out + " kann nicht gestartet werden (Fehler 2).",
              Files(items + 1, State::New)};
    }
    ADD_FAILURE() << "no expectation for " << kOpNames[static_cast<int>(op)] << " call " << call;
    return Success();
  };

  for (int o = 0; o < kOps; ++o) {
    const Op op = static_cast<Op>(o);
    for (int call = 1; call <= census.calls[static_cast<std::size_t>(o)]; ++call) {
      for (Fault fault : {Fault::Fail, Fault::Short}) {
        if (fault == Fault::Short && !census.CanFallShort(op, call)) continue;
        SCOPED_TRACE(std::string(kOpNames[o]) + " call " + std::to_string(call) +
                     (fault == Fault::Fail ? " fails" : " moves half"));
        Prepare();
        Run({{op, call, fault}}, expected(op, call, fault));
        SCOPED_TRACE("the next run");
        Run({}, Success());
      }
    }
  }
}

// On a first run the staging folder does not exist yet: when it cannot be
// made, the first item's create error names the path, and nothing is made.
TEST_F(LaunchFaultMatrix, AStagingFolderThatCannotBeMadeStopsAtTheFirstItem) {
  Run({{Op::ForceDirectories, 1, Fault::Fail}},
      {"EFCreateError", "Datei " + WindowsPath(0) + " kann nicht erstellt werden",
       std::vector<State>(11, State::Gone)});
  EXPECT_FALSE(fs::exists(Posix(staging_)));
  Run({}, Success());
}

}  // namespace
