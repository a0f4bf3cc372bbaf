// The transport against a scripted modem on a real pseudo-terminal.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <memory>
#include <thread>

#include "base/config_store.h"
#include "base/logger.h"
#include "modem/async_serial_comm.h"
#include "modem/link_texts.h"
#include "platform/serial_port.h"
#include "platform/unique_fd.h"
#include "tests/support/event_wait.h"
#include "tests/support/fake_modem.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::FakeModem;
using test::NextWithin;

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }

  void Start() {
    transport_.reset();
    transport_ = std::make_unique<AsyncSerialComm>(config_, log_, [this] { return clock_.load(); });
    for (std::size_t slot = 0; slot < kListenerSlotCount; ++slot) {
      transport_->SetListener(&queues_[slot], static_cast<ListenerSlot>(slot));
    }
    transport_->StartReader();
  }

  // What the connect command does: configuring status, open, line settings, time-outs.
  bool Connect(const FakeModem& modem) {
    transport_->SetStatus(LinkStatus::kConfiguring);
    return transport_->Open(modem.SlavePath()) && transport_->Configure(115200, 0, 8, 0, 0) &&
           transport_->SetTimeouts(10, 5000, 50, 0, 0);
  }

  std::optional<AsyncEvent> Next(ListenerSlot slot, std::chrono::milliseconds limit = 5s) {
    return NextWithin(queues_[static_cast<std::size_t>(slot)], limit);
  }

  ConfigStore config_;
  Logger log_{"", nullptr};
  std::atomic<uint64_t> clock_{1000};
  std::array<ListenerQueue, kListenerSlotCount> queues_;
  std::unique_ptr<AsyncSerialComm> transport_;
};

// Commands and message bodies reach the modem byte-exact, bodies as given or
// in upper-case hex, each ended by Ctrl-Z; one write-done event per write.
TEST_F(TransportTest, WritesArriveByteExact) {
  FakeModem modem;
  ASSERT_TRUE(Connect(modem));
  ASSERT_TRUE(transport_->WriteCommand("AT+CMGS=23\r\n"));
  ASSERT_TRUE(transport_->WriteTextData("caf\xC3\xA9"));
  ASSERT_TRUE(transport_->WriteHexData(std::string("\x00\x1A\xAB", 3)));
  ASSERT_TRUE(modem.WaitForReceived("001AAB\x1A"));
  EXPECT_EQ(modem.Received(), "AT+CMGS=23\r\ncaf\xC3\xA9\x1A" "001AAB\x1A");
  for (const char* bytes : {"", "caf\xC3\xA9", "001AAB"}) EXPECT_EQ(Next(ListenerSlot::kWriteDone)->bytes, bytes);
}

TEST_F(TransportTest, ReplyTimeoutOnlyWhileAwaitingAReply) {
  FakeModem modem;
  ASSERT_TRUE(Connect(modem));
  transport_->SetReplyTimeout(150);

  // Silence without a command in progress is never a time-out.
  EXPECT_FALSE(Next(ListenerSlot::kErrors, 500ms));

  // The reader sits in an unlimited wait; setting the flag must start the clock.
  transport_->WriteCommand("AT\r\n");
  transport_->SetAwaitingReply(true);
  const auto timeout = Next(ListenerSlot::kErrors, 5s);
  ASSERT_TRUE(timeout);
  EXPECT_EQ(timeout->kind, EventKind::kError);
  EXPECT_EQ(timeout->text, "timeout");
  EXPECT_FALSE(transport_->IsAwaitingReply());
  EXPECT_FALSE(Next(ListenerSlot::kErrors, 500ms));  // exactly one
}

