// A fixture for the project file commands: one scripted programmer, rescripted between the
// cases of a table, and the packets the link sends for a name.
#pragma once

#include <string>
#include <vector>

#include "tests/api/api_fixture.h"

namespace nurva::test {

class FilesFixture : public ApiTest {
 protected:
  void SetUp() override { Discover(1); }
  ScriptedPeer& Peer() { return *peers[0]; }
  void Rescript() {
    peers[0].reset();  // its socket goes before the new one takes the name
    peers[0] = std::make_unique<ScriptedPeer>(bus, "dev00");
    peers[0]->Identify(ProgrammerRec(kModelProg, 0x1000));
    Link(0).Disconnect();
    ASSERT_TRUE(Link(0).Connect(0));
    Peer().ClearLog();
  }
};

// The two packets of a name on the wire: the word k+1, then the length byte and k characters.
inline std::vector<Bytes> NamePackets(const std::string& name) {
  const uint8_t k = static_cast<uint8_t>(name.size());
  Bytes s{k};
  s.insert(s.end(), name.begin(), name.end());
  return {{static_cast<uint8_t>(k + 1), 0}, s};
}

// A string reply as the programmer sends it: length byte, then the characters.
inline Pkt StringReply(const std::string& s, uint8_t lengthByte) {
  Bytes b{lengthByte};
  b.insert(b.end(), s.begin(), s.end());
  return Pkt(b);
}
inline Pkt StringReply(const std::string& s) { return StringReply(s, static_cast<uint8_t>(s.size())); }

inline std::vector<Pkt> CharReplies(const Bytes& chars) {
  std::vector<Pkt> r;
  for (uint8_t c : chars) r.push_back(Pkt({c}));
  return r;
}

inline std::vector<Bytes> Concat(std::vector<std::vector<Bytes>> parts) {
  std::vector<Bytes> r;
  for (auto& p : parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

}  // namespace nurva::test
