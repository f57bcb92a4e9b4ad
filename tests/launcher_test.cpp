// The launcher's platform-neutral part on a fake host: paths, the report
// text, the extraction of one item and the whole launch sequence.
//
// The fake host keeps the payload in memory and maps the launcher's Windows
// paths (backslashes) onto a temporary folder; the files are real.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "compress.h"
#include "fake_host_texts.h"
#include "host.h"
#include "host_files.h"
#include "host_texts.h"
#include "launch_sequence.h"
#include "lzh.h"
#include "payload_table.h"
#include "report_text.h"
#include "temp_dir.h"
#include "test_support.h"

namespace {

// ------------------------------------------------------------- fake host --

struct FakeHost {
  std::string tempFolder;                // Windows-style, as the host reports it
  std::map<std::string, Bytes> payload;  // by upper-case name, as stored
  int found = 0;
  int freed = 0;
  std::vector<std::string> forced;  // ForceDirectories calls
  std::vector<std::pair<std::string, std::string>> shellCalls;
  ShellOutcome shellOutcome{true, false, 42};
};
FakeHost* fake = nullptr;

bool FakeFindPayload(const char* type, const std::string& name, PayloadBlock& block) {
  if (std::string(type) != "FILE") return false;
  auto it = fake->payload.find(Upper(name));
  if (it == fake->payload.end()) return false;
  ++fake->found;
  block.Data = it->second.data();
  block.Size = static_cast<std::uint32_t>(it->second.size());
  block.Handle = &it->second;
  return true;
}

void FakeFreePayload(PayloadBlock& block) {
  if (block.Handle) ++fake->freed;
  block = PayloadBlock{};
}

bool FakeForceDirectories(const std::string& path) {
  fake->forced.push_back(path);
  std::error_code ec;
  std::filesystem::create_directories(Posix(path), ec);
  return !ec;
}

ShellOutcome FakeShellOpen(const std::string& file, const std::string& folder) {
  fake->shellCalls.emplace_back(file, folder);
  return fake->shellOutcome;
}

}  // namespace

HostServiceOps HostServices = {[] { return fake->tempFolder; },
                               FakeForceDirectories,
                               FakeFindPayload,
                               FakeFreePayload,
                               FakeShellOpen,
                               FakeLoadText};

namespace {

// The POSIX file routines behind the launcher's Windows paths.
const HostFileOps kMappedFiles = {
    [](const std::string& p) { return PlatformFiles.OpenRead(Posix(p)); },
    [](const std::string& p) { return PlatformFiles.CreateTruncate(Posix(p)); },
    PlatformFiles.Read,
    PlatformFiles.Write,
    PlatformFiles.Flush,
    PlatformFiles.Close,
    [](const std::string& p) { return PlatformFiles.Delete(Posix(p)); }};

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake = &host;
    HostFiles = kMappedFiles;
    host.tempFolder = dir / "Temp\\";
    std::filesystem::create_directories(dir / "Temp");
  }
  void TearDown() override {
    HostFiles = PlatformFiles;
    fake = nullptr;
  }

  // A kit of ten items whose installer decodes to `installer`.
  void AddKit(const Bytes& installer) {
    std::uint32_t seed = 1;
    for (const PayloadItem& item : PayloadTable) {
      host.payload[Upper(item.ResourceName)] = RandomBytes(seed * 1000, seed);
      ++seed;
    }
    host.payload["TEST9"] =
        CompressedFile(static_cast<std::uint32_t>(installer.size()), PackBody(installer));
  }

  std::string Staged(const std::string& name) const {
    return dir / ("Temp/Inst-Setup_Quarvel/" + name);
  }

  TempDir dir;
  FakeHost host;
};

// What was raised: the class as the report names it, the message, the
// address (kept apart from the object, which the catch would slice).
struct RaisedError {
  std::string className;
  std::string message;
  const void* address = nullptr;
  std::string Message() const { return message; }
};

template <class E, class F>
RaisedError Raised(F&& run) {
  try {
    run();
  } catch (const E& error) {
    return {error.ClassName(), error.Message(), error.Address()};
  }
  ADD_FAILURE() << "nothing of the expected class was raised";
  return {};
}

// -------------------------------------------------------------- paths ----

TEST(WithBackslash, AddsOneBackslashUnlessTheLastByteIsOne) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"C:\\x\\", "C:\\x\\"},
      {"C:\\x", "C:\\x\\"},
      {"\\", "\\"},
      {"C:\\x/", "C:\\x/\\"},
      // Shift-JIS "\x95\x5C" ends in the backslash byte: only the byte counts.
      {"C:\\\x95\x5C", "C:\\\x95\x5C"},
  };
  for (const auto& c : cases) EXPECT_EQ(WithBackslash(c.in), c.out) << c.in;
}

// --------------------------------------------------------- report text ----

