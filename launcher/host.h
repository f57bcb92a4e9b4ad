// The host services the launcher needs besides the file routines
// (host_files.h): the temporary folder, folder creation, the payload lookup,
// the shell start and the texts of the string table.
//
// One table of plain functions, like HostFiles: the product uses the Win32
// implementation (host_win32.cpp); the native tests install their own, so
// that the launch sequence and the extraction run on a fake host.
#pragma once

#include <cstdint>
#include <string>

// One payload item as a read-only block inside the program image. `Handle`
// belongs to the host; the block stays valid until FreePayload.
struct PayloadBlock {
  const std::uint8_t* Data = nullptr;
  std::uint32_t Size = 0;
  void* Handle = nullptr;
};

// What the shell made of a start request.
struct ShellOutcome {
  bool Started = false;
  bool Cancelled = false;  // the user declined an elevation prompt
  int Code = 0;            // the shell's result code
};

struct HostServiceOps {
  // The user's temporary folder as a full path, or empty when the host
  // reports none.
  std::string (*TempFolder)();
  // Creates `path` and every missing parent; an existing folder is success.
  // Raises Exception for an empty path, otherwise failure is only `false`.
  bool (*ForceDirectories)(const std::string& path);
  // Finds the program's own item of `type` and `name` (names compare without
  // regard to case); false when it has none.
  bool (*FindPayload)(const char* type, const std::string& name, PayloadBlock& block);
  void (*FreePayload)(PayloadBlock& block);
  // Asks the shell to "open" `file` with no parameters in `folder`, show
  // state SW_SHOW and no owner window; returns without waiting.
  ShellOutcome (*ShellOpen)(const std::string& file, const std::string& folder);
  // The text `id` of the string table (host_texts.h), in the ANSI code page.
  std::string (*LoadText)(unsigned id);
};

// The table in use. The product's is the Win32 one; a native test program
// defines its own.
extern HostServiceOps HostServices;

// The payload item `name` of `type`, held for the lifetime of the object.
// A missing item raises EResNotFound with the name as passed.
class PayloadItemData {
 public:
  PayloadItemData(const char* type, const std::string& name);
  ~PayloadItemData() { HostServices.FreePayload(block_); }
  PayloadItemData(const PayloadItemData&) = delete;
  PayloadItemData& operator=(const PayloadItemData&) = delete;

  const std::uint8_t* Data() const { return block_.Data; }
  std::uint32_t Size() const { return block_.Size; }

 private:
  PayloadBlock block_;
};
