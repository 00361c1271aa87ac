// Identify: the one CTRLcmd command. The programmer answers with its 41-byte
// identification record in one packet; a programmer that lost its firmware still
// answers it from its loader, with FirmwLost set.
#include <cstring>

#include "tools/sim/Firmware.h"

namespace nurva::sim {

namespace {

void Identify(Exchange& ex) {
  const TDeviceRec rec = ex.st.id.Record();
  uint8_t bytes[sizeof rec];
  std::memcpy(bytes, &rec, sizeof rec);
  ex.ReplyBytes(bytes);
}

}  // namespace

void AddIdentCommands(CommandSet& set) { set.Add(TCmdTyp::CTRLcmd, 'I', "identify", Identify); }

}  // namespace nurva::sim
