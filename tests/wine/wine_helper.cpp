// Helper for the end-to-end tests, run under Wine next to the launcher:
//
//   wine_helper hold FILE READY RELEASE read|none   opens FILE with read
//       sharing only (or none), creates READY, and keeps FILE open until
//       RELEASE exists (60 s at most)
//   wine_helper read-box TITLE OUT        writes the text of the message box
//       titled TITLE to OUT (UTF-8), waiting up to 20 s for it to appear
//   wine_helper strings EXE FIRST LAST OUT  writes the string-table texts
//       FIRST..LAST of EXE to OUT, one "id=text" line each (UTF-8, "\n" as \n)
//   wine_helper together OUT EXE...       starts every EXE suspended, then
//       lets them all run at once, waits for them and writes their exit
//       codes to OUT, one line each in the order given
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

bool WriteText(const wchar_t* path, const std::string& text) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
                  done == text.size();
  CloseHandle(file);
  return ok;
}

bool Exists(const wchar_t* path) {
  return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

int Hold(const wchar_t* path, const wchar_t* ready, const wchar_t* release, DWORD share) {
  HANDLE file = CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  WriteText(ready, "held\n");
  for (int i = 0; i < 600 && !Exists(release); ++i) Sleep(100);
  CloseHandle(file);
  return 0;
}

int ReadBox(const wchar_t* title, const wchar_t* out) {
  HWND box = nullptr;
  for (int i = 0; i < 200 && !box; ++i) {
    box = FindWindowW(L"#32770", title);
    if (!box) Sleep(100);
  }
  if (!box) return 2;
  // The message text of a message box is its static control 0xFFFF.
  wchar_t text[4096];
  const int length = GetDlgItemTextW(box, 0xFFFF, text, 4096);
  return WriteText(out, Utf8(text, length)) ? 0 : 3;
}

int Strings(const wchar_t* exe, int first, int last, const wchar_t* out) {
  HMODULE module = LoadLibraryExW(exe, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return 2;
  std::string all;
  for (int id = first; id <= last; ++id) {
    const wchar_t* text = nullptr;
    // With a zero length, LoadStringW hands out a pointer to the text itself.
    const int length =
        LoadStringW(module, static_cast<UINT>(id), reinterpret_cast<wchar_t*>(&text), 0);
    std::string line = Utf8(text, length);
    std::string escaped;
    for (char c : line) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    all += std::to_string(id) + "=" + escaped + "\n";
  }
  FreeLibrary(module);
  return WriteText(out, all) ? 0 : 3;
}

int Together(const wchar_t* out, int count, wchar_t** programs) {
  std::string codes;
  PROCESS_INFORMATION started[MAXIMUM_WAIT_OBJECTS] = {};
  if (count > MAXIMUM_WAIT_OBJECTS) return 2;
  for (int i = 0; i < count; ++i) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring line = L"\"" + std::wstring(programs[i]) + L"\"";
    if (!CreateProcessW(programs[i], line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &started[i])) {
      return 3;
    }
  }
  for (int i = 0; i < count; ++i) ResumeThread(started[i].hThread);
  for (int i = 0; i < count; ++i) {
    WaitForSingleObject(started[i].hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(started[i].hProcess, &code);
    codes += std::to_string(code) + "\n";
    CloseHandle(started[i].hThread);
    CloseHandle(started[i].hProcess);
  }
  return WriteText(out, codes) ? 0 : 4;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"hold" && argc == 6) {
    const DWORD share = std::wstring(argv[5]) == L"read" ? FILE_SHARE_READ : 0;
    return Hold(argv[2], argv[3], argv[4], share);
  }
  if (command == L"read-box" && argc == 4) return ReadBox(argv[2], argv[3]);
  if (command == L"strings" && argc == 6) {
    return Strings(argv[2], _wtoi(argv[3]), _wtoi(argv[4]), argv[5]);
  }
  if (command == L"together" && argc >= 4) return Together(argv[2], argc - 3, argv + 3);
  return 64;
}
