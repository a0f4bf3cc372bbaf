#include "app/command_line.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

using Pieces = std::vector<std::string>;

TEST(CommandLineSplit, QuotesBackslashesAndBlanks) {
  EXPECT_EQ(SplitCommandLine(R"("/opt/qm driver/qmdriver"  -noicon   /inst3)"),
            (Pieces{"/opt/qm driver/qmdriver", "-noicon", "/inst3"}));
  // A quote after a backslash does not end the run; the backslash stays.
  EXPECT_EQ(SplitCommandLine(R"(qm "a \" b" c)"), (Pieces{"qm", R"(a \" b)", "c"}));
  // Tabs are trimmed, not split at; quotes inside a piece stay.
  EXPECT_EQ(SplitCommandLine("qm \t-service\t x\"y z\" \"\""), (Pieces{"qm", "-service", "x\"y z\"", ""}));
  EXPECT_EQ(SplitCommandLine(R"(qm "-inst 4)"), (Pieces{"qm", "\"-inst 4"}));  // unclosed quote
}

TEST(CommandLineParse, InstanceSwitchRules) {
  EXPECT_EQ(ParseCommandLine("qm -inst3").instance, 3u);
  EXPECT_EQ(ParseCommandLine("qm /inst3").instance, 3u);
  EXPECT_EQ(ParseCommandLine("qm -INST3").instance, 0u);  // the prefix is lower case only
  EXPECT_EQ(ParseCommandLine("qm -inst12000").instance, 0u);
  EXPECT_EQ(ParseCommandLine("qm -inst9999").instance, 9999u);
  EXPECT_EQ(ParseCommandLine("qm -inst-2").instance, 0u);
  EXPECT_EQ(ParseCommandLine("qm -inst99999999999999").instance, 0u);
  EXPECT_EQ(ParseCommandLine("qm -inst5 -inst6").instance, 6u);
  EXPECT_EQ(ParseCommandLine("-inst4 -noicon").instance, 0u);  // the program piece is skipped
}

TEST(CommandLineParse, FlagsNamesAndPiecesWithoutSwitch) {
  StartupOptions o = ParseCommandLine("qm -NoIcon /SERVICE");
  EXPECT_TRUE(o.noIcon && o.service && o.serviceProfile);
  EXPECT_FALSE(o.cfgService);
  o = ParseCommandLine("qm -cfgservice");
  EXPECT_TRUE(o.cfgService && o.serviceProfile);
  EXPECT_FALSE(o.service);
  // Pieces without "-" or "/" are ignored; the switch starts after the first one.
  o = ParseCommandLine("qm noicon report.txt x-service --noicon");
  EXPECT_FALSE(o.noIcon);
  EXPECT_TRUE(o.service);
}

TEST(CommandLineParse, InstallAndExitSwitchesEndParsing) {
  StartupOptions o = ParseCommandLine("qm -inst2 -instservice -inst5 -noicon");
  EXPECT_TRUE(o.install);  // matched before the "inst" prefix
  EXPECT_EQ(o.instance, 2u);
  EXPECT_FALSE(o.noIcon);
  EXPECT_TRUE(ParseCommandLine("qm /UNINSTSERVICE").uninstall);
  EXPECT_EQ(ParseCommandLine("qm -regserver -noicon").exitSwitch, ExitSwitch::kRegServer);
  EXPECT_FALSE(ParseCommandLine("qm -regserver -noicon").noIcon);
  EXPECT_EQ(ParseCommandLine("qm /UnregServer").exitSwitch, ExitSwitch::kUnregServer);
  EXPECT_EQ(ParseCommandLine("qm -Unreg").exitSwitch, ExitSwitch::kUnreg);
  EXPECT_EQ(ParseCommandLine("qm -inst3 -init").exitSwitch, ExitSwitch::kInit);
  EXPECT_EQ(ParseCommandLine("qm -ViewAuthor").exitSwitch, ExitSwitch::kViewAuthor);
  EXPECT_EQ(ParseCommandLine("qm -initialize").exitSwitch, ExitSwitch::kNone);
}

TEST(CommandLineJoin, ArgvRoundTripsThroughTheSplitter) {
  const Pieces argv = {"/opt/qm driver/qmdriver", "-noicon", "", "-inst3", "a\tb"};
  const std::string line = JoinCommandLine(argv);
  EXPECT_EQ(line, "\"/opt/qm driver/qmdriver\" -noicon \"\" -inst3 \"a\tb\"");
  EXPECT_EQ(SplitCommandLine(line), argv);
  // A quote inside a piece cannot end the quoted run and split off a switch.
  const char* tricky[] = {"qm", "x\" -instservice \"y", "-inst4"};
  const StartupOptions o = ParseCommandLine(JoinCommandLine(3, tricky));
  EXPECT_FALSE(o.install);
  EXPECT_EQ(o.instance, 4u);
}

}  // namespace
}  // namespace qm
