// A project file from the host onto the card: the time stamp ('D'), the file's name ('d')
// and its blocks, each a length, the data and a checksum. The file is written through a
// Card::Writer, so it appears on the card only once it is whole.
#include <cstdio>

#include "tools/sim/Firmware.h"

namespace nurva::sim {

namespace {

constexpr size_t kBlockSize = 128;
// Sent after the NAK of a corrupt block: the download is abandoned.
constexpr uint8_t kCan = 0x18;

// 'D' time-low time-high: the low and high byte of the packed time, as two words.
void TimeStamp(Exchange& ex) {
  auto low = ex.ArgWord();
  if (!low) return;
  auto high = ex.ArgWord();
  if (!high) return;
  const unsigned t = (*low & 0xFFu) | ((*high & 0xFFu) << 8);
  char shown[32];
  std::snprintf(shown, sizeof shown, "time %02u:%02u:%02u", t >> 11, (t >> 5) & 0x3F, (t & 0x1F) * 2);
  if (ex.st.faults.timeRefuse) {
    ex.Note(std::string(shown) + " refused (fault)");
    ex.Reply(kNak);
    return;
  }
  ex.Note(shown);
  ex.Reply(kAck);
}

// Takes what the host still sends for an abandoned download, so none of it is taken for
// a command.
void Swallow(Exchange& ex) {
  while (ex.Arg()) {
  }
}

// 'd' name, then the blocks. Replies: NAK when the file exists, else ACK and then ACK
// (created) or NAK (the card refuses). Each block is acknowledged with ACK; a corrupt one
// gets NAK and CAN, and the final NAK. The download ends after a block of fewer than 128
// bytes, or when no block follows a full one within the argument wait: then the file is
// committed and the final character says whether it is on the card (ACK) or not (NAK).
void Download(Exchange& ex) {
  auto name = ex.ArgString();
  if (!name) return;
  if (ex.st.CardUsable() && !ex.st.faults.fileMissing && ex.card.Find(*name)) {
    ex.Note(*name + " exists");
    ex.Reply(kNak);
    return;
  }
  ex.Reply(kAck);
  std::string err = "card refuses (fault)";
  std::unique_ptr<Card::Writer> w;
  if (ex.st.CardUsable() && !ex.st.faults.cardRefuse) w = ex.card.Create(*name, &err);
  if (!w) {
    ex.Note("cannot create " + *name + ": " + err);
    ex.Reply(kNak);
    return;
  }
  ex.Reply(kAck);
  ex.Note("receiving " + *name);

  int blocks = 0;
  auto refuse = [&](const std::string& why) {
    ex.Note("block " + std::to_string(blocks) + " " + why + ": download abandoned");
    ex.Reply(kNak);
    ex.Reply(kCan);
    ex.Reply(kNak);
    Swallow(ex);
  };
  for (;;) {
    auto len = ex.Arg();
    if (!len) {
      if (ex.Interrupted() || blocks == 0) {
        ex.Note("download of " + *name + " broken off: nothing kept");
        return;
      }
      break;  // nothing after a full block: the file is whole
    }
    ++blocks;
    const size_t n = len->empty() ? kBlockSize + 1 : (*len)[0];
    if (len->size() != 1 || n > kBlockSize) return refuse("has no valid length");
    Bytes data;
    if (n > 0) {
      auto d = ex.Arg();
      if (!d) {
        if (!ex.Interrupted()) refuse("came without its data");
        return;
      }
      data = std::move(*d);
    }
    auto sum = ex.ArgChar();
    if (!sum) {
      if (!ex.Interrupted()) refuse("came without its checksum");
      return;
    }
    uint8_t want = 0;
    for (uint8_t b : data) want = static_cast<uint8_t>(want + b);
    if (data.size() != n) return refuse("holds " + std::to_string(data.size()) + " bytes, not " + std::to_string(n));
    if (*sum != want) return refuse("checksum wrong");
    if (ex.st.faults.checksumRefuse == blocks) return refuse("refused (fault)");
    if (!w->Append(data)) return refuse("cannot be written");
    ex.Reply(kAck);
    if (ex.st.faults.downloadStops == blocks) {
      ex.Note("stops answering after block " + std::to_string(blocks) + " (fault)");
      Swallow(ex);
      return;
    }
    if (n < kBlockSize) break;
  }
  const uint64_t size = w->Size();
  if (!w->Commit(&err)) {
    ex.Note("cannot store " + *name + ": " + err);
    ex.Reply(kNak);
    return;
  }
  ex.Note(*name + " stored, " + std::to_string(size) + " bytes in " + std::to_string(blocks) + " blocks");
  ex.Reply(kAck);
}

}  // namespace

void AddDownloadCommands(CommandSet& set) {
  set.Add(TCmdTyp::TESKcmd, 'D', "download time stamp", TimeStamp);
  set.Add(TCmdTyp::TESKcmd, 'd', "download file", Download);
}

}  // namespace nurva::sim
