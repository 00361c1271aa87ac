// The host side of the block transfers and read back: one call per export, and whole
// ranges moved block by block.
#include <algorithm>
#include <cctype>

#include "api/NURVA_DLL.h"
#include "tools/cli/CallLog.h"
#include "tools/cli/Host.h"

namespace nurva::cli {

namespace {

constexpr uint32_t kBlock = 256;          // a read-back block; a Flash or user-row program block
constexpr uint32_t kFileChunk = 4096;     // bytes per file block
constexpr uint32_t kUpFileChunk = 1024;   // bytes per up-file block
constexpr uint32_t kMaxOpenRead = 16u << 20;  // a read to the end stops here at the latest

// The exports of one kind, by memory.
template <class Fn>
struct ByMemory {
  const char* name[3];
  Fn fn[3];
};

template <class Fn>
Result Call(const ByMemory<Fn>& e, Memory m, const std::string& args,
            const std::function<void(Fn, int32_t*, char*)>& call) {
  const auto i = static_cast<size_t>(m);
  Result r{e.name[i], -1, {}};
  std::string text(NURVA_TEXT_BUFFER_SIZE, '\0');
  CallLog log(r, args);
  call(e.fn[i], &r.res, text.data());
  r.text = text.c_str();
  log.Done();
  return r;
}

// The block calls' arguments for the trace.
std::string BlockArgs(int channel, int32_t at, int32_t count) {
  return "channel=" + std::to_string(channel) + ", address=" + std::to_string(at) + ", count=" + std::to_string(count);
}

// The over, file and up-file exports share one signature across the memories; the
// read-back and program-block ones differ (only their EEprom form takes a Count).
using BlockFn = void (*)(int32_t, const uint8_t*, int32_t, int32_t, int32_t*, char*);
using UpFn = void (*)(int32_t, uint8_t*, int32_t, int32_t, int32_t*, char*);

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool Untouched(const uint8_t* b, size_t n, uint8_t fill) {
  return std::all_of(b, b + n, [&](uint8_t x) { return x == fill; });
}

}  // namespace

const char* MemoryName(Memory m) {
  switch (m) {
    case Memory::Flash: return "Flash";
    case Memory::EEprom: return "EEprom";
    case Memory::UsrRow: return "user row";
  }
  return "?";
}

std::optional<Memory> ParseMemory(const std::string& s) {
  const std::string l = Lower(s);
  if (l == "flash" || l == "f") return Memory::Flash;
  if (l == "eeprom" || l == "ee" || l == "e") return Memory::EEprom;
  if (l == "usrrow" || l == "usr" || l == "userrow" || l == "u") return Memory::UsrRow;
  return std::nullopt;
}

Result CallReadBackChip(int channel, Memory m, uint8_t* dest, int32_t address, int32_t count) {
  static const char* const names[] = {"ReadBackChipF", "ReadBackChipE", "ReadBackChipU"};
  Result r{names[static_cast<size_t>(m)], -1, {}};
  std::string text(NURVA_TEXT_BUFFER_SIZE, '\0');
  CallLog log(r, BlockArgs(channel, address, count));
  switch (m) {
    case Memory::Flash: ReadBackChipF(channel, dest, address, &r.res, text.data()); break;
    case Memory::EEprom: ReadBackChipE(channel, dest, address, count, &r.res, text.data()); break;
    case Memory::UsrRow: ReadBackChipU(channel, dest, address, &r.res, text.data()); break;
  }
  r.text = text.c_str();
  log.Done();
  return r;
}

Result CallDownProgBlock(int channel, Memory m, const uint8_t* block, int32_t dest, int32_t count) {
  static const char* const names[] = {"DownProgBlockF", "DownProgBlockE", "DownProgBlockU"};
  Result r{names[static_cast<size_t>(m)], -1, {}};
  std::string text(NURVA_TEXT_BUFFER_SIZE, '\0');
  CallLog log(r, BlockArgs(channel, dest, count));
  switch (m) {
    case Memory::Flash: DownProgBlockF(channel, block, dest, &r.res, text.data()); break;
    case Memory::EEprom: DownProgBlockE(channel, block, dest, count, &r.res, text.data()); break;
    case Memory::UsrRow: DownProgBlockU(channel, block, dest, &r.res, text.data()); break;
  }
  r.text = text.c_str();
  log.Done();
  return r;
}

Result CallDownOverBlock(int channel, Memory m, const uint8_t* block, int32_t dest, int32_t count) {
  static const ByMemory<BlockFn> e{{"DownOverBlockF", "DownOverBlockE", "DownOverBlockU"},
                                   {DownOverBlockF, DownOverBlockE, DownOverBlockU}};
  return Call<BlockFn>(e, m, BlockArgs(channel, dest, count), [&](BlockFn fn, int32_t* res, char* text) { fn(channel, block, dest, count, res, text); });
}

Result CallDownFileBlock(int channel, Memory m, const uint8_t* block, int32_t dest, int32_t count) {
  static const ByMemory<BlockFn> e{{"DownFileBlockF", "DownFileBlockE", "DownFileBlockU"},
                                   {DownFileBlockF, DownFileBlockE, DownFileBlockU}};
  return Call<BlockFn>(e, m, BlockArgs(channel, dest, count), [&](BlockFn fn, int32_t* res, char* text) { fn(channel, block, dest, count, res, text); });
}

Result CallUpFileBlock(int channel, Memory m, uint8_t* block, int32_t dest, int32_t count) {
  static const ByMemory<UpFn> e{{"UpFileBlockF", "UpFileBlockE", "UpFileBlockU"},
                                {UpFileBlockF, UpFileBlockE, UpFileBlockU}};
  return Call<UpFn>(e, m, BlockArgs(channel, dest, count), [&](UpFn fn, int32_t* res, char* text) { fn(channel, block, dest, count, res, text); });
}

Transfer ReadMemory(int channel, Memory m, uint32_t address, uint32_t size, std::vector<uint8_t>& out,
                    const ProgressFn& progress) {
  Transfer t;
  out.clear();
  const bool toEnd = size == 0;
  const uint64_t total = toEnd ? kMaxOpenRead : size;
  uint8_t buf[kBlock];
  while (t.done < total) {
    const auto want = static_cast<uint32_t>(std::min<uint64_t>(kBlock, total - t.done));
    const auto at = static_cast<int32_t>(address + static_cast<uint32_t>(t.done));
    std::fill(buf, buf + kBlock, 0xFF);
    t.last = CallReadBackChip(channel, m, buf, at, static_cast<int32_t>(want));
    if (t.last.res != NURVA_RES_resOk) {
      // Without a size, the first block that brings no byte at all is the memory's end.
      // The library leaves the buffer as it was when nothing came; a second try with
      // another fill tells that from a block of 0xFF bytes with a bad checksum.
      if (!toEnd || t.last.res != NURVA_RES_dwnLoadErrF || !Untouched(buf, want, 0xFF)) return t;
      std::fill(buf, buf + kBlock, 0x00);
      Result again = CallReadBackChip(channel, m, buf, at, static_cast<int32_t>(want));
      if (again.res == NURVA_RES_resOk) {
        t.last = again;
      } else {
        if (again.res != NURVA_RES_dwnLoadErrF || !Untouched(buf, want, 0x00)) return t;
        t.ended = true;
        break;
      }
    }
    out.insert(out.end(), buf, buf + want);
    t.done += want;
    if (progress) progress(t.done, toEnd ? 0 : size);
  }
  t.ok = !toEnd || t.done > 0;
  return t;
}

Transfer WriteTarget(int channel, Memory m, uint32_t address, const std::vector<uint8_t>& data,
                     const ProgressFn& progress) {
  Transfer t;
  t.ok = true;
  uint8_t block[kBlock];
  while (t.done < data.size()) {
    const size_t n = std::min<size_t>(kBlock, data.size() - t.done);
    const auto at = static_cast<int32_t>(address + static_cast<uint32_t>(t.done));
    if (m != Memory::EEprom && n < kBlock) {
      // A program block is 256 bytes: the bytes after the data keep what the target holds.
      Result r = CallReadBackChip(channel, m, block, at, kBlock);
      if (r.res != NURVA_RES_resOk) {
        t.ok = false;
        t.last = r;
        return t;
      }
    }
    std::copy(data.begin() + static_cast<std::ptrdiff_t>(t.done),
              data.begin() + static_cast<std::ptrdiff_t>(t.done + n), block);
    t.last = CallDownProgBlock(channel, m, block, at, static_cast<int32_t>(n));
    if (t.last.res != NURVA_RES_resOk) {
      t.ok = false;
      return t;
    }
    t.done += n;
    if (progress) progress(t.done, data.size());
  }
  return t;
}

Transfer WriteProject(int channel, Memory m, uint32_t address, const std::vector<uint8_t>& data,
                      const ProgressFn& progress) {
  Transfer t;
  t.ok = true;
  while (t.done < data.size()) {
    const size_t n = std::min<size_t>(kFileChunk, data.size() - t.done);
    const auto at = static_cast<int32_t>(address + static_cast<uint32_t>(t.done));
    t.last = CallDownFileBlock(channel, m, data.data() + t.done, at, static_cast<int32_t>(n));
    if (t.last.res != NURVA_RES_resOk) {
      t.ok = false;
      return t;
    }
    t.done += n;
    if (progress) progress(t.done, data.size());
  }
  return t;
}

Transfer ReadProject(int channel, Memory m, uint32_t address, uint32_t size, std::vector<uint8_t>& out,
                     const ProgressFn& progress) {
  Transfer t;
  t.ok = true;
  out.assign(size, 0xFF);
  while (t.done < size) {
    const size_t n = std::min<size_t>(kUpFileChunk, size - t.done);
    const auto at = static_cast<int32_t>(address + static_cast<uint32_t>(t.done));
    t.last = CallUpFileBlock(channel, m, out.data() + t.done, at, static_cast<int32_t>(n));
    if (t.last.res != NURVA_RES_resOk) {
      t.ok = false;
      return t;
    }
    t.done += n;
    if (progress) progress(t.done, size);
  }
  return t;
}

}  // namespace nurva::cli
