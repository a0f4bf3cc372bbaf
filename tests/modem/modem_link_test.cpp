// The modem link as the driver assembles it: emulator or pseudo-terminal
// modem, sending worker, modem object fed from the driver's command queue;
// and port detection.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/command_queue_sink.h"
#include "modem/async_serial_emulator.h"
#include "modem/modem_info.h"
#include "modem/modem_probe.h"
#include "modem/modem_sender.h"
#include "platform/serial_enum.h"
#include "tests/support/event_wait.h"
#include "tests/support/fake_modem.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;

class ModemLinkTest : public ::testing::Test {
 protected:
  ModemLinkTest() { config_.SetString("modem.init", "ATE0"); }

  // Opens `port` on transport_ with the sending worker running and does what
  // the command thread does with modem events until the modem is ready.
  bool ConnectUntilReady(const std::string& port, uint32_t checks) {
    sender_ = std::make_unique<ModemSender>(*transport_, sink_, log_);
    info_ = std::make_unique<ModemInfo>(
        config_, sender_->Queue(), [this](const std::string& title, const std::string&) { titles_.push_back(title); });
    transport_->StartReader();
    sender_->Start();
    transport_->SetStatus(LinkStatus::kConfiguring);
    if (!transport_->Open(port) || !transport_->Configure(115200, 0, 8, 0, 0)) return false;
    info_->Reset(true, checks);
    if (info_->ProcessEvent(AsyncEvent{EventKind::kOk, 0, "OK", "OK"})) return true;
    while (auto command = test::NextWithin(commands_, 10s)) {
      if (command->code == CMD_MODEM_EVENT && info_->ProcessEvent(*command->Event())) return true;
    }
    return false;
  }

  ConfigStore config_;
  Logger log_{"", nullptr};
  CommandQueue commands_;
  CommandQueueSink sink_{commands_};
  std::vector<std::string> titles_;
  test::FakeModem modem_;
  std::unique_ptr<AsyncSerialComm> transport_;
  std::unique_ptr<ModemSender> sender_;
  std::unique_ptr<ModemInfo> info_;
};

TEST_F(ModemLinkTest, EmulatorConnectionReachesTheReadyState) {
  transport_ = std::make_unique<AsyncSerialEmulator>(config_, log_, sink_, EmulatorDelays{1ms, 5ms});
  transport_->SetReplyTimeout(2000);
  ASSERT_TRUE(ConnectUntilReady("Emulator", kAllChecks));
  EXPECT_EQ(info_->Model(), "Emulator");
  EXPECT_EQ(info_->SignalStrength(), 93);
  EXPECT_EQ(titles_, std::vector<std::string>{"Connected, but some problems found"});  // AT+GSN
}

TEST_F(ModemLinkTest, PseudoTerminalModemReachesTheReadyState) {
  modem_.OnCommand("ATE0\r\n", "ATE0\r\r\nOK\r\n");  // still echoing this once
  modem_.OnCommand("AT+CPMS?\r\n", "\r\n+CPMS: \"ME\",1,100,\"ME\",1,100,\"SM\",0,20\r\n\r\nOK\r\n");
  modem_.OnCommand("AT+CNMI=2,1\r\n", "\r\nOK\r\n");
  modem_.OnCommand("AT+CMGF=0\r\n", "\r\nOK\r\n");
  transport_ = std::make_unique<AsyncSerialComm>(config_, log_);
  ASSERT_TRUE(ConnectUntilReady(modem_.SlavePath(), 0));
  EXPECT_EQ(modem_.Received(), "ATE0\r\nAT+CPMS?\r\nAT+CNMI=2,1\r\nAT+CMGF=0\r\n");
  EXPECT_EQ(info_->Memory(0), "ME");
  EXPECT_EQ(info_->Memory(2), "SM");
  EXPECT_FALSE(info_->Problems());
  EXPECT_TRUE(titles_.empty());
}

TEST(ModemLink, DetectModemsListsOnlyAnsweringPorts) {
  ConfigStore config;
  config.SetString("modem.init", "AT");
  test::FakeModem good;
  good.OnCommand("AT\r\n", "\r\nOK\r\n");
  good.OnCommand("AT+CSMS=?\r\n", "\r\n+CSMS: (0,1)\r\n\r\nOK\r\n");
  test::FakeModem refusing;
  refusing.OnCommand("AT\r\n", "\r\nOK\r\n");
  refusing.OnCommand("AT+CSMS=?\r\n", "\r\nerror\r\n");
  test::FakeModem silent;
  std::vector<PortEntry> ports(4);
  ports[0].portName = good.SlavePath();
  ports[0].settingsValid = true;  // stored line settings are applied first
  ports[0].settings.baudRate = 9600;
  ports[1].portName = refusing.SlavePath();
  ports[2].portName = silent.SlavePath();
  ports[3].portName = "ttyQMnothing";
  const auto found = DetectModems(ports, config);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].portName, good.SlavePath());
  EXPECT_EQ(good.Received(), "AT\r\nAT+CSMS=?\r\n");
  EXPECT_EQ(silent.Received(), "AT\r\n");  // no answer: the second question is not asked
}

TEST(PortEnumeration, SysfsTreeGivesNamesAndFriendlyNames) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  const fs::path root = dir.path();
  // A USB modem: tty -> interface -> device with manufacturer and product.
  fs::create_directories(root / "devices/usb1/1-1/1-1:1.0/ttyUSB0");
  fs::create_directories(root / "drivers/option");
  test::WriteFile((root / "devices/usb1/1-1/manufacturer").string(), "HUAWEI\n");
  test::WriteFile((root / "devices/usb1/1-1/product").string(), "Mobile Broadband\n");
  fs::create_directories(root / "class/tty/ttyUSB0");
  fs::create_directory_symlink(root / "devices/usb1/1-1/1-1:1.0/ttyUSB0", root / "class/tty/ttyUSB0/device");
  fs::create_directory_symlink(root / "drivers/option", root / "devices/usb1/1-1/1-1:1.0/ttyUSB0/driver");
  // Two on-board ports, one without a driver, and a console that is no candidate.
  for (const std::string name : {"ttyS10", "ttyS2", "ttyS3", "tty1"}) {
    fs::create_directories(root / "class/tty" / name / (name == "ttyS3" ? "device" : "device/driver"));
  }
  fs::create_directories(root / "by-id");
  fs::create_directories(root / "dev");
  test::WriteFile((root / "dev/ttyS2").string(), "");
  fs::create_symlink(root / "dev/ttyS2", root / "by-id/pci-Oxford_Serial-if00");

  PortEnumerationRoots roots{(root / "class/tty").string(), (root / "by-id").string(), (root / "dev").string()};
  const auto ports = EnumeratePorts(false, roots);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].portName, "ttyS2");
  EXPECT_EQ(ports[0].friendlyName, "pci-Oxford_Serial-if00");
  EXPECT_EQ(ports[0].byIdPath, (root / "by-id/pci-Oxford_Serial-if00").string());
  EXPECT_EQ(ports[1].portName, "ttyS10");
  EXPECT_EQ(ports[1].friendlyName, "ttyS10");
  EXPECT_EQ(ports[2].portName, "ttyUSB0");
  EXPECT_EQ(ports[2].friendlyName, "HUAWEI Mobile Broadband");
  // None of them can be opened as a serial port here.
  EXPECT_TRUE(EnumeratePorts(true, roots).empty());
}

}  // namespace
}  // namespace qm
