#include <cstddef>

#include "lzh.h"
#include "rtl/heap.h"
#include "unpack_stream.h"

namespace {

template <class T>
bool Take(T*& block, std::size_t entries) {
  block = static_cast<T*>(Heap.GetMem(entries * sizeof(T)));
  return block != nullptr;
}

template <class T>
bool Give(T*& block) {
  bool ok = Heap.FreeMem(block);
  block = nullptr;
  return ok;
}

bool GiveAll(LzhWorkTables& t) {
  bool ok = Give(t.Window);
  ok = Give(t.Tree.Freq) && ok;
  ok = Give(t.Tree.Parent) && ok;
  ok = Give(t.Tree.Child) && ok;
  return ok;
}

}  // namespace

void AllocWorkTables(LzhWorkTables& t) {
  t = LzhWorkTables{};
  if (!Take(t.Window, WindowSize) || !Take(t.Tree.Freq, TreeSize + 1) ||
      !Take(t.Tree.Parent, TreeSize + SymbolCount) || !Take(t.Tree.Child, TreeSize)) {
    GiveAll(t);
    Raise<ElzhException>(kLzhNoMemory);
  }
}

void FreeWorkTables(LzhWorkTables& t) {
  if (!GiveAll(t)) Raise<ElzhException>(kLzhFreeError);
}

void FreeWorkTablesQuietly(LzhWorkTables& t) noexcept {
  GiveAll(t);
}

void RaiseTruncatedBody() {
  Raise<ElzhException>(kLzhTruncated);
}

void UnpackStream(std::int32_t TextSize, TReadBytesProc ReadProc, TWriteBytesProc WriteProc) {
  auto source = [ReadProc](std::uint8_t& byte) {
    std::uint16_t got = 0;
    ReadProc(&byte, 1, got);
    return got == 1;
  };
  auto sink = [WriteProc](std::uint8_t byte) {
    std::uint16_t done = 0;
    WriteProc(&byte, 1, done);  // the count taken is not examined
  };
  UnpackStreamWith(TextSize, source, sink);
}
