// Project files on the card, reply by reply.
#include <functional>

#include "tests/api/files_fixture.h"

using namespace nurva;
using namespace nurva::test;

namespace {

class ProjFilesTest : public FilesFixture {};

const std::string k70(70, 'n');
const std::string k64(64, 'n');

// The reply to the listing command: 15 names, each followed by a separator character.
std::vector<Pkt> Listing(const std::vector<Pkt>& names) {
  std::vector<Pkt> r;
  for (int i = 0; i < 15; ++i) {
    r.push_back(i < static_cast<int>(names.size()) ? names[static_cast<size_t>(i)] : StringReply(""));
    r.push_back(Pkt({kACK}));
  }
  return r;
}

const std::vector<Bytes> kListPackets = Concat({{{0x02, 'C'}, {0x02, 'l'}}, NamePackets("*.*")});

}  // namespace

TEST_F(ProjFilesTest, ListingIsFifteenLinesOfTrimmedNames) {
  struct Case {
    uint8_t cardReply;
    std::vector<Pkt> names;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {4, {StringReply("A.PACK"), StringReply("  B.PAC\t"), StringReply("C.EN1")}, {"A.PACK", "B.PAC", "C.EN1"}},
      // 255 lists like 4; a length byte above 64 is clipped to 64 characters.
      {255, {StringReply(k70, 70)}, {k64}},
  };
  for (const auto& c : cases) {
    std::string want;
    for (size_t i = 0; i < 15; ++i) want += (i < c.lines.size() ? c.lines[i] : "") + "\r\n";
    Rescript();
    Link(0).SetRXTimeOut(700);
    Peer().On({0x02, 'C'}).Send({Pkt({c.cardReply})});
    Peer().On(NamePackets("*.*")[1]).Send(Listing(c.names));
    Answer a = Call(GetFileNames, 0);
    EXPECT_EQ(a.res, 1);
    EXPECT_EQ(a.text, want);
    EXPECT_EQ(Link(0).Fres, TPrgResult::resOk);
    EXPECT_EQ(Link(0).RxTimeOut(), 2000u);
    EXPECT_EQ(Peer().OutPayloads(), kListPackets);
  }
}

TEST_F(ProjFilesTest, ListingRefusedByTheCard) {
  for (std::vector<Pkt> reply : {std::vector<Pkt>{Pkt({0})}, std::vector<Pkt>{Pkt({1})}, std::vector<Pkt>{}}) {
    Rescript();
    Peer().On({0x02, 'C'}).Send(reply);
    Answer a = Call(GetFileNames, 0);
    EXPECT_EQ(a.res, 37);
    EXPECT_EQ(a.text, "MMC check failed");
    EXPECT_EQ(Link(0).Fres, TPrgResult::FileErr);
    EXPECT_EQ(Peer().OutPayloads(), (std::vector<Bytes>{{0x02, 'C'}}));
  }
}

TEST_F(ProjFilesTest, CheckFileReplies) {
  struct Case {
    Bytes replies;
    int32_t res;
    const char* text;
  };
  const Case cases[] = {
      {{kNAK}, 35, "MMC File Exist"},        {{kACK, kNAK}, 33, "File check failed"},
      {{kACK, kACK}, 1, "File check ok"},    {{kACK, 0x30}, 99, ""},
      {{}, 35, "MMC File Exist"},  // no reply
  };
  for (const auto& c : cases) {
    Rescript();
    Peer().On(NamePackets("P.PACK")[1]).Send(CharReplies(c.replies));
    Answer a = Call([](int32_t ch, int32_t* r, char* t) { CheckAfile(ch, "P.PACK", r, t); }, 0, 99);
    EXPECT_EQ(a.res, c.res) << c.text;
    EXPECT_EQ(a.text, c.text);
    EXPECT_EQ(Peer().OutPayloads(), Concat({{{0x02, 'c'}}, NamePackets("P.PACK")}));
  }
}