TEST(ReportText, FillsClassModuleAddressMessageAndTheFullStopRule) {
  const std::string format = "Exception %s in Modul %s bei %p.\n%s%s";
  const struct {
    std::string message;
    std::uint32_t address;
    std::string text;
  } cases[] = {
      {"Ressource Test4 nicht gefunden", 0x1A2B,
       "Exception EResNotFound in Modul Setup_Quarvel.exe bei 00001A2B.\n"
       "Ressource Test4 nicht gefunden."},
      {"Schon mit Punkt.", 0xDEADBEEF,
       "Exception EResNotFound in Modul Setup_Quarvel.exe bei DEADBEEF.\nSchon mit Punkt."},
      {"", 0, "Exception EResNotFound in Modul Setup_Quarvel.exe bei 00000000.\n"},
      {"Endet mit Ausrufezeichen !", 7,
       "Exception EResNotFound in Modul Setup_Quarvel.exe bei 00000007.\n"
       "Endet mit Ausrufezeichen !."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FatalReportText(format, "EResNotFound", "Setup_Quarvel.exe", c.address, c.message),
              c.text);
  }
}

TEST(ReportText, FormatTextTakesArgumentsInOrderAndNeverMore) {
  EXPECT_EQ(FormatText("Fehler %d bei %s", {"5", "C:\\a"}), "Fehler 5 bei C:\\a");
  EXPECT_EQ(FormatText("100%% von %s", {"x"}), "100% von x");
  // Directives beyond the arguments stay empty; unknown ones are kept as text.
  EXPECT_EQ(FormatText("%s %s %s", {"a"}), "a  ");
  EXPECT_EQ(FormatText("%x %s", {"a"}), "%x a");
  // An argument's own % is not read as a directive.
  EXPECT_EQ(FormatText("%s", {"%s%d"}), "%s%d");
  EXPECT_EQ(FormatText("Ende %", {}), "Ende %");
}

TEST(ReportText, BaseFileNameDropsTheFolder) {
  EXPECT_EQ(BaseFileName("C:\\Users\\u\\Downloads\\Setup_Quarvel.exe"), "Setup_Quarvel.exe");
  EXPECT_EQ(BaseFileName("Setup_Quarvel.exe"), "Setup_Quarvel.exe");
  EXPECT_EQ(BaseFileName("C:\\dir\\"), "");
}

// ---------------------------------------------------------- extraction ----

TEST_F(LauncherTest, ExtractionWritesTheItemByteForByteOverAnOlderFile) {
  host.payload["TEST3"] = RandomBytes(70000, 3);
  const std::string target = dir / "Liesmich.txt";
  WriteFile(target, RandomBytes(100000, 9));
  EXPECT_TRUE(ExtractPayloadItem("FILE", "Test3", target));
  EXPECT_EQ(ReadFile(target), host.payload["TEST3"]);
  EXPECT_EQ(host.freed, 1);
}

TEST_F(LauncherTest, ExtractionOfAnEmptyItemGivesAnEmptyFile) {
  host.payload["TEST4"] = {};
  const std::string target = dir / "Beispiel.dbqrv";
  WriteFile(target, RandomBytes(10, 1));
  EXPECT_TRUE(ExtractPayloadItem("FILE", "Test4", target));
  EXPECT_EQ(ReadFile(target), Bytes{});
}

TEST_F(LauncherTest, AMissingItemIsReportedByTheNameAsPassedAndCreatesNothing) {
  host.payload["TEST1"] = RandomBytes(10, 1);
  const std::string target = dir / "Beispiel.dbqrv";
  const auto error = Raised<EResNotFound>([&] { ExtractPayloadItem("FILE", "Test10", target); });
  EXPECT_EQ(error.Message(), "Ressource Test10 nicht gefunden");
  EXPECT_EQ(error.className, "EResNotFound");
  EXPECT_NE(error.address, nullptr);
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_EQ(host.freed, 0);
}

TEST_F(LauncherTest, AFileThatCannotBeCreatedIsNamedAndTheItemReleased) {
  host.payload["TEST1"] = RandomBytes(10, 1);
  const std::string target = dir / "no-such-folder\\Quarvel.ex_";
  const auto error = Raised<EFCreateError>([&] { ExtractPayloadItem("FILE", "Test1", target); });
  EXPECT_EQ(error.Message(), "Datei " + target + " kann nicht erstellt werden");
  EXPECT_EQ(host.freed, 1);
}

TEST_F(LauncherTest, AShortWriteRaisesTheStreamErrorAndClosesAndReleases) {
  host.payload["TEST2"] = RandomBytes(5000, 2);
  static int closes = 0;
  closes = 0;
  HostFiles.Write = [](HostFile f, const void* b, std::int32_t n) {
    return PlatformFiles.Write(f, b, n / 2);
  };
  HostFiles.Close = [](HostFile f) {
    ++closes;
    return PlatformFiles.Close(f);
  };
  const auto error =
      Raised<EWriteError>([&] { ExtractPayloadItem("FILE", "Test2", dir / "Quarvel.ch_"); });
  EXPECT_EQ(error.Message(), "Stream-Write-Fehler");
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(host.freed, 1);
}

