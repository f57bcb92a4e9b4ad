// File routines on Win32: CreateFileA with share mode 0, so that no other
// handle, in this process or another, can open a file while we hold it.
#include <windows.h>

#include "host_files.h"

namespace {

HANDLE H(HostFile file) {
  return reinterpret_cast<HANDLE>(file);
}
HostFile F(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<HostFile>(handle);
}

HostFile Win32OpenRead(const std::string& path) {
  if (path.empty()) return kNoFile;
  return F(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr));
}

// CREATE_ALWAYS opens without sharing before it truncates, so a file that is
// held open elsewhere is left untouched.
HostFile Win32CreateTruncate(const std::string& path) {
  if (path.empty()) return kNoFile;
  return F(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::int32_t Win32Read(HostFile file, void* buffer, std::int32_t count) {
  DWORD got = 0;
  if (count < 0 || !ReadFile(H(file), buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
  return static_cast<std::int32_t>(got);
}

std::int32_t Win32Write(HostFile file, const void* buffer, std::int32_t count) {
  DWORD done = 0;
  if (count < 0 || !WriteFile(H(file), buffer, static_cast<DWORD>(count), &done, nullptr)) {
    return -1;
  }
  return static_cast<std::int32_t>(done);
}

bool Win32Flush(HostFile file) {
  return FlushFileBuffers(H(file)) != 0;
}
bool Win32Close(HostFile file) {
  return CloseHandle(H(file)) != 0;
}
bool Win32Delete(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

}  // namespace

const HostFileOps PlatformFiles = {Win32OpenRead, Win32CreateTruncate, Win32Read,  Win32Write,
                                   Win32Flush,    Win32Close,          Win32Delete};
HostFileOps HostFiles = PlatformFiles;
