#include "modem/reply_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modem/listener_queue.h"
#include "modem/modem_error_event.h"

namespace qm {
namespace {

struct Seen {
  ListenerSlot slot;
  EventKind kind;
  int code;
  std::string text;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{slot " << static_cast<int>(s.slot) << ", kind " << static_cast<int>(s.kind) << ", code " << s.code << ", \"" << s.text << "\"}";
}

std::vector<Seen> Flatten(const std::vector<RoutedEvent>& events) {
  std::vector<Seen> out;
  for (const auto& e : events) out.push_back({e.slot, e.event.kind, e.event.code, e.event.text});
  return out;
}

std::vector<Seen> FeedWhole(std::string_view bytes) {
  ReplyParser parser;
  return Flatten(parser.Feed(bytes).events);
}

std::vector<Seen> FeedInPieces(std::string_view bytes, const std::vector<std::size_t>& cuts) {
  ReplyParser parser;
  std::vector<RoutedEvent> all;
  std::size_t from = 0;
  for (std::size_t cut : cuts) {
    auto out = parser.Feed(bytes.substr(from, cut - from));
    all.insert(all.end(), out.events.begin(), out.events.end());
    from = cut;
  }
  auto out = parser.Feed(bytes.substr(from));
  all.insert(all.end(), out.events.begin(), out.events.end());
  return Flatten(all);
}

// A dialogue as a real modem produces it: echo off, unsolicited results in
// between, a listing with PDUs, a prompt, errors in both forms.
constexpr std::string_view kTranscript =
    "\r\nOK\r\n"
    "\r\n+CSQ: 31,0\r\n\r\nOK\r\n"
    "\r\n+CMTI: \"SM\",3\r\n"
    "\r\n+CMGR: 0,,33\r\n07919711029099F3040B919711827424F20008902171021050210E0410041C00300035003500340038\r\n"
    "\r\nOK\r\n"
    "\r\n> "
    "\r\n+CMGS: 12\r\n\r\nOK\r\n"
    "\r\n+CMS ERROR: 500\r\n"
    "\r\n+CME ERROR: SIM busy\r\n"
    "\r\nRING\r\n"
    "\r\n+CDS: 25\r\n0791448720003023060C91445678123400111211\r\n"
    "ok\r\n";

TEST(ReplyParser, TranscriptIsClassifiedAndRouted) {
  const std::vector<Seen> expected = {
      {ListenerSlot::kOk, EventKind::kOk, 0, "OK"},
      {ListenerSlot::kInfo, EventKind::kInfo, 0, "+CSQ: 31,0"},
      {ListenerSlot::kOk, EventKind::kOk, 0, "OK"},
      {ListenerSlot::kIncoming, EventKind::kIncomingIndex, 0, "+CMTI: \"SM\",3"},
      {ListenerSlot::kIncoming, EventKind::kInfo, 0, "+CMGR: 0,,33"},
      {ListenerSlot::kIncoming, EventKind::kInfo, 0,
       "07919711029099F3040B919711827424F20008902171021050210E0410041C00300035003500340038"},
      {ListenerSlot::kOk, EventKind::kOk, 0, "OK"},
      {ListenerSlot::kPrompt, EventKind::kPrompt, 0, ">"},
      {ListenerSlot::kInfo, EventKind::kInfo, 0, " "},
      {ListenerSlot::kInfo, EventKind::kInfo, 0, "+CMGS: 12"},
      {ListenerSlot::kOk, EventKind::kOk, 0, "OK"},
      {ListenerSlot::kErrors, EventKind::kFailure, 500, "Unknown error"},
      {ListenerSlot::kErrors, EventKind::kFailure, 100, "SIM busy"},
      {ListenerSlot::kInfo, EventKind::kInfo, 0, "RING"},
      {ListenerSlot::kIncoming, EventKind::kStatusReport, 0, "+CDS: 25"},
      {ListenerSlot::kIncoming, EventKind::kInfo, 0, "0791448720003023060C91445678123400111211"},
      {ListenerSlot::kOk, EventKind::kOk, 0, "ok"},
  };
  EXPECT_EQ(FeedWhole(kTranscript), expected);
}

TEST(ReplyParser, SameEventsHoweverTheBytesAreSplit) {
  const std::vector<Seen> whole = FeedWhole(kTranscript);
  std::vector<std::size_t> everyByte;
  for (std::size_t i = 1; i < kTranscript.size(); ++i) everyByte.push_back(i);
  EXPECT_EQ(FeedInPieces(kTranscript, everyByte), whole);
  for (std::size_t cut = 1; cut < kTranscript.size(); ++cut) {
    ASSERT_EQ(FeedInPieces(kTranscript, {cut}), whole) << "split at " << cut;
  }
  for (std::size_t a = 1; a < kTranscript.size(); a += 7) {
    for (std::size_t b = a + 1; b < kTranscript.size(); b += 5) {
      ASSERT_EQ(FeedInPieces(kTranscript, {a, b}), whole) << "split at " << a << " and " << b;
    }
  }
}

TEST(ReplyParser, UnfinishedLineWaitsForItsEnd) {
  ReplyParser parser;
  EXPECT_TRUE(parser.Feed("\r\n+CSQ: 3").events.empty());
  EXPECT_EQ(parser.Pending(), 7u);
  EXPECT_TRUE(parser.Feed("1,0").events.empty());
  const auto out = parser.Feed("\r\nOK\r\n");
  EXPECT_EQ(Flatten(out.events), (std::vector<Seen>{{ListenerSlot::kInfo, EventKind::kInfo, 0, "+CSQ: 31,0"}, {ListenerSlot::kOk, EventKind::kOk, 0, "OK"}}));
  EXPECT_EQ(parser.Pending(), 0u);
}

TEST(ReplyParser, PromptIsReportedAtOnceAndItsBlankLater) {
  ReplyParser parser;
  EXPECT_EQ(Flatten(parser.Feed("\r\n> ").events), (std::vector<Seen>{{ListenerSlot::kPrompt, EventKind::kPrompt, 0, ">"}}));
  EXPECT_EQ(parser.Pending(), 1u);  // the blank
  EXPECT_EQ(Flatten(parser.Feed("\r\n").events), (std::vector<Seen>{{ListenerSlot::kInfo, EventKind::kInfo, 0, " "}}));
}

TEST(ReplyParser, SeveralPromptsInARow) {
  // Each '>' that begins a line ends it, whether the bytes come at once or
  // not; a line is classified as it is, so " >" is not the prompt.
  const std::string_view data = "\r\n> >>x";
  EXPECT_EQ(FeedWhole(data), (std::vector<Seen>{{ListenerSlot::kPrompt, EventKind::kPrompt, 0, ">"},
                                                {ListenerSlot::kInfo, EventKind::kInfo, 0, " >"},
                                                {ListenerSlot::kPrompt, EventKind::kPrompt, 0, ">"}}));
  EXPECT_EQ(FeedInPieces(data, {3, 5}), FeedWhole(data));
}

TEST(ReplyParser, GreaterThanInsideTextIsNotAPrompt) {
  // A text-mode message body "a > b" split after the '>' stays one line with
  // its header, instead of losing its tail to the information slot.
  ReplyParser parser;
  auto first = parser.Feed("+CMT: \"+4912345\",,\"24/01/02,10:00:00+04\"\r\na >");
  EXPECT_EQ(Flatten(first.events),
            (std::vector<Seen>{{ListenerSlot::kIncoming, EventKind::kIncomingMessage, 0, "+CMT: \"+4912345\",,\"24/01/02,10:00:00+04\""}}));
  auto second = parser.Feed(" b\r\n");
  EXPECT_EQ(Flatten(second.events), (std::vector<Seen>{{ListenerSlot::kIncoming, EventKind::kInfo, 0, "a > b"}}));
}

TEST(ReplyParser, OkAndErrorAreRecognisedByPrefixInAnyCase) {
  EXPECT_EQ(FeedWhole("ok\r\nOKAY\r\nerror\r\nErRoR: x\r\n"),
            (std::vector<Seen>{{ListenerSlot::kOk, EventKind::kOk, 0, "ok"},
                               {ListenerSlot::kOk, EventKind::kOk, 0, "OKAY"},
                               {ListenerSlot::kErrors, EventKind::kError, 100, "error"},
                               {ListenerSlot::kErrors, EventKind::kError, 100, "ErRoR: x"}}));
}

TEST(ReplyParser, BodyFollowsOnlyTheLineAfterAMessageHeader) {
  bool body = false;
  std::string buffer = "+CMGL: 1,0,,23\r\n0011AA\r\nERROR\r\n+CMGL: 2,0,,23\r\n0011BB\r\n+CMS ERROR: 321\r\nRING\r\n";
  const auto events = Flatten(ParseReceiveBuffer(buffer, body));
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[1], (Seen{ListenerSlot::kIncoming, EventKind::kInfo, 0, "0011AA"}));
  EXPECT_EQ(events[2], (Seen{ListenerSlot::kErrors, EventKind::kError, 100, "ERROR"}));  // the body flag was cleared by the PDU
  EXPECT_EQ(events[4], (Seen{ListenerSlot::kIncoming, EventKind::kInfo, 0, "0011BB"}));
  EXPECT_EQ(events[5], (Seen{ListenerSlot::kErrors, EventKind::kFailure, 321, "Invalid memory index"}));
  EXPECT_EQ(events[6], (Seen{ListenerSlot::kInfo, EventKind::kInfo, 0, "RING"}));
  EXPECT_FALSE(body);

