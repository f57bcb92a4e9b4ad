// A stand-in installer for the end-to-end tests: it records how it was
// started into "probe-run.txt" next to itself (UTF-8): the working folder,
// the command line, the arguments after the program name and the show state
// from STARTUPINFO. It shows nothing.
//
// Every start is also kept apart from the staging folder, which may be full
// or held by another launcher: the program file it was started from is
// copied, as read at start, to C:\probe-starts\<process id>.exe, so that a
// test can count the starts and compare each started file byte for byte.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

// The command line after the program name, the way the C runtime splits it.
std::wstring Arguments(const std::wstring& line) {
  std::size_t i = 0;
  if (i < line.size() && line[i] == L'"') {
    i = line.find(L'"', 1);
    i = i == std::wstring::npos ? line.size() : i + 1;
  } else {
    while (i < line.size() && line[i] != L' ' && line[i] != L'\t') ++i;
  }
  while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
  return line.substr(i);
}

// The copy of our own program file; "<id>.unreadable" when it cannot be read.
void RecordStart(const std::wstring& self) {
  const std::wstring folder = L"C:\\probe-starts\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring id = std::to_wstring(GetCurrentProcessId());
  std::string image;
  HANDLE file = CreateFileW(self.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  bool read = file != INVALID_HANDLE_VALUE;
  if (read) {
    char buffer[65536];
    DWORD got = 0;
    while ((read = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0) {
      image.append(buffer, got);
    }
    CloseHandle(file);
  }
  const std::wstring copy = folder + id + (read ? L".exe" : L".unreadable");
  HANDLE out = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  WriteFile(out, image.data(), static_cast<DWORD>(image.size()), &done, nullptr);
  CloseHandle(out);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t folder[32768];
  const DWORD folderLength = GetCurrentDirectoryW(32768, folder);
  wchar_t self[32768];
  DWORD selfLength = GetModuleFileNameW(nullptr, self, 32768);
  RecordStart(std::wstring(self, selfLength));
  while (selfLength > 0 && self[selfLength - 1] != L'\\') --selfLength;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);

  const std::wstring line = GetCommandLineW();
  std::string record = "cwd=" + Utf8(std::wstring(folder, folderLength)) + "\n";
  record += "cmdline=" + Utf8(line) + "\n";
  record += "args=" + Utf8(Arguments(line)) + "\n";
  record += "show=" +
            ((startup.dwFlags & STARTF_USESHOWWINDOW) ? std::to_string(startup.wShowWindow)
                                                      : std::string("unset")) +
            "\n";

  const std::wstring path = std::wstring(self, selfLength) + L"probe-run.txt";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD done = 0;
  WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &done, nullptr);
  CloseHandle(file);
  return 0;
}