TEST_F(TransportTest, FailedOpensLeaveStatusError) {
  EXPECT_EQ(BuildPortPath("/dev/serial/by-id/usb-x", false, ""), "/dev/serial/by-id/usb-x");
  EXPECT_EQ(BuildPortPath("USB0", true, "/dev/tty"), "/dev/ttyUSB0");

  EXPECT_FALSE(transport_->Open("ttyQMmissing"));
  EXPECT_EQ(transport_->GetStatus(), LinkStatus::kError);
  EXPECT_EQ(transport_->LastError().code, kErrFileNotFound);
  EXPECT_EQ(transport_->PortPath(), "/dev/ttyQMmissing");
  EXPECT_NE(PortErrorText(transport_->LastError(), "ttyQMmissing").find("'ttyQMmissing'"), std::string::npos);
  EXPECT_FALSE(transport_->Open(""));
  EXPECT_EQ(transport_->LastError().code, kErrInvalidName);

  FakeModem modem;  // a port another program holds
  ASSERT_TRUE(Connect(modem));
  AsyncSerialComm other(config_, log_);
  EXPECT_FALSE(other.Open(modem.SlavePath()));
  EXPECT_EQ(other.LastError().code, kErrAccessDenied);
  EXPECT_FALSE(other.Open("/dev/null"));  // not a serial port at all
  EXPECT_EQ(other.GetStatus(), LinkStatus::kError);

  // A program that holds a port in exclusive mode only (as a terminal program
  // does): not even root takes it over, changes its settings or its mode.
  FakeModem held;
  UniqueFd holder(::open(held.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(holder);
  termios before{};
  ASSERT_EQ(::tcgetattr(holder.get(), &before), 0);
  ASSERT_EQ(::ioctl(holder.get(), TIOCEXCL), 0);
  EXPECT_FALSE(other.Open(held.SlavePath()));
  EXPECT_EQ(other.LastError().code, kErrAccessDenied);
  EXPECT_EQ(SerialPort::IsFree(held.SlavePath()).code, kErrAccessDenied);
  int exclusive = 0;
  ASSERT_EQ(::ioctl(holder.get(), TIOCGEXCL, &exclusive), 0);
  EXPECT_NE(exclusive, 0);
  termios after{};
  ASSERT_EQ(::tcgetattr(holder.get(), &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(SerialPort::IsFree(modem.SlavePath()).code, kErrAccessDenied);  // ours, flocked
}

// Leaving the configuring phase clears the replies, not the unsolicited
// results a modem flushes right after AT+CNMI=.
TEST_F(TransportTest, ClearingRepliesKeepsTheIncomingSlot) {
  FakeModem modem;
  ASSERT_TRUE(Connect(modem));
  modem.Send("\r\n+CSQ: 1,0\r\n\r\n+CMTI: \"SM\",1\r\n\r\nOK\r\n");
  ASSERT_TRUE(Next(ListenerSlot::kOk));
  transport_->ClearReplyQueues();
  EXPECT_FALSE(Next(ListenerSlot::kInfo, 100ms));
  const auto cmti = Next(ListenerSlot::kIncoming);
  ASSERT_TRUE(cmti);
  EXPECT_EQ(cmti->text, "+CMTI: \"SM\",1");
}

TEST_F(TransportTest, LineSettingsReachTheTerminal) {
  FakeModem modem;
  ASSERT_TRUE(Connect(modem));
  const auto attributes = [&] {
    UniqueFd fd(::open(modem.SlavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK));
    termios tio{};
    ::tcgetattr(fd.get(), &tio);
    return tio;
  };
  termios tio = attributes();
  EXPECT_EQ(tio.c_lflag & (ECHO | ICANON), 0u);  // raw
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));

  // A pseudo-terminal always reports 8 data bits without parity enabled, and
  // keeps the other bits.
  ASSERT_TRUE(transport_->Configure(9600, 3, 7, 2, 1));  // mark parity, two stop bits, checked
  tio = attributes();
  EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR | CSTOPB), static_cast<tcflag_t>(PARODD | CMSPAR | CSTOPB));
  EXPECT_NE(tio.c_iflag & INPCK, 0u);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_TRUE(transport_->Configure(123456, 0, 8, 0, 0));  // a rate without a B constant
  EXPECT_FALSE(transport_->Configure(9600, 0, 8, 1, 0));   // 1.5 stop bits need 5 data bits
  EXPECT_EQ(transport_->GetStatus(), LinkStatus::kError);
}

