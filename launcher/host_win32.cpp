// Host services on Win32: GetTempPathA, a ForceDirectories of our own on
// CreateDirectoryA and GetFileAttributesA, the payload lookup on the
// program's own resources, ShellExecuteA, LoadStringA and the MessageBoxA
// fatal-error report.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdint>

#include "host.h"
#include "host_texts.h"
#include "host_win32.h"
#include "report_text.h"
#include "rtl/exception.h"

namespace {

// The first request uses 255 bytes, the terminating zero included; a longer
// path is asked for again with the length the host reports.
std::string Win32TempFolder() {
  std::string buffer(255, '\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.assign(length + 1, '\0');
  }
  return {};
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder part of `path`, with its trailing separator ("C:\a\b" -> "C:\a\").
std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool CreateWithParents(std::string path) {
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  if (path.size() < 3 || DirectoryExists(path)) return true;
  const std::string parent = ParentOf(path);
  if (parent.empty() || parent == path) return true;
  if (!CreateWithParents(parent)) return false;
  // Someone else may have made it meanwhile.
  return CreateDirectoryA(path.c_str(), nullptr) || DirectoryExists(path);
}

std::string Win32LoadText(unsigned id) {
  char buffer[1024];
  const int length = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

bool Win32ForceDirectories(const std::string& path) {
  if (path.empty()) Raise<Exception>(Win32LoadText(IDS_CREATE_DIR_ERROR));
  return CreateWithParents(path);
}

bool Win32FindPayload(const char* type, const std::string& name, PayloadBlock& block) {
  HRSRC info = FindResourceA(nullptr, name.c_str(), type);
  if (!info) return false;
  HGLOBAL handle = LoadResource(nullptr, info);
  if (!handle) return false;
  block.Data = static_cast<const std::uint8_t*>(LockResource(handle));
  block.Size = SizeofResource(nullptr, info);
  block.Handle = handle;
  if (!block.Data && block.Size > 0) {
    FreeResource(handle);
    block = PayloadBlock{};
    return false;
  }
  return true;
}

void Win32FreePayload(PayloadBlock& block) {
  if (block.Handle) FreeResource(static_cast<HGLOBAL>(block.Handle));
  block = PayloadBlock{};
}

ShellOutcome Win32ShellOpen(const std::string& file, const std::string& folder) {
  SetLastError(ERROR_SUCCESS);
  const HINSTANCE result =
      ShellExecuteA(nullptr, "open", file.c_str(), "", folder.c_str(), SW_SHOW);
  const DWORD lastError = GetLastError();
  ShellOutcome outcome;
  outcome.Code = static_cast<int>(reinterpret_cast<std::intptr_t>(result));
  outcome.Started = outcome.Code > 32;
  outcome.Cancelled = !outcome.Started && lastError == ERROR_CANCELLED;
  return outcome;
}

std::string ModuleFileName() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    if (buffer.size() >= 32768) return buffer;
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

HostServiceOps HostServices = {Win32TempFolder,  Win32ForceDirectories, Win32FindPayload,
                               Win32FreePayload, Win32ShellOpen,        Win32LoadText};

void RestrictDllSearchToSystem() {
  using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  FARPROC proc = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (!proc) return;
  // Through the generic function pointer type, which may be cast to any other.
  auto setDefault =
      reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void (*)()>(proc));
  setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void ShowFatalReport(const std::string& className, const std::string& message,
                     const void* address) {
  const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr));
  const auto raw = reinterpret_cast<std::uintptr_t>(address);
  const auto relative = static_cast<std::uint32_t>(raw ? raw - base : 0);
  const std::string text = FatalReportText(Win32LoadText(IDS_FATAL_REPORT), className,
                                           BaseFileName(ModuleFileName()), relative, message);
  const std::string caption = Win32LoadText(IDS_APP_ERROR_CAPTION);
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_TASKMODAL | MB_ICONERROR | MB_OK);
}
