#include "app/port_wizard.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/config_store.h"

namespace qm {
namespace {

std::vector<PortWizardEntry> TwoModems() { return {{"Huawei E3372", "ttyUSB0"}, {"", "/dev/ttyACM1"}}; }

struct Dialogue {
  ConfigStore config;
  std::ostringstream out;
  PortWizardResult Run(const std::string& input, bool interactive = true, DetectModemsFunction detect = TwoModems) {
    config.SetInt("modem.emulation", 1);
    std::istringstream in(input);
    return RunPortWizard(config, detect, in, out, interactive);
  }
};

TEST(PortWizard, PickByNumberOrTypeANameAfterBadInput) {
  Dialogue d;
  EXPECT_TRUE(d.Run("2\n").stored);
  EXPECT_EQ(d.config.GetString("modem.port"), "/dev/ttyACM1");
  EXPECT_EQ(d.config.GetInt("modem.emulation"), 0);
  EXPECT_NE(d.out.str().find("  1  Huawei E3372 (ttyUSB0)\n  2  /dev/ttyACM1\n"), std::string::npos);

  Dialogue typed;
  EXPECT_TRUE(typed.Run("7\nmy port\n  ttyS1  \n").stored);
  EXPECT_EQ(typed.config.GetString("modem.port"), "ttyS1");
  EXPECT_NE(typed.out.str().find("There is no modem number 7."), std::string::npos);
}

TEST(PortWizard, NothingStoredWithoutAnAnswer) {
  for (const std::string input : {"", "\n", "0\n99\n99999999999999999999\n"}) {
    Dialogue d;
    const PortWizardResult r = d.Run(input);
    EXPECT_FALSE(r.stored) << input;
    EXPECT_FALSE(d.config.Contains("modem.port")) << input;
    EXPECT_FALSE(r.message.empty());
  }
}

TEST(PortWizard, NoTerminalAsksNothing) {
  Dialogue d;
  bool detected = false;
  const PortWizardResult r = d.Run("1\n", false, [&] {
    detected = true;
    return TwoModems();
  });
  EXPECT_FALSE(r.stored || detected);
  EXPECT_TRUE(d.out.str().empty());
  EXPECT_NE(r.message.find("\"modem.port\""), std::string::npos);
}

}  // namespace
}  // namespace qm