// Close and unplug each stop the reader until the next opening; an unplugged
// port gives one failure, and a half line from it does not reach the next.
TEST_F(TransportTest, CloseAndUnplugStopReadingUntilTheNextOpen) {
  {
    FakeModem modem;
    ASSERT_TRUE(Connect(modem));
    EXPECT_TRUE(transport_->Close());
    EXPECT_EQ(transport_->GetStatus(), LinkStatus::kDisconnected);
    EXPECT_FALSE(transport_->WriteCommand("AT\r\n"));
    EXPECT_EQ(transport_->LastError().code, kErrInvalidHandle);
    ASSERT_TRUE(Connect(modem));
    modem.Send("\r\n+CSQ: 3");  // mid-reply
    std::this_thread::sleep_for(50ms);
    modem.Unplug();
    const auto failure = Next(ListenerSlot::kErrors);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, EventKind::kFailure);
    EXPECT_EQ(transport_->GetStatus(), LinkStatus::kError);
    EXPECT_FALSE(transport_->IsOpenSignalled());
    EXPECT_FALSE(Next(ListenerSlot::kErrors, 500ms));  // no flood
  }
  FakeModem again;
  again.OnCommand("AT\r\n", "\r\nOK\r\n");
  ASSERT_TRUE(Connect(again));
  transport_->WriteCommand("AT\r\n");
  EXPECT_EQ(Next(ListenerSlot::kOk)->text, "OK");
  EXPECT_FALSE(Next(ListenerSlot::kInfo, 100ms));
}

TEST(Transport, LongNoiseWithoutLineEndIsDroppedAndLogged) {
  test::TempDir dir;
  ConfigStore config;
  Logger fileLog(dir.File("t.log"), nullptr);
  AsyncSerialComm transport(config, fileLog);
  ListenerQueue ok;
  ListenerQueue info;
  transport.SetListener(&ok, ListenerSlot::kOk);
  transport.SetListener(&info, ListenerSlot::kInfo);
  transport.StartReader();
  FakeModem modem;
  transport.SetStatus(LinkStatus::kConfiguring);
  ASSERT_TRUE(transport.Open(modem.SlavePath()));
  modem.Send(std::string(70000, 'x') + "\r\nOK\r\n");
  EXPECT_TRUE(NextWithin(ok, 10s));
  EXPECT_FALSE(info.TryPop());
  transport.KillReader();
  EXPECT_NE(test::ReadFile(dir.File("t.log")).find("bytes received without a line end, discarded"), std::string::npos);
}

TEST_F(TransportTest, ByteByByteReader) {
  config_.SetInt("serial.byte_by_byte", 1);
  Start();
  FakeModem modem;
  modem.OnCommand("AT+CGMM\r\n", "\r\nEmulator\r\n\r\nOK\r\n");
  ASSERT_TRUE(Connect(modem));
  transport_->WriteCommand("AT+CGMM\r\n");
  EXPECT_EQ(Next(ListenerSlot::kInfo)->text, "Emulator");
  EXPECT_EQ(Next(ListenerSlot::kOk)->text, "OK");
  // The write itself and the emptied transmit buffer.
  EXPECT_TRUE(Next(ListenerSlot::kWriteDone));
  EXPECT_TRUE(Next(ListenerSlot::kWriteDone));
}

TEST_F(TransportTest, BusyStatusIsResetOnlyPastItsLimit) {
  transport_->SetReplyTimeout(10000);
  transport_->SetStatus(LinkStatus::kBusy);
  clock_ += 50000;
  EXPECT_FALSE(transport_->CheckBusyTimeout());  // exactly 50 s
  clock_ += 1;
  EXPECT_TRUE(transport_->CheckBusyTimeout());
  EXPECT_EQ(transport_->GetStatus(), LinkStatus::kReady);
  clock_ += 100000;
  EXPECT_FALSE(transport_->CheckBusyTimeout());  // only busy is reset

  // The largest timeout does not overflow the limit.
  transport_->SetReplyTimeout(0xFFFFFFFFu);
  transport_->SetStatus(LinkStatus::kBusy);
  clock_ += 21474836000ull;
  EXPECT_FALSE(transport_->CheckBusyTimeout());
  clock_ += 1;
  EXPECT_TRUE(transport_->CheckBusyTimeout());
}

TEST_F(TransportTest, ConcurrentWritesWhilePortIsReopened) {
  FakeModem modem;
  modem.OnCommand("AT\r\n", "\r\nOK\r\n");
  ASSERT_TRUE(Connect(modem));
  std::atomic<bool> done{false};
  std::thread writer([&] {
    while (!done.load()) {
      transport_->WriteCommand("AT\r\n");
      transport_->SetAwaitingReply(true);
      transport_->GetStatus();
    }
  });
  for (int i = 0; i < 20; ++i) {
    transport_->Close();
    ASSERT_TRUE(Connect(modem));
    transport_->Purge();
  }
  done.store(true);
  writer.join();
  transport_->Purge();
  transport_->WriteCommand("AT\r\n");
  EXPECT_TRUE(Next(ListenerSlot::kOk));
}

}  // namespace
}  // namespace qm
