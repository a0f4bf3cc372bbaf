// "qmctl pdu" run as a user runs it: the built binary, its output and exit
// status.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_env.h"

namespace qm {
namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs qmctl with `args` in the UTC zone, `input` on its standard input.
Result Qmctl(const std::vector<std::string>& args, const std::string& input = "") {
  test::TempDir dir;
  test::WriteFile(dir.File("in"), input);
  Result run;
  run.status = test::RunInChild([&] {
    const int fds[] = {open(dir.File("in").c_str(), O_RDONLY),
                       open(dir.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                       open(dir.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)};
    for (int i = 0; i < 3; ++i) {
      if (fds[i] < 0 || dup2(fds[i], i) < 0) return 127;
    }
    setenv("TZ", "UTC", 1);
    std::vector<char*> argv{const_cast<char*>(QM_QMCTL_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QM_QMCTL_PATH, argv.data());
    return 127;
  });
  run.out = test::ReadFile(dir.File("out"));
  run.err = test::ReadFile(dir.File("err"));
  return run;
}

constexpr char kDeliverChromiumOs[] = "07914140540510F0040B916171056429F500001190804181106904D4F29C0E";
constexpr char kReportAmro[] = "06000B910221815716F2709021510121807090215101718000";

TEST(QmctlPduEncode, PrintsSubmitPdusOrRefuses) {
  Result hello = Qmctl({"pdu", "encode", "--to", "+44 1234 5678", "--text", "Hello"});
  EXPECT_EQ(hello.status, 0);
  EXPECT_EQ(hello.out, "0011000A9144214365870000A705C8329BFD06\n");

  Result options = Qmctl({"pdu", "encode", "--to=0123", "--ton", "0", "--text", "Hello", "--flash", "--report",
                       "--validity", "3600", "--smsc", "+4477", "--length-correction", "2"});
  EXPECT_EQ(options.status, 0);
  EXPECT_EQ(options.out, "03914477" "3100048110320010" "0B" "05C8329BFD06\n");

  // "+" wins over --ton; two segments carry the reference given.
  Result twoParts = Qmctl({"pdu", "encode", "--to", "+4412345678", "--ton", "0", "--text", std::string(161, 'a'),
                        "--reference", "66"});
  EXPECT_EQ(twoParts.status, 0);
  EXPECT_EQ(std::count(twoParts.out.begin(), twoParts.out.end(), '\n'), 2);
  EXPECT_EQ(twoParts.out.substr(0, 40), "0051000A9144214365870000A7A0050003420201");

  Result tooLong = Qmctl({"pdu", "encode", "--to", "1", "--text", std::string(255 * 153 + 1, 'a')});
  EXPECT_EQ(tooLong.status, 1);
  EXPECT_EQ(tooLong.out, "");
  EXPECT_EQ(tooLong.err, "qmctl pdu encode: Message too long: it would need more than 255 segments\n");

  const std::vector<std::vector<std::string>> wrongUsage = {
      {"pdu", "encode", "--text", "x"}, {"pdu", "encode", "--to", "1", "--text", "x", "--validity", "1d"},
      {"pdu", "encode", "--to", "1", "--text"}, {"pdu", "encode", "--to", "1", "--text", "x", "--bogus"},
      {"pdu", "frobnicate"}, {"pdu", "decode"}};
  for (const auto& args : wrongUsage) EXPECT_EQ(Qmctl(args).status, 2) << args.back();

  Result help = Qmctl({"pdu", "decode", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: qmctl pdu encode"), std::string::npos);
}

TEST(QmctlPduDecode, OneJsonObjectOrErrorPerPdu) {
  std::string lower = kDeliverChromiumOs;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  Result run = Qmctl({"pdu", "decode", lower, kReportAmro, std::string("07917283010010F5") + kReportAmro, "0004",
                      "xyz", "123"});
  EXPECT_EQ(run.status, 1);
  const std::string report =
      "{\"kind\":\"sr\",\"from\":\"20121875612\",\"text\":\"\",\"coding\":0,\"time\":1189609812,\"reference\":0,"
      "\"total\":1,\"part\":0,\"ported\":false,\"message_reference\":0,\"status\":0,\"discharge_time\":1189609817}\n";
  EXPECT_EQ(run.out,
            "{\"kind\":\"sms\",\"from\":\"16175046925\",\"text\":\"Test\",\"coding\":0,\"time\":1315491481,"
            "\"reference\":0,\"total\":1,\"part\":0,\"ported\":false,\"message_reference\":0,\"status\":0,"
            "\"discharge_time\":0}\n" +
                report + report +
                "{\"error\":\"cannot read TP-OA\"}\n{\"error\":\"not hexadecimal\"}\n"
                "{\"error\":\"odd number of hexadecimal digits\"}\n");

  // Control characters as \u00XX with upper-case digits and DEL escaped, as
  // scripts have always seen them; a lone surrogate becomes U+FFFD.
  Result controls = Qmctl({"pdu", "decode", "00040A9144214365870008315020413000000A 0041001B007F001FD800"});
  EXPECT_EQ(controls.status, 0);
  EXPECT_TRUE(controls.out.starts_with(
      "{\"kind\":\"sms\",\"from\":\"4412345678\",\"text\":\"A\\u001B\\u007F\\u001F\xEF\xBF\xBD\",\"coding\":8,"))
      << controls.out;
}

TEST(QmctlPduDecode, AssemblesFromStandardInputOrRefuses) {
  // Escapes, quotes and control characters come out as valid JSON text.
  Result encoded = Qmctl({"pdu", "encode", "--to", "+4412345678", "--reference", "9", "--text",
                       std::string(150, '[') + "\"q\"\n\\ \xE2\x82\xAC"});
  ASSERT_EQ(encoded.status, 0);
  ASSERT_EQ(std::count(encoded.out.begin(), encoded.out.end(), '\n'), 3);
  // The parts arrive in reverse order, with CR LF and blank lines between.
  std::istringstream split(encoded.out);
  std::string lines;
  for (std::string line; std::getline(split, line);) lines = line + "\r\n\r\n" + lines;

  Result joined = Qmctl({"pdu", "decode", "--assemble", "-"}, lines);
  EXPECT_EQ(joined.status, 0);
  EXPECT_EQ(joined.out, "{\"kind\":\"sms\",\"from\":\"4412345678\",\"text\":\"" + std::string(150, '[') +
                            "\\\"q\\\"\\n\\\\ \xE2\x82\xAC\",\"coding\":8,\"time\":0,\"reference\":9,\"total\":3,"
                            "\"part\":0,\"ported\":false,\"message_reference\":0,\"status\":0,\"discharge_time\":0}\n");

  Result push = Qmctl({"pdu", "encode", "--to", "+4412345678", "--text", "News", "--url", "https://example.org/a"});
  ASSERT_EQ(push.status, 0);
  Result decoded = Qmctl({"pdu", "decode", "--assemble", "-"}, push.out);
  EXPECT_EQ(decoded.status, 0);
  EXPECT_TRUE(decoded.out.starts_with(
      "{\"kind\":\"push\",\"from\":\"4412345678\",\"text\":\"News\",\"url\":\"https://example.org/a\",\"coding\":4"))
      << decoded.out;

  // Two UCS2 parts (header 07 of 2, part n) with a surrogate pair cut between
  // them: "A" D83D | DE00 "B".
  const std::string head = "00440A9144214365870008315020413000000A 0500030702 0";
  Result pair = Qmctl({"pdu", "decode", "--assemble", head + "1 0041D83D", head + "2 DE000042"});
  EXPECT_EQ(pair.status, 0);
  EXPECT_TRUE(pair.out.starts_with("{\"kind\":\"sms\",\"from\":\"4412345678\",\"text\":\"A\xF0\x9F\x98\x80"
                                   "B\",\"coding\":8"))
      << pair.out;

  Result broken = Qmctl({"pdu", "decode", "--assemble", kDeliverChromiumOs, "00"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.out, "{\"error\":\"cannot read first octet\"}\n");
  Result mixed = Qmctl({"pdu", "decode", "--assemble", kDeliverChromiumOs, kReportAmro});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_EQ(mixed.out, "{\"error\":\"the PDUs do not form a message\"}\n");
}

}  // namespace
}  // namespace qm