  // Final results after a header leave the flag set: the error goes with the body.
  std::string after = "+CMT: ,23\r\nERROR\r\n0011CC\r\n";
  const auto routed = Flatten(ParseReceiveBuffer(after, body));
  EXPECT_EQ(routed[1].slot, ListenerSlot::kIncoming);
  EXPECT_EQ(routed[2], (Seen{ListenerSlot::kIncoming, EventKind::kInfo, 0, "0011CC"}));
}

TEST(ReplyParser, UnsolicitedResultKinds) {
  EXPECT_EQ(FeedWhole("+CBMI: \"BM\",1\r\n+CDSI: \"SR\",4\r\n+CUSD: 0,\"x\",15\r\n+CBM: 88\r\n"),
            (std::vector<Seen>{{ListenerSlot::kIncoming, EventKind::kIncomingIndex, 0, "+CBMI: \"BM\",1"},
                               {ListenerSlot::kIncoming, EventKind::kStatusReportIndex, 0, "+CDSI: \"SR\",4"},
                               {ListenerSlot::kIncoming, EventKind::kInfo, 0, "+CUSD: 0,\"x\",15"},
                               {ListenerSlot::kIncoming, EventKind::kIncomingMessage, 0, "+CBM: 88"}}));
}

TEST(ReplyParser, InvalidUtf8IsReplacedInTextButKeptInBytes) {
  ReplyParser parser;
  const auto out = parser.Feed("+X: \xFF\xC3\r\n");
  ASSERT_EQ(out.events.size(), 1u);
  EXPECT_EQ(out.events[0].event.text, "+X: \xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(out.events[0].event.bytes, "+X: \xFF\xC3");
}

TEST(ReplyParser, OverlongLineIsDiscardedAndTheLinkGoesOn) {
  const std::string noise(70000, 'x');
  const std::string data = noise + "\r\nOK\r\n";
  ReplyParser parser;
  const auto out = parser.Feed(data);
  EXPECT_TRUE(out.overflow);
  EXPECT_EQ(out.discarded, 70000u);
  EXPECT_EQ(Flatten(out.events), (std::vector<Seen>{{ListenerSlot::kOk, EventKind::kOk, 0, "OK"}}));

  // Fed in reads of 4 KiB the outcome is the same, and the overflow is
  // reported once.
  ReplyParser chunked;
  std::vector<Seen> seen;
  int overflows = 0;
  for (std::size_t i = 0; i < data.size(); i += 4096) {
    auto part = chunked.Feed(std::string_view(data).substr(i, 4096));
    overflows += part.overflow ? 1 : 0;
    for (const auto& s : Flatten(part.events)) seen.push_back(s);
  }
  EXPECT_EQ(overflows, 1);
  EXPECT_EQ(seen, (std::vector<Seen>{{ListenerSlot::kOk, EventKind::kOk, 0, "OK"}}));
}

TEST(ReplyParser, LineJustBelowTheLimitIsKept) {
  const std::string line(ReplyParser::kMaxPending - 1, 'A');
  ReplyParser parser;
  EXPECT_FALSE(parser.Feed(line).overflow);
  const auto out = parser.Feed("\r\n");
  ASSERT_EQ(out.events.size(), 1u);
  EXPECT_EQ(out.events[0].event.text.size(), line.size());
}

TEST(ModemErrorEvent, CodesAndTexts) {
  struct Case {
    std::string_view line;
    int code;
    std::string_view text;
  };
  const Case cases[] = {
      {"+CMS ERROR: 500", 500, "Unknown error"},
      {"+CME ERROR: 10", 10, "SIM not inserted"},
      {"+CME ERROR: 8", 8, "8"},              // no text for 8: the modem's own words
      {"+CME ERROR: SIM busy", 100, "SIM busy"},  // verbose form
      {"+CMS ERROR: 28", 28, "Unindentified subscriber"},
      {"+CMS ERROR: 10", 10, "Call bared"},
      {"+CME ERROR: 10", 10, "SIM not inserted"},
      {"+cms error: 330", 330, "SMSC address unknown"},
      {"+CME ERROR: 772", 772, "SIM powered down"},
      {"+CMS ERROR: -3", -3, "-3"},
      {"+CME ERROR:", 100, ""},  // shorter than the lead-in
      {"+CMS ERROR: 99999999999", 2147483647, "99999999999"},
  };
  for (const auto& c : cases) {
    const AsyncEvent e = MakeModemErrorEvent(c.line);
    EXPECT_EQ(e.kind, EventKind::kFailure) << c.line;
    EXPECT_EQ(e.code, c.code) << c.line;
    EXPECT_EQ(e.text, c.text) << c.line;
    EXPECT_EQ(e.bytes, c.line);
  }
}

}  // namespace
}  // namespace qm
