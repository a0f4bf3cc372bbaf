#include "app/notifier.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "base/config_store.h"
#include "base/logger.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using Balloons = std::vector<std::pair<std::string, std::string>>;

struct Fixture {
  test::TempDir dir;
  ConfigStore config;
  Logger log{dir.File("q.log"), nullptr};
  Balloons sent;
  Notifier Make(bool serviceMode) {
    return Notifier(&log, &config, serviceMode,
                    [this](const std::string& title, const std::string& text) { sent.emplace_back(title, text); });
  }
  std::string Log() { return test::ReadFile(dir.File("q.log")); }
};

TEST(Notifier, TooltipKeepsSixtyThreeCharactersAndIsLogged) {
  Fixture f;
  Notifier n = f.Make(false);
  // 62 ASCII characters, then two two-byte letters: never cut inside one.
  n.SetTooltip(std::string(62, 'a') + "\xD0\x96\xD0\x96");
  EXPECT_EQ(n.Tooltip(), std::string(62, 'a') + "\xD0\x96");
  n.SetTooltip("Quillmoor GSM Modem Driver (disconnected)");
  EXPECT_NE(f.Log().find("Tooltip: Quillmoor GSM Modem Driver (disconnected)"), std::string::npos);
}

TEST(Notifier, BalloonsGoToTheLogAndTheSender) {
  Fixture f;
  Notifier n = f.Make(false);
  n.ShowBalloon("Error sending SMS!", "Failed to send SMS to +491701234567:\nno network");
  EXPECT_EQ(f.sent, (Balloons{{"Error sending SMS!", "Failed to send SMS to +491701234567:\nno network"}}));
  EXPECT_NE(f.Log().find("Balloon: Error sending SMS!: Failed to send SMS to +491701234567: no network\r\n"),
            std::string::npos);
}

TEST(Notifier, NoBalloonsInServiceModeOrWhenDisabledButTooltipsChange) {
  Fixture f;
  Notifier service = f.Make(true);
  service.ShowBalloon("Connected", "x");
  service.SetTooltip("Quillmoor GSM Modem Driver (connected to ttyUSB0)");
  EXPECT_EQ(service.Tooltip(), "Quillmoor GSM Modem Driver (connected to ttyUSB0)");

  Notifier tray = f.Make(false);
  f.config.SetInt("disable_bubbles", 1);
  tray.ShowBalloon("Connected", "y");
  tray.SetTooltip("Quillmoor GSM Modem Driver (error)");
  EXPECT_EQ(tray.Tooltip(), "Quillmoor GSM Modem Driver (error)");
  EXPECT_TRUE(f.sent.empty());
  EXPECT_EQ(f.Log().find("Balloon:"), std::string::npos);

  f.config.SetInt("disable_bubbles", 0);  // read at each balloon
  tray.ShowBalloon("Connected", "z");
  EXPECT_EQ(f.sent.size(), 1u);
}

}  // namespace
}  // namespace qm
