// The modem link as the driver assembles it: emulator or pseudo-terminal
// modem, sending worker, modem object fed from the driver's command queue;
// and port detection.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/config_store.h"
#include "gateway/command_queue_sink.h"
#include "base/logger.h"
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

// What the command thread does with modem events until the modem is ready.
bool RunCommandThreadUntilReady(CommandQueue& commands, ModemInfo& info) {
  info.Reset(true, kAllChecks);
  if (info.ProcessEvent(AsyncEvent{EventKind::kOk, 0, "OK", "OK"})) return true;
  for (;;) {
    auto command = test::NextWithin(commands, 10s);
    if (!command) return false;
    if (command->code == CMD_MODEM_EVENT && info.ProcessEvent(*command->Event())) return true;
  }
}

TEST(ModemLink, EmulatorConnectionReachesTheReadyState) {
  ConfigStore config;
  config.SetString("modem.init", "ATE0");
  Logger log("", nullptr);
  CommandQueue commands;
  CommandQueueSink sink(commands);
  AsyncSerialEmulator emulator(config, log, sink, EmulatorDelays{1ms, 5ms});
  ModemSender sender(emulator, sink, log);
  std::vector<std::string> titles;
  ModemInfo info(config, sender.Queue(), [&](const std::string& title, const std::string&) { titles.push_back(title); });

  emulator.StartReader();
  sender.Start();
  emulator.SetReplyTimeout(2000);
  emulator.SetStatus(LinkStatus::kConfiguring);
  ASSERT_TRUE(emulator.Open("Emulator"));
  ASSERT_TRUE(RunCommandThreadUntilReady(commands, info));
  emulator.SetStatus(LinkStatus::kReady);

  EXPECT_EQ(info.Model(), "Emulator");
  EXPECT_EQ(info.SignalStrength(), 93);
  EXPECT_EQ(info.Memory(2), "SM");
  EXPECT_EQ(config.GetInt("sender.read_mode"), 0);
  EXPECT_EQ(titles, std::vector<std::string>{"Connected, but some problems found"});  // AT+GSN
  sender.Stop();
}

TEST(ModemLink, PseudoTerminalModemReachesTheReadyState) {
  ConfigStore config;
  config.SetString("modem.init", "ATE0");
  config.SetInt("modem.checks", 0);
  Logger log("", nullptr);
  CommandQueue commands;
  CommandQueueSink sink(commands);
  test::FakeModem modem;
  modem.OnCommand("ATE0\r\n", "ATE0\r\r\nOK\r\n");  // still echoing this once
  modem.OnCommand("AT+CPMS?\r\n", "\r\n+CPMS: \"ME\",1,100,\"ME\",1,100,\"SM\",0,20\r\n\r\nOK\r\n");
  modem.OnCommand("AT+CNMI=2,1\r\n", "\r\nOK\r\n");
  modem.OnCommand("AT+CMGF=0\r\n", "\r\nOK\r\n");
  AsyncSerialComm transport(config, log);
  ModemSender sender(transport, sink, log);
  ModemInfo info(config, sender.Queue(), nullptr);
  transport.StartReader();
  sender.Start();
  transport.SetStatus(LinkStatus::kConfiguring);
  ASSERT_TRUE(transport.Open(modem.SlavePath()));
  ASSERT_TRUE(transport.Configure(115200, 0, 8, 0, 0));
  info.Reset(true, 0);
  ASSERT_FALSE(info.ProcessEvent(AsyncEvent{EventKind::kOk, 0, "OK", "OK"}));
  bool ready = false;
  while (!ready) {
    auto command = test::NextWithin(commands, 10s);
    ASSERT_TRUE(command);
    ready = info.ProcessEvent(*command->Event());
  }
  EXPECT_EQ(modem.Received(), "ATE0\r\nAT+CPMS?\r\nAT+CNMI=2,1\r\nAT+CMGF=0\r\n");
  EXPECT_EQ(info.Memory(0), "ME");
  EXPECT_EQ(info.Memory(2), "SM");
  EXPECT_FALSE(info.Problems());
  sender.Stop();
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

  PortEntry a;
  a.portName = good.SlavePath();
  a.settingsValid = true;
  a.settings.baudRate = 9600;
  PortEntry b;
  b.portName = refusing.SlavePath();
  PortEntry c;
  c.portName = silent.SlavePath();
  PortEntry d;
  d.portName = "ttyQMnothing";
  const auto found = DetectModems({a, b, c, d}, config);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].portName, good.SlavePath());
  EXPECT_EQ(good.Received(), "AT\r\nAT+CSMS=?\r\n");
  EXPECT_EQ(silent.Received(), "AT\r\n");  // no answer: the second question is not asked
}

TEST(PortEnumeration, SysfsTreeGivesNamesAndFriendlyNames) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  const fs::path root = dir.path();
  const auto make = [&](const fs::path& p) { fs::create_directories(p); };
  // A USB modem: tty -> interface -> device with manufacturer and product.
  make(root / "devices/usb1/1-1/1-1:1.0/ttyUSB0");
  make(root / "drivers/option");
  test::WriteFile((root / "devices/usb1/1-1/manufacturer").string(), "HUAWEI\n");
  test::WriteFile((root / "devices/usb1/1-1/product").string(), "Mobile Broadband\n");
  make(root / "class/tty/ttyUSB0");
  fs::create_directory_symlink(root / "devices/usb1/1-1/1-1:1.0/ttyUSB0", root / "class/tty/ttyUSB0/device");
  fs::create_directory_symlink(root / "drivers/option", root / "devices/usb1/1-1/1-1:1.0/ttyUSB0/driver");
  // Two on-board ports, one without a driver, and a console that is no candidate.
  for (const char* name : {"ttyS10", "ttyS2", "ttyS3", "tty1"}) {
    make(root / "class/tty" / name / "device");
    if (std::string(name) != "ttyS3") make(root / "class/tty" / name / "device/driver");
  }
  make(root / "by-id");
  make(root / "dev");
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
  EXPECT_FALSE(ports[2].settingsValid);
  EXPECT_EQ(ports[2].settings.baudRate, 115200u);

  // None of them can be opened as a serial port here.
  EXPECT_TRUE(EnumeratePorts(true, roots).empty());
}

}  // namespace
}  // namespace qm