TEST_F(ProjFilesTest, OpenFileReplies) {
  struct Case {
    Bytes replies;
    int32_t res;
    const char* text;
  };
  std::vector<Case> cases = {
      {{kNAK}, 36, "file not found"},
      {{kACK, kNAK}, 33, "invalide file"},
      {{kACK, kACK, kNAK}, 33, "invalide file"},
      {{kACK, kACK, kACK, 1}, 10, "device power down"},
      {{kACK, kACK, kACK, 3}, 12, "wrong device ID"},
      {{kACK, kACK, kACK, 4}, 19, "device protected"},
      {{kACK, kACK, kACK, 7}, 9, "communication error"},
      {{kACK, kACK, kACK, 8}, 9, "communication error"},
      {{kACK, kACK, kACK}, 1, "file open"},  // the state missing
  };
  for (uint8_t open : {0, 2, 5, 6, 9, 255}) cases.push_back({{kACK, kACK, kACK, open}, 1, "file open"});
  for (const auto& c : cases) {
    Rescript();
    Peer().On(NamePackets("P.PACK")[1]).Send(CharReplies(c.replies));
    Answer a = Call([](int32_t ch, int32_t* r, char* t) { OpenAfile(ch, "P.PACK", r, t); }, 0, 99);
    EXPECT_EQ(a.res, c.res) << c.text << " after " << c.replies.size() << " replies";
    EXPECT_EQ(a.text, c.text);
    EXPECT_EQ(Peer().OutPayloads(), Concat({{{0x02, 'Q'}, {'O'}}, NamePackets("P.PACK")}));
  }
}

TEST_F(ProjFilesTest, NamesAreTrimmedOnlyByTheCheckAndCutTo64) {
  using Export = void (*)(int32_t, const char*, int32_t*, char*);
  struct Case {
    const char* call;
    Export fn;
    std::vector<Bytes> head;
    std::string name, sent;
  };
  const std::string spaced = " \t P.PACK \r\n";
  const Case cases[] = {
      {"CheckAfile", CheckAfile, {{0x02, 'c'}}, spaced, "P.PACK"},
      {"OpenAfile", OpenAfile, {{0x02, 'Q'}, {'O'}}, spaced, spaced},
      {"DeleteAfile", DeleteAfile, {{0x02, 'e'}}, spaced, spaced},
      {"CheckAfile", CheckAfile, {{0x02, 'c'}}, "  " + k70, k64},
      {"OpenAfile", OpenAfile, {{0x02, 'Q'}, {'O'}}, k70, k64},
      {"DeleteAfile", DeleteAfile, {{0x02, 'e'}}, k70, k64},
  };
  for (const auto& c : cases) {
    Rescript();
    Peer().On(NamePackets(c.sent)[1]).Send({Pkt({kNAK})});
    int32_t res = 99;
    char text[NURVA_TEXT_BUFFER_SIZE];
    c.fn(0, c.name.c_str(), &res, text);
    EXPECT_EQ(Peer().OutPayloads(), Concat({c.head, NamePackets(c.sent)})) << c.call << " '" << c.name << "'";
    EXPECT_NE(res, 99) << c.call << ": the NAK was the answer to the name sent";
  }
}

TEST_F(ProjFilesTest, CloseFileTakesAnyReply) {
  for (uint8_t reply : {uint8_t(kACK), uint8_t(kNAK), uint8_t('x')}) {
    Rescript();
    Link(0).OpMode = TOpMode::opProg;
    Link(0).Fres = TPrgResult::FileErr;
    Peer().On({'C'}).Send({Pkt({reply}).After(30)});
    Answer a = Call(CloseAfile, 0);
    EXPECT_EQ(a.res, 1);
    EXPECT_EQ(a.text, "file closed");
    EXPECT_EQ(Link(0).OpMode, TOpMode::opIdle);
    EXPECT_EQ(Link(0).Fres, TPrgResult::resOk);
    EXPECT_EQ(Peer().OutPayloads(), (std::vector<Bytes>{{0x02, 'Q'}, {'C'}}));
  }
}

TEST_F(ProjFilesTest, DeleteFileWantsAnAck) {
  struct Case {
    Bytes reply;
    int32_t res;
    const char* text;
  };
  const Case cases[] = {{{kACK}, 1, "File deleted"}, {{kNAK}, 37, "delete failed"}, {{'x'}, 37, "delete failed"},
                        {{}, 37, "delete failed"}};
  for (const auto& c : cases) {
    Rescript();
    Peer().On(NamePackets("OLD.PACK")[1]).Send(CharReplies(c.reply));
    Answer a = Call([](int32_t ch, int32_t* r, char* t) { DeleteAfile(ch, "OLD.PACK", r, t); }, 0);
    EXPECT_EQ(a.res, c.res);
    EXPECT_EQ(a.text, c.text);
    EXPECT_EQ(Peer().OutPayloads(), Concat({{{0x02, 'e'}}, NamePackets("OLD.PACK")}));
  }
}