// ------------------------------------------------------- launch sequence --

TEST_F(LauncherTest, TheSequenceStagesTheKitDecodesTheInstallerAndStartsIt) {
  const Bytes installer = SampleRecords(100000);
  AddKit(installer);
  EXPECT_EQ(RunLaunchSequence(), LaunchOutcome::Started);

  const std::string staging = host.tempFolder + "Inst-Setup_Quarvel";
  EXPECT_EQ(host.forced, std::vector<std::string>{staging});
  for (const PayloadItem& item : PayloadTable) {
    EXPECT_EQ(ReadFile(Staged(item.FileName)), host.payload[Upper(item.ResourceName)])
        << item.FileName;
  }
  EXPECT_EQ(ReadFile(Staged("Setup.exe")), installer);
  EXPECT_EQ(host.freed, 10);
  ASSERT_EQ(host.shellCalls.size(), 1u);
  EXPECT_EQ(host.shellCalls[0].first, staging + "\\Setup.exe");
  EXPECT_EQ(host.shellCalls[0].second, staging);
}

TEST_F(LauncherTest, TheSequenceInsertsABackslashOnlyWhereTheTempFolderLacksOne) {
  AddKit(SampleText(100));
  host.tempFolder.pop_back();
  RunLaunchSequence();
  ASSERT_EQ(host.shellCalls.size(), 1u);
  EXPECT_EQ(host.shellCalls[0].second, host.tempFolder + "\\Inst-Setup_Quarvel");
}

TEST_F(LauncherTest, AMissingItemStopsTheSequenceBeforeTheLaterItems) {
  AddKit(SampleText(100));
  host.payload.erase("TEST4");
  const auto error = Raised<EResNotFound>([] { RunLaunchSequence(); });
  EXPECT_EQ(error.Message(), "Ressource Test4 nicht gefunden");
  EXPECT_TRUE(std::filesystem::exists(Staged("Liesmich.txt")));
  EXPECT_FALSE(std::filesystem::exists(Staged("TrickTip.tx_")));
  EXPECT_TRUE(host.shellCalls.empty());
}

TEST_F(LauncherTest, AFailedDecodeStartsNothingAndLeavesNoInstaller) {
  const struct {
    const char* what;
    Bytes test9;
    std::string messageEnd;
  } cases[] = {
      {"plain file", SampleText(3000), " : NOT A COMPRESSED FILE !"},
      {"header only", Bytes{'!', 'H', 'Z', 'L'}, " !"},
  };
  for (const auto& c : cases) {
    AddKit(SampleText(100));
    host.shellCalls.clear();
    // An installer from an earlier run is not what gets started either.
    std::filesystem::create_directories(dir / "Temp/Inst-Setup_Quarvel");
    WriteFile(Staged("Setup.exe"), SampleText(50));
    host.payload["TEST9"] = c.test9;
    const auto error = Raised<ELzrw1Exception>([] { RunLaunchSequence(); });
    const std::string& message = error.Message();
    EXPECT_TRUE(message.ends_with(c.messageEnd)) << c.what << ": " << message;
    EXPECT_FALSE(std::filesystem::exists(Staged("Setup.exe"))) << c.what;
    EXPECT_TRUE(host.shellCalls.empty()) << c.what;
  }
}

TEST_F(LauncherTest, ATruncatedInstallerIsADecodeError) {
  AddKit(RandomBytes(20000, 5));
  Bytes& test9 = host.payload["TEST9"];
  test9.resize(test9.size() / 2);
  EXPECT_THROW(RunLaunchSequence(), ElzhException);
  EXPECT_FALSE(std::filesystem::exists(Staged("Setup.exe")));
  EXPECT_TRUE(host.shellCalls.empty());
}

TEST_F(LauncherTest, AStartTheShellRefusesIsAnOSError) {
  AddKit(SampleText(100));
  host.shellOutcome = ShellOutcome{false, false, 2};
  const auto error = Raised<EOSError>([] { RunLaunchSequence(); });
  EXPECT_EQ(error.Message(), "Das Programm " + host.tempFolder +
                                 "Inst-Setup_Quarvel\\Setup.exe kann nicht gestartet werden "
                                 "(Fehler 2).");
}

TEST_F(LauncherTest, ADeclinedElevationEndsQuietly) {
  AddKit(SampleText(100));
  host.shellOutcome = ShellOutcome{false, true, 5};
  EXPECT_EQ(RunLaunchSequence(), LaunchOutcome::Declined);
}

TEST_F(LauncherTest, WithoutATemporaryFolderNothingIsWritten) {
  AddKit(SampleText(100));
  host.tempFolder.clear();
  const auto error = Raised<Exception>([] { RunLaunchSequence(); });
  EXPECT_EQ(error.className, "Exception");
  EXPECT_EQ(error.Message(), "Der temporäre Ordner kann nicht ermittelt werden.");
  EXPECT_TRUE(host.forced.empty());
  EXPECT_EQ(host.found, 0);
}

}  // namespace
