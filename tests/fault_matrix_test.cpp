// Fault injection across a whole DecompressFile() run.
//
// The host's file routines and the heap are replaced by tables that pass each
// call on to the real ones and count it, so that any single call can be made
// to fail (or to move fewer bytes than asked). A first, clean run takes the
// census of the calls a decompression makes; then every call position of
// every operation is made to fail in turn. Each run must end with the message
// its failure calls for (or succeed, where the failure is one the
// decompressor ignores or absorbs), leave the output file as that failure
// says (untouched, deleted, or complete), and give back every open handle and
// every heap block; and the next, fault-free call must succeed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "compress.h"
#include "fault_injection.h"
#include "host_files.h"
#include "lzh.h"
#include "lzh_packer.h"
#include "rtl/heap.h"
#include "test_support.h"

namespace {

using namespace fault_injection;
namespace fs = std::filesystem;

// What becomes of the output file, which holds "old" before each run.
enum class Output { Untouched, Deleted, Complete, Partial };

struct Expect {
  std::string message;  // empty: the run succeeds
  std::string className;
  Output output;
};

struct Sample {
  const char* name;
  Bytes data;
};

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

const Bytes kOld = {'o', 'l', 'd'};

class FaultMatrix : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    dir_ = fs::path(fs::exists("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) /
           ("quarvel-faults-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    in_ = (dir_ / "Setup.ex_").string();
    out_ = (dir_ / "Setup.exe").string();
    sample_ = Samples()[static_cast<std::size_t>(GetParam())];
    file_ = CompressedFile(static_cast<std::uint32_t>(sample_.data.size()), PackBody(sample_.data));
    WriteAll(in_, file_);
    InFileName = in_;
    OutFileName = out_;
    HostFiles = kInjectedFiles;
    Heap = kInjectedHeap;
  }
  void TearDown() override {
    HostFiles = PlatformFiles;
    Heap = SystemHeap;
    fs::remove_all(dir_);
  }

  static std::vector<Sample> Samples() {
    // More than one 32 KiB block of output and of input, not a multiple of
    // either; an empty output; an output of exactly two blocks.
    Bytes mixed;
    std::mt19937 random(7);
    while (mixed.size() < 100000) {
      if (random() % 3 == 0) {
        for (int k = 0; k < 200; ++k) mixed.push_back(static_cast<std::uint8_t>(random()));
      } else {
        const std::string line = "item " + std::to_string(random() % 50) + " of the kit\r\n";
        mixed.insert(mixed.end(), line.begin(), line.end());
      }
    }
    Bytes twoBlocks(65536);
    for (std::size_t i = 0; i < twoBlocks.size(); ++i) {
      twoBlocks[i] = static_cast<std::uint8_t>(i * i >> 7);
    }
    return {{"mixed", mixed}, {"empty", {}}, {"two_blocks", twoBlocks}};
  }

  // One run with the given faults: result, then everything checked.
  void Run(const std::vector<Injection>& injections, const Expect& expect) {
    WriteAll(out_, kOld);
    g_journal = Journal{};
    g_journal.injections = injections;
    std::string message = "", className = "";
    int result = 0;
    try {
      result = DecompressFile();
    } catch (const Exception& e) {
      message = e.Message();
      className = e.ClassName();
    }
    EXPECT_EQ(message, expect.message);
    if (expect.message.empty()) {
      EXPECT_EQ(result, 1);
    } else {
      EXPECT_EQ(className, expect.className);
    }

    const bool there = fs::exists(out_);
    const Bytes output = there ? ReadAll(out_) : Bytes{};
    switch (expect.output) {
      case Output::Untouched:
        EXPECT_TRUE(there && output == kOld) << "the output was touched";
        break;
      case Output::Deleted:
        EXPECT_FALSE(there) << "the output stays after the error";
        break;
      case Output::Complete:
        EXPECT_TRUE(there && output == sample_.data) << "the output is not complete";
        break;
      case Output::Partial:
        EXPECT_TRUE(there && output.size() % IoBufferSize == 0 &&
                    std::equal(output.begin(), output.end(), sample_.data.begin()))
            << "the output is not the blocks written before the error";
        break;
    }
    EXPECT_TRUE(g_journal.open.empty()) << g_journal.open.size() << " file(s) left open";
    EXPECT_TRUE(g_journal.live.empty()) << g_journal.live.size() << " heap block(s) left";
    EXPECT_EQ(g_journal.strayFrees, 0);
    EXPECT_EQ(ReadAll(in_), file_) << "the input was changed";
  }

  // The fault-free call after a failed one.
  void RunClean() {
    SCOPED_TRACE("the next call");
    Run({}, {"", "", Output::Complete});
  }

  fs::path dir_;
  std::string in_, out_;
  Sample sample_;
  Bytes file_;
};

std::string Describe(const Injection& i) {
  return std::string(kOpNames[static_cast<int>(i.op)]) + " call " + std::to_string(i.call) +
         (i.fault == Fault::Fail ? " fails" : " moves half");
}

TEST_P(FaultMatrix, EveryCallOfEveryOperationFailingInTurn) {
  SCOPED_TRACE(sample_.name);
  Run({}, {"", "", Output::Complete});
  const Journal census = g_journal;
  ASSERT_EQ(census.calls[static_cast<int>(Op::Delete)], 0);

  const std::string readingFrom = "Lzrw1 : ERROR READING FROM " + in_ + " !";
  const std::string readError = "Lzrw1/LZH : READ ERROR ON " + in_ + " !";
  const std::string writingTo = "Lzrw1 : ERROR WRITING TO " + out_ + " !";
  const Expect success = {"", "", Output::Complete};
  const Expect noBuffers = {"Lzrw1 : no memory for I/O Buffers !!", "ELzrw1Exception",
                            Output::Untouched};

  // The outcome of making call `call` of `op` fail, by what that call does.
  auto expected = [&](Op op, int call, Fault fault) -> Expect {
    const std::size_t k = static_cast<std::size_t>(call - 1);
    switch (op) {
      case Op::OpenRead:
        return {"Lzrw1 : Inputfile " + in_ + " not found !", "ELzrw1Exception", Output::Untouched};
      case Op::CreateTruncate:
        return {"Lzrw1 : Outputfile " + out_ + " can not be opened !", "ELzrw1Exception",
                Output::Untouched};
      case Op::Read:
        if (census.readCounts[k] == 4) return {readingFrom, "ELzrw1Exception", Output::Deleted};
        // A body read that moves fewer bytes is no error: the rest comes
        // with the next read.
        if (fault == Fault::Short) return success;
        return {readError, "ELzrw1Exception", Output::Deleted};
      case Op::Write:
        return {writingTo, "ELzrw1Exception", Output::Deleted};
      case Op::Flush:
      case Op::Close:
        return success;  // the clean-up ignores what they report
      case Op::GetMem:
        if (census.allocSizes[k] == IoBufferSize) return noBuffers;
        return {kLzhNoMemory, "ElzhException", Output::Deleted};
      case Op::FreeMem:
        if (census.freeSizes[k] == IoBufferSize) return success;  // ignored
        return {kLzhFreeError, "ElzhException", Output::Deleted};
      case Op::Delete:
      case Op::FindPayload:
      case Op::ForceDirectories:
      case Op::ShellOpen:
        break;  // not called by a decompression that succeeds
    }
    ADD_FAILURE() << "no expectation for " << kOpNames[static_cast<int>(op)];
    return success;
  };

  // Two I/O buffers and the decoder's four tables, each given back.
  ASSERT_EQ(census.allocSizes.size(), 6u);
  ASSERT_EQ(census.freeSizes.size(), 6u);
  for (int o = 0; o < kOps; ++o) {
    const Op op = static_cast<Op>(o);
    for (int call = 1; call <= census.calls[static_cast<std::size_t>(o)]; ++call) {
      for (Fault fault : {Fault::Fail, Fault::Short}) {
        if (fault == Fault::Short && !census.CanFallShort(op, call)) continue;
        const Injection injection = {op, call, fault};
        SCOPED_TRACE(Describe(injection));
        Run({injection}, expected(op, call, fault));
        RunClean();
      }
    }
  }
}

// Two faults at once: the error that came first is the one reported.
TEST_P(FaultMatrix, ASecondFaultDuringTheCleanUpKeepsTheFirstError) {
  SCOPED_TRACE(sample_.name);
  Run({}, {"", "", Output::Complete});
  const Journal census = g_journal;
  const int writes = census.calls[static_cast<int>(Op::Write)];
  const bool readsBody = census.calls[static_cast<int>(Op::Read)] > 2;
  const std::string readError = "Lzrw1/LZH : READ ERROR ON " + in_ + " !";
  const std::string writingTo = "Lzrw1 : ERROR WRITING TO " + out_ + " !";
  const std::string readingFrom = "Lzrw1 : ERROR READING FROM " + in_ + " !";

  struct Case {
    const char* what;
    bool applies;
    std::vector<Injection> injections;
    Expect expect;
  };
  const Case cases[] = {
      // The deletion's outcome is ignored: what was written stays.
      {"the last write fails and the output cannot be deleted",
       true,
       {{Op::Write, writes, Fault::Fail}, {Op::Delete, 1, Fault::Fail}},
       {writingTo, "ELzrw1Exception", Output::Partial}},
      {"the signature read fails and the output cannot be deleted",
       true,
       {{Op::Read, 1, Fault::Fail}, {Op::Delete, 1, Fault::Fail}},
       {readingFrom, "ELzrw1Exception", Output::Partial}},
      // The tables are released quietly on the way out of a failed unpack.
      {"a body read fails and the first table cannot be released",
       readsBody,
       {{Op::Read, 3, Fault::Fail}, {Op::FreeMem, 1, Fault::Fail}},
       {readError, "ELzrw1Exception", Output::Deleted}},
      {"the last write fails and the input cannot be closed",
       true,
       {{Op::Write, writes, Fault::Fail}, {Op::Close, 2, Fault::Fail}},
       {writingTo, "ELzrw1Exception", Output::Deleted}},
  };
  for (const Case& c : cases) {
    if (!c.applies) continue;
    SCOPED_TRACE(c.what);
    Run(c.injections, c.expect);
    RunClean();
  }
}

std::string SampleName(const ::testing::TestParamInfo<int>& param) {
  static const char* const names[] = {"Mixed", "Empty", "TwoBlocks"};
  return names[param.param];
}

INSTANTIATE_TEST_SUITE_P(Samples, FaultMatrix, ::testing::Values(0, 1, 2), SampleName);

}  // namespace