TEST_F(ProjFilesTest, FileStateNamesTheOpenFile) {
  const std::vector<Bytes> both = {{0x02, 'Q'}, {'s'}, {0x02, 'Q'}, {'N'}};
  struct Case {
    Bytes first;
    std::vector<Pkt> second;
    int32_t res;
    std::string text;
    std::vector<Bytes> sent;
  };
  const Case cases[] = {
      {{kNAK}, {}, 34, "file closed", {{0x02, 'Q'}, {'s'}}},
      {{}, {}, 34, "file closed", {{0x02, 'Q'}, {'s'}}},  // no reply reads as NAK
      {{kACK}, {Pkt({kACK}), Pkt({kACK}), StringReply("DEMO.PACK")}, 1, "DEMO.PACK", both},
      {{'?'}, {Pkt({kACK}), Pkt({0}), StringReply(k70, 70)}, 1, k64, both},
      {{kACK}, {Pkt({kNAK}), Pkt({kACK})}, 36, "", both},
      {{kACK}, {Pkt({kACK}), Pkt({kACK})}, 9, "communication error", both},  // the name missing
  };
  for (const auto& c : cases) {
    Rescript();
    Peer().On({'s'}).Send(CharReplies(c.first));
    Peer().On({'N'}).Send(c.second);
    Answer a = Call(GetFileState, 0, 99);
    EXPECT_EQ(a.res, c.res) << c.text;
    EXPECT_EQ(a.text, c.text);
    EXPECT_EQ(Peer().OutPayloads(), c.sent) << c.text;
  }
}

TEST_F(ProjFilesTest, AbsentProgrammerAndClosedLink) {
  // Presence check: nothing sent.
  struct Presence {
    const char* call;
    std::function<Answer()> fn;
    TPrgResult fresAfter;
  };
  const Presence presence[] = {
      {"GetFileNames", [] { return Call(GetFileNames, 0); }, TPrgResult::resNone},
      {"CloseAfile", [] { return Call(CloseAfile, 0); }, TPrgResult::noProg},
      {"GetFileState", [] { return Call(GetFileState, 0); }, TPrgResult::noProg},
  };
  for (const auto& c : presence) {
    Link(0).Fres = TPrgResult::resNone;
    Answer a = c.fn();
    EXPECT_EQ(a.res, 3) << c.call;
    EXPECT_EQ(a.text, "TESK not found") << c.call;
    EXPECT_EQ(Link(0).Fres, c.fresAfter) << c.call;
  }
  EXPECT_EQ(Peer().OutCount(), 0);

  // The name commands have no presence check: on a closed link their replies are missing.
  Link(0).Disconnect();
  auto named = [](auto fn) {
    return Call([fn](int32_t ch, int32_t* r, char* t) { fn(ch, "P.PACK", r, t); }, 0);
  };
  Answer check = named(CheckAfile), open = named(OpenAfile), del = named(DeleteAfile);
  EXPECT_EQ(check.res, 35);
  EXPECT_EQ(check.text, "MMC File Exist");
  EXPECT_EQ(open.res, 36);
  EXPECT_EQ(open.text, "file not found");
  EXPECT_EQ(del.res, 37);
  EXPECT_EQ(del.text, "delete failed");
}

TEST_F(ProjFilesTest, NullNameIsAParameterErrorAndSendsNothing) {
  using Export = void (*)(int32_t, const char*, int32_t*, char*);
  for (Export fn : {CheckAfile, OpenAfile, DeleteAfile, DownloadFile}) {
    int32_t res = 99;
    char text[NURVA_TEXT_BUFFER_SIZE];
    fn(0, nullptr, &res, text);
    EXPECT_EQ(res, 29);
    EXPECT_STREQ(text, "parameter error");
    EXPECT_FALSE(Link(0).busy.load());
  }
  EXPECT_EQ(Peer().OutCount(), 0);
}

TEST_F(ProjFilesTest, ListMethodsWithoutALink) {
  int32_t res = 99;
  EXPECT_EQ(api::RdrList->OpenAFile(7, "P.PACK", res), "USB channel 7 closed");
  EXPECT_EQ(res, 3);
  res = 99;
  for (const std::string& t :
       {api::RdrList->GetProjNames(7, res), api::RdrList->CheckFile(7, "P", res), api::RdrList->CloseAFile(7, res),
        api::RdrList->DeleteFile(7, "P", res), api::RdrList->GetFileState(7, res),
        api::RdrList->DownLdFile(7, "P.PACK", res)})
    EXPECT_EQ(t, "");
  EXPECT_EQ(res, 99);
  EXPECT_EQ(Peer().OutCount(), 0);
}
