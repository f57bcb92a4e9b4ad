// The host's file routines, as the decompressor and the extraction use them.
//
// One table of plain functions, implemented once per platform (POSIX for the
// native build, Win32 for the product). Tests replace entries of `HostFiles`
// to inject faults. The calls are per file or per 32 KiB block, never per
// byte, so the indirection costs nothing measurable.
//
// Semantics every implementation keeps:
//  - OpenRead: an existing file, read access, not shared with anyone.
//  - CreateTruncate: create or truncate for reading and writing, not shared;
//    a file held open elsewhere (this process included) is neither truncated
//    nor replaced: the exclusive hold is taken before truncating.
//  - Read and Write move up to `count` bytes and return the count moved,
//    0 at end of file, -1 on failure.
//  - Flush writes the file's data to the disk; Close releases the handle;
//    Delete removes the file by name. Their outcome is reported but the
//    callers of this system ignore it where they say so.
#pragma once

#include <cstdint>
#include <string>

using HostFile = std::intptr_t;
inline constexpr HostFile kNoFile = -1;

struct HostFileOps {
  HostFile (*OpenRead)(const std::string& path);
  HostFile (*CreateTruncate)(const std::string& path);
  std::int32_t (*Read)(HostFile file, void* buffer, std::int32_t count);
  std::int32_t (*Write)(HostFile file, const void* buffer, std::int32_t count);
  bool (*Flush)(HostFile file);
  bool (*Close)(HostFile file);
  bool (*Delete)(const std::string& path);
};

// The table in use; starts as the platform's own routines.
extern HostFileOps HostFiles;
extern const HostFileOps PlatformFiles;
