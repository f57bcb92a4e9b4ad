// The demo kit's installer (packed into the kit as "Setup.ex_").
//
// The launcher starts it in the staging folder. It reads "Setup.lst" next to
// itself: the section [General] names the install folder (Folder=, under the
// user's local application-data folder), the section [Files] lists
// "kit file=installed file" pairs. Kit files whose name ends in "_" are
// compressed and are decoded with the launcher's own decompressor; the others
// are copied. It writes install.log into the install folder, shows nothing,
// and ends with 0 when every listed item was installed, 1 otherwise.
#include <windows.h>
// After windows.h, which it needs.
#include <shlobj.h>

#include <string>
#include <utility>
#include <vector>

#include "compress.h"
#include "rtl/exception.h"

namespace {

struct Settings {
  std::string folder;
  std::vector<std::pair<std::string, std::string>> files;  // kit file, installed file
};

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool ReadWholeFile(const std::string& path, std::string& content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0) {
    content.append(buffer, got);
  }
  CloseHandle(file);
  return ok;
}

// A name for a file or folder directly inside another: no separators, no
// drive, not "." or "..".
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("\\/:") == std::string::npos;
}

bool ParseSettings(const std::string& text, Settings& settings, std::string& problem) {
  std::string section;
  std::size_t start = 0;
  bool sawGeneral = false;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      sawGeneral = sawGeneral || lstrcmpiA(section.c_str(), "General") == 0;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, equals));
    const std::string value = Trim(line.substr(equals + 1));
    if (lstrcmpiA(section.c_str(), "General") == 0 && lstrcmpiA(key.c_str(), "Folder") == 0) {
      settings.folder = value;
    } else if (lstrcmpiA(section.c_str(), "Files") == 0) {
      if (!IsPlainName(key) || !IsPlainName(value)) {
        problem = "bad file entry: " + line;
        return false;
      }
      settings.files.emplace_back(key, value);
    }
  }
  if (!sawGeneral)
    problem = "no [General] section";
  else if (!IsPlainName(settings.folder))
    problem = "[General] Folder= is missing or not a plain name";
  return problem.empty();
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string OwnFolder() {
  char path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return length == 0 || length >= sizeof path ? std::string() : FolderOf(std::string(path, length));
}

long long FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

class Log {
 public:
  explicit Log(const std::string& path)
      : file_(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~Log() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  bool IsOpen() const { return file_ != INVALID_HANDLE_VALUE; }
  void Line(const std::string& text) {
    const std::string line = text + "\r\n";
    DWORD done = 0;
    if (IsOpen()) WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
  }

 private:
  HANDLE file_;
};

// Installs one item; returns an empty string or what went wrong.
std::string InstallItem(const std::string& source, const std::string& target, bool compressed) {
  if (compressed) {
    InFileName = source;
    OutFileName = target;
    try {
      DecompressFile();
    } catch (const Exception& error) {
      return error.Message();
    }
    return {};
  }
  if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
    return "copy failed, error " + std::to_string(GetLastError());
  }
  return {};
}

int RunDemoSetup() {
  const std::string kit = OwnFolder();
  char appData[MAX_PATH * 4];
  if (kit.empty() || FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE,
                                             nullptr, 0, appData))) {
    return 1;
  }
  std::string text;
  Settings settings;
  std::string problem;
  if (!ReadWholeFile(kit + "Setup.lst", text))
    problem = "cannot read " + kit + "Setup.lst";
  else
    ParseSettings(text, settings, problem);
  // Without a usable Setup.lst there is no install folder to log into; the
  // log then goes next to the kit.
  const std::string target =
      problem.empty() ? std::string(appData) + "\\" + settings.folder + "\\" : kit;
  if (problem.empty() && !CreateDirectoryA(target.c_str(), nullptr) &&
      GetLastError() != ERROR_ALREADY_EXISTS) {
    problem = "cannot create " + target;
  }
  Log log((problem.empty() ? target : kit) + "install.log");
  log.Line("Quarvel demo setup");
  log.Line("kit: " + kit);
  if (!problem.empty()) {
    log.Line("FAILED: " + problem);
    return 1;
  }
  log.Line("install folder: " + target);
  int failed = 0;
  for (const auto& [name, installed] : settings.files) {
    const bool compressed = name.back() == '_';
    const std::string error = InstallItem(kit + name, target + installed, compressed);
    if (error.empty()) {
      log.Line(std::string(compressed ? "decoded " : "copied ") + name + " -> " + installed + ", " +
               std::to_string(FileSize(target + installed)) + " bytes");
    } else {
      ++failed;
      log.Line("FAILED " + name + " -> " + installed + ": " + error);
    }
  }
  log.Line("done: " + std::to_string(settings.files.size() - static_cast<std::size_t>(failed)) +
           " installed, " + std::to_string(failed) + " failed");
  return failed == 0 ? 0 : 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return RunDemoSetup();
}
