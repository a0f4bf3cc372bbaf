#include "modem/reply_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "modem/listener_queue.h"
#include "modem/modem_error_event.h"

namespace qm {
namespace {

using S = ListenerSlot;
using K = EventKind;

// What the listeners see of a line: slot, kind, code, text.
using Seen = std::tuple<ListenerSlot, EventKind, int, std::string>;

// Unsolicited news is marked with an empty text and code -1: it reaches no listener.
std::vector<Seen> Flatten(const std::vector<RoutedEvent>& events) {
  std::vector<Seen> out;
  for (const auto& e : events) {
    out.push_back(e.unsolicited ? Seen{e.slot, e.event.kind, -1, "unsolicited: " + e.event.text}
                                : Seen{e.slot, e.event.kind, e.event.code, e.event.text});
  }
  return out;
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

std::vector<Seen> FeedWhole(std::string_view bytes) { return FeedInPieces(bytes, {}); }

// A dialogue as a real modem produces it: echo off, unsolicited results in
// between, listings with PDUs, a prompt, errors in both forms, text-mode
// bodies that look like replies or span two lines, a one-line text-mode
// status report, network news in the middle of a reply, other final results.
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
    "+CMGL: 1,0,,23\r\n0011AA\r\nerror\r\n"
    "+CMT: \"+4912345\",,\"24/01/02,10:00:00+04\"\r\na > b\r\n"
    "\r\n+CDS: 25\r\n0791448720003023060C91445678123400111211\r\n"
    "ok\r\n"
    "\r\n+CMGR: \"REC READ\",\"+4912345\",,\"24/01/02,10:00:00+04\"\r\nOk, see you\r\n\r\nOK\r\n"
    "\r\n+CMGR: \"REC READ\",\"+4912345\",,\"24/01/02,10:00:00+04\"\r\n> hi\r\n\r\nOK\r\n"
    "\r\n+CMGR: \"REC READ\",\"+4912345\",,\"24/01/02,10:00:00+04\"\r\nfirst line\r\n+1 for me\r\n\r\nOK\r\n"
    "\r\n+CDS: 6,46,\"+4912345\",145,\"24/01/02,10:00:00+04\",\"24/01/02,10:00:05+04\",0\r\n"
    "\r\n+CREG: 1\r\nE3372\r\n\r\nOK\r\n"
    "\r\nNO CARRIER\r\n"
    "\r\n+CMGR: 0,,0\r\n\r\nOK\r\n";

TEST(ReplyParser, TranscriptIsClassifiedAndRouted) {
  const std::vector<Seen> expected = {
      {S::kOk, K::kOk, 0, "OK"},
      {S::kInfo, K::kInfo, 0, "+CSQ: 31,0"},
      {S::kOk, K::kOk, 0, "OK"},
      {S::kIncoming, K::kIncomingIndex, 0, "+CMTI: \"SM\",3"},
      {S::kIncoming, K::kInfo, 0, "+CMGR: 0,,33"},
      {S::kIncoming, K::kInfo, 0, "07919711029099F3040B919711827424F20008902171021050210E0410041C00300035003500340038"},
      {S::kOk, K::kOk, 0, "OK"},
      {S::kPrompt, K::kPrompt, 0, ">"},
      {S::kInfo, K::kInfo, 0, " "},
      {S::kInfo, K::kInfo, 0, "+CMGS: 12"},
      {S::kOk, K::kOk, 0, "OK"},
      {S::kErrors, K::kFailure, 500, std::string(CmsErrorText(500))},
      {S::kErrors, K::kFailure, 100, "SIM busy"},
      {S::kInfo, K::kInfo, -1, "unsolicited: RING"},
      {S::kIncoming, K::kInfo, 0, "+CMGL: 1,0,,23"},
      {S::kIncoming, K::kInfo, 0, "0011AA"},
      {S::kErrors, K::kError, 100, "error"},  // the body ended the message: a final result again
      {S::kIncoming, K::kIncomingMessage, 0, "+CMT: \"+4912345\",,\"24/01/02,10:00:00+04\""},
      {S::kIncoming, K::kInfo, 0, "a > b"},
      {S::kIncoming, K::kStatusReport, 0, "+CDS: 25"},
      {S::kIncoming, K::kInfo, 0, "0791448720003023060C91445678123400111211"},
      {S::kOk, K::kOk, 0, "ok"},
      // Whatever a text body starts with, it is the body.
      {S::kIncoming, K::kInfo, 0, "+CMGR: \"REC READ\",\"+4912345\",,\"24/01/02,10:00:00+04\""},
      {S::kIncoming, K::kInfo, 0, "Ok, see you"},
      {S::kOk, K::kOk, 0, "OK"},
      {S::kIncoming, K::kInfo, 0, "+CMGR: \"REC READ\",\"+4912345\",,\"24/01/02,10:00:00+04\""},
      {S::kIncoming, K::kInfo, 0, "> hi"},
      {S::kOk, K::kOk, 0, "OK"},
      {S::kIncoming, K::kInfo, 0, "+CMGR: \"REC READ\",\"+4912345\",,\"24/01/02,10:00:00+04\""},
      {S::kIncoming, K::kInfo, 0, "first line\n+1 for me"},  // a text with a line break comes whole
      {S::kOk, K::kOk, 0, "OK"},
      // A text-mode status report is one line: what follows is no body.
      {S::kIncoming, K::kStatusReport, 0,
       "+CDS: 6,46,\"+4912345\",145,\"24/01/02,10:00:00+04\",\"24/01/02,10:00:05+04\",0"},
      {S::kInfo, K::kInfo, -1, "unsolicited: +CREG: 1"},
      {S::kInfo, K::kInfo, 0, "E3372"},
      {S::kOk, K::kOk, 0, "OK"},
      {S::kErrors, K::kError, 100, "NO CARRIER"},
      // An empty location has no body.
      {S::kIncoming, K::kInfo, 0, "+CMGR: 0,,0"},
      {S::kOk, K::kOk, 0, "OK"},
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
}

// The data prompt comes without a line end and must be reported at once; a
// '>' after other text of its line is text, even when a read ends with it.
TEST(ReplyParser, PromptIsReportedAtOnceOnlyAtTheStartOfALine) {
  ReplyParser parser;
  EXPECT_EQ(Flatten(parser.Feed("\r\n> >").events),
            (std::vector<Seen>{{S::kPrompt, K::kPrompt, 0, ">"}, {S::kInfo, K::kInfo, 0, " >"}}));
  EXPECT_TRUE(parser.Feed("a >").events.empty());
  EXPECT_EQ(Flatten(parser.Feed(" b\r\n").events), (std::vector<Seen>{{S::kInfo, K::kInfo, 0, "a > b"}}));
}

TEST(ReplyParser, InvalidUtf8IsReplacedInTextButKeptInBytes) {
  ReplyParser parser;
  const auto out = parser.Feed("+X: \xFF\xC3\r\n");
  ASSERT_EQ(out.events.size(), 1u);
  EXPECT_EQ(out.events[0].event.text, "+X: \xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(out.events[0].event.bytes, "+X: \xFF\xC3");
}

TEST(ReplyParser, OverlongLineIsDiscardedOnceAndTheLinkGoesOn) {
  const std::string data = std::string(70000, 'x') + "\r\nOK\r\n";
  // Whole or in reads of 4 KiB: the same outcome, the overflow reported once.
  for (const std::size_t step : {data.size(), std::size_t{4096}}) {
    ReplyParser parser;
    std::vector<RoutedEvent> events;
    int overflows = 0;
    std::size_t discarded = 0;
    for (std::size_t i = 0; i < data.size(); i += step) {
      auto part = parser.Feed(std::string_view(data).substr(i, step));
      overflows += part.overflow ? 1 : 0;
      discarded += part.discarded;
      events.insert(events.end(), part.events.begin(), part.events.end());
    }
    EXPECT_EQ(overflows, 1) << step;
    EXPECT_EQ(discarded, 70000u) << step;
    EXPECT_EQ(Flatten(events), (std::vector<Seen>{{S::kOk, K::kOk, 0, "OK"}})) << step;
  }
  // A line one byte shorter than the limit is kept whole.
  ReplyParser limit;
  EXPECT_FALSE(limit.Feed(std::string(ReplyParser::kMaxPending - 1, 'A')).overflow);
  const auto kept = limit.Feed("\r\n");
  ASSERT_EQ(kept.events.size(), 1u);
  EXPECT_EQ(kept.events[0].event.text.size(), ReplyParser::kMaxPending - 1);
}

TEST(ModemErrorEvent, NumbersOrTheModemsOwnWords) {
  const auto made = [](std::string_view line) {
    const AsyncEvent e = MakeModemErrorEvent(line);
    EXPECT_EQ(e.kind, EventKind::kFailure);
    EXPECT_EQ(e.bytes, line);
    return std::make_pair(e.code, e.text);
  };
  EXPECT_EQ(made("+CMS ERROR: -3"), std::make_pair(-3, std::string("-3")));  // no text known
  EXPECT_EQ(made("+CME ERROR:"), std::make_pair(100, std::string()));        // shorter than the lead-in
  EXPECT_EQ(made("+CMS ERROR: 99999999999"), std::make_pair(INT32_MAX, std::string("99999999999")));
  // Each family has its own texts, whatever the case of the lead-in.
  EXPECT_NE(CmsErrorText(10), CmeErrorText(10));
  EXPECT_EQ(made("+cms error: 10"), std::make_pair(10, std::string(CmsErrorText(10))));
  EXPECT_EQ(made("+CME ERROR: 10"), std::make_pair(10, std::string(CmeErrorText(10))));
}

}  // namespace
}  // namespace qm
