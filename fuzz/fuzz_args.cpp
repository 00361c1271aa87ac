// Arguments against the exports: a sequence of calls with any channel, count, address, page
// count and name, and null pointers where the host may pass them. The programmer on
// channel 0 is silent, so a call that passes its checks ends at its first reply.
//
// Input: link state, then calls until the input is used up:
//   op, flags (bit 0 null res, bit 1 null text, bit 2 null value/buffer/name), channel
//   selector, then the call's own arguments.
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "api/NURVA_DLL.h"
#include "fuzz/FuzzHarness.h"

using namespace nurva::fuzz;

namespace {

int32_t Channel(FuzzInput& in) {
  static constexpr int32_t kChannels[] = {0, 0, 0, 1, -1, 15, 16, 255, 256, INT_MIN, INT_MAX};
  const uint8_t s = in.Byte();
  if (s < std::size(kChannels)) return kChannels[s];
  return s == 0xFF ? in.Long() : static_cast<int32_t>(s);
}

// A count near the edges the exports check, or any 32-bit value.
int32_t Count(FuzzInput& in) {
  static constexpr int32_t kCounts[] = {0, 1, 31, 32, 33, 255, 256, 257, 0xFFFF, 0x10000, -1, INT_MIN, INT_MAX};
  const uint8_t s = in.Byte();
  if (s < std::size(kCounts)) return kCounts[s];
  return s == 0xFF ? in.Long() : static_cast<int32_t>(s);
}

// A host buffer of exactly `n` bytes (at least one), so any touch beyond it is caught.
std::unique_ptr<uint8_t[]> Buffer(int64_t n) {
  const size_t k = n > 0 ? static_cast<size_t>(n) : 1;
  auto b = std::make_unique<uint8_t[]>(k);
  std::memset(b.get(), 0xA5, k);
  return b;
}

// A name of any bytes and any length, ending only where its buffer ends.
std::unique_ptr<char[]> Name(FuzzInput& in) {
  const size_t n = in.Word() % 1024;
  std::vector<uint8_t> bytes = in.Bytes(n);
  auto s = std::make_unique<char[]>(bytes.size() + 1);
  if (!bytes.empty()) std::memcpy(s.get(), bytes.data(), bytes.size());
  s[bytes.size()] = 0;
  return s;
}

// The size of block an export may touch for `count` once it accepted it; none when it
// must refuse the count.
int64_t BlockFor(int op, int32_t count) {
  switch (op) {
    case 0: case 2: return 256;                              // program blocks of Flash and UsrRow
    case 1: return count > 0 && count <= 256 ? count : 0;    // EEprom program block
    case 3: case 4: case 5: return count > 0 && count <= 32 ? count : 0;
    default: return count >= 0 && count <= 0xFFFF ? count : 0;  // file and up-file blocks
  }
}

using BlockCall = void (*)(int32_t, const uint8_t*, int32_t, int32_t, int32_t*, char*);
using UpCall = void (*)(int32_t, uint8_t*, int32_t, int32_t, int32_t*, char*);

void DownProgF(int32_t c, const uint8_t* b, int32_t d, int32_t, int32_t* r, char* t) { DownProgBlockF(c, b, d, r, t); }
void DownProgU(int32_t c, const uint8_t* b, int32_t d, int32_t, int32_t* r, char* t) { DownProgBlockU(c, b, d, r, t); }

constexpr BlockCall kBlockCalls[] = {DownProgF,      DownProgBlockE, DownProgU,      DownOverBlockF, DownOverBlockE,
                                     DownOverBlockU, DownFileBlockF, DownFileBlockE, DownFileBlockU};
constexpr UpCall kUpCalls[] = {UpFileBlockF, UpFileBlockE, UpFileBlockU};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  Harness& h = Harness::Get();
  h.Reset(in.Byte());
  for (int calls = 0; calls < 64 && in.RestSize() > 0; ++calls) {
    const uint8_t op = in.Byte();
    const uint8_t flags = in.Byte();
    const int32_t ch = Channel(in);
    Answer a;
    int32_t* res = (flags & 1) ? nullptr : a.Res();
    char* text = (flags & 2) ? nullptr : a.Text();
    const bool nullArg = (flags & 4) != 0;
    const char* call = "?";
    switch (op % 24) {
      case 0: call = "CheckProgrammer"; CheckProgrammer(ch, res, text); break;
      case 1: call = "InitChannel"; InitChannel(ch, res, text); break;
      case 2: call = "ReleaseTarget"; ReleaseTarget(ch, res, text); break;
      case 3: call = "CheckDevice"; CheckDevice(ch, res, text); break;
      case 4: {
        call = "GetTargVolt";
        int32_t v = 0;
        GetTargVolt(ch, nullArg ? nullptr : &v, res, text);
        break;
      }
      case 5: {
        call = "GetFuses";
        int32_t f = 0;
        GetFuses(ch, in.Long(), nullArg ? nullptr : &f, res, text);
        break;
      }
      case 6: call = "GetFileNames"; GetFileNames(ch, res, text); break;
      case 7: case 8: case 9: case 10: case 11: {
        auto name = Name(in);
        const char* n = nullArg ? nullptr : name.get();
        switch (op % 24) {
          case 7: call = "CheckAfile"; CheckAfile(ch, n, res, text); break;
          case 8: call = "OpenAfile"; OpenAfile(ch, n, res, text); break;
          case 9: call = "DeleteAfile"; DeleteAfile(ch, n, res, text); break;
          case 10: call = "GetProjParams"; GetProjParams(ch, n, res, text); break;
          default: call = "DownloadFile"; DownloadFile(ch, n, res, text); break;
        }
        break;
      }
      case 12: call = "CloseAfile"; CloseAfile(ch, res, text); break;
      case 13: call = "GetFileState"; GetFileState(ch, res, text); break;
      case 14: call = "GetProgStatus"; GetProgStatus(ch, res, text); break;
      case 15: {
        const uint8_t which = in.Byte() % 3;
        const int32_t addr = in.Long();
        const int32_t pages = Count(in);
        const int64_t n = which == 1 ? (pages > 0 && pages <= 256 ? pages : 0) : 256;
        auto mem = Buffer(n);
        uint8_t* p = nullArg ? nullptr : mem.get();
        call = "ReadBackChip";
        if (which == 0) ReadBackChipF(ch, p, addr, res, text);
        if (which == 1) ReadBackChipE(ch, p, addr, pages, res, text);
        if (which == 2) ReadBackChipU(ch, p, addr, res, text);
        break;
      }
      case 16: case 17: {
        const int which = in.Byte() % 9;
        const int32_t dest = in.Long();
        const int32_t count = Count(in);
        auto block = Buffer(BlockFor(which, count));
        call = "block transfer";
        kBlockCalls[which](ch, nullArg ? nullptr : block.get(), dest, count, res, text);
        break;
      }
      case 18: {
        const int which = in.Byte() % 3;
        const int32_t dest = in.Long();
        const int32_t count = Count(in);
        auto block = Buffer(BlockFor(6, count));
        call = "UpFileBlock";
        kUpCalls[which](ch, nullArg ? nullptr : block.get(), dest, count, res, text);
        break;
      }
      case 19: {
        call = "GetProgIDs";
        int32_t count = 0;
        GetProgIDs(nullArg ? nullptr : &count, text);
        break;
      }
      case 20: call = "ClosePort"; ClosePort(ch, res, text); break;
      case 21: call = "EraseDevice"; EraseDevice(ch, res, text); break;
      case 22: call = "ProgDevice"; ProgDevice(ch, res, text); break;
      default: call = "VerifyDevice"; VerifyDevice(ch, res, text); break;
    }
    if (text) a.Check(call);
    else {
      Require(a.Code() == Answer::kHostRes || (a.Code() >= 0 && a.Code() < nurva::kPrgResultCount), call,
              "res is no result code");
      Require(!h.Link().busy.load(), call, "the channel stays busy");
    }
  }
  return 0;
}
