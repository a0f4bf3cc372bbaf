// Status reports matched to sent rows on real tables in a private folder.
#include "gateway/delivery_reports.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/config_store.h"
#include "base/logger.h"
#include "gateway/command_queue_sink.h"
#include "gateway/driver_counters.h"
#include "gateway/driver_timers.h"
#include "gateway/number_match.h"
#include "gateway/user_notices.h"
#include "modem/async_serial_emulator.h"
#include "modem/modem_sender.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"
#include "tests/support/sent_rows.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

class Recorder final : public UserNotices, public MessageObservers {
 public:
  void ShowBalloon(std::string_view title, std::string_view text) override {
    log.push_back(std::string(title) + ": " + std::string(text));
  }
  void ShowLinkSituation(std::string_view) override {}
  void StatusChanged(int32_t id, MessageStatus status) override {
    log.push_back("status " + std::to_string(id) + " " + std::to_string(static_cast<int>(status)));
  }
  void MessageFiled(const SMSMessage&, bool) override {}
  void DeliveryReported(const SMSMessage& m, bool delivered) override {
    log.push_back("handler " + m.to + " " + std::to_string(m.reference) + " " + std::to_string(m.id) + " " +
                  m.custom + (delivered ? " yes" : " no"));
  }
  Strings log;
};

class DeliveryReportsTest : public ::testing::Test {
 protected:
  DeliveryReportsTest() {
    config_.LoadFromFile(std::string(QM_SOURCE_DIR) + "/packaging/qmdriver.cfg");
    std::string error;
    EXPECT_TRUE(InitialiseTables(config_, 0, false, tables_, error)) << error;
    reports_.SetObservers(&recorder_);
  }
  std::string Sent(std::string to, int32_t reference, int32_t id, std::string custom = {}) {
    return test::FileSent(*tables_.sent, std::move(to), reference, id, std::move(custom), kFlagStatusReport);
  }
  std::string Flags(const std::string& key) { return test::SentFlags(*tables_.sent, key); }
  StatusReport Report(std::string from, int32_t reference, uint32_t status) {
    StatusReport report(std::move(from), "", reference, 0, status);
    report.id = 0;
    reports_.ApplyStatusReport(report);
    return report;
  }

  test::TempDir dir_;
  test::ScopedEnv home_{"XDG_CONFIG_HOME", dir_.path()};
  ConfigStore config_;
  Logger log_{dir_.File("driver.log"), &config_};
  TableSet tables_;
  CommandQueue commands_;
  CommandQueueSink sink_{commands_};
  AsyncSerialEmulator transport_{config_, log_, sink_, EmulatorDelays{1ms, 1ms}};
  ModemSender sender_{transport_, sink_, log_};
  DriverTimers timers_;
  Recorder recorder_;
  DriverCounters counters_;
  GatewayContext context_{config_, log_, tables_, transport_, sender_, commands_, timers_, recorder_, counters_};
  DeliveryReports reports_{context_};
};

TEST_F(DeliveryReportsTest, NewestRowWithTheReferenceIsMarkedOnDiskAndLendsItsIdAndCustom) {
  const std::string older = Sent("+27829200000", 7, 11, "old");
  const std::string newer = Sent("+27829200000", 7, 12, "two\tparts \"quoted\"");
  const StatusReport report = Report("+27829200000", 7, 0);
  EXPECT_EQ(Flags(older), "4");
  EXPECT_EQ(Flags(newer), "20");
  EXPECT_EQ(report.id, 12);
  EXPECT_EQ(report.custom, "two\tparts \"quoted\"");
  EXPECT_EQ(recorder_.log, (Strings{"status 12 4", "handler +27829200000 7 12 two\tparts \"quoted\" yes",
                                    "Delivery report received: SMS sent to +27829200000 was delivered successfully"}));
  FileDatabase reread(config_, "sent");
  ASSERT_EQ(reread.Load(false), 0);
  Row row;
  ASSERT_EQ(reread.Get(newer, row), 1);
  EXPECT_EQ(row[8], "20");
}

TEST_F(DeliveryReportsTest, NationalRecipientMatchesAndASecondReportAddsItsBit) {
  const std::string key = Sent("+27829200000", 200, 5);
  Report("0829200000", 200, 0x46);
  EXPECT_EQ(Flags(key), "36");
  Report("0829200000", 200, 0);
  EXPECT_EQ(Flags(key), "52");
  EXPECT_EQ(recorder_.log,
            (Strings{"status 5 5", "handler 0829200000 200 5  no",
                     "Delivery report received: SMS sent to 0829200000 was not delivered for some reason",
                     "status 5 4", "handler 0829200000 200 5  yes",
                     "Delivery report received: SMS sent to 0829200000 was delivered successfully"}));
}

TEST_F(DeliveryReportsTest, OtherRecipientOrUnknownReferenceIsIgnored) {
  const std::string key = Sent("+4917012345", 5, 9);
  EXPECT_EQ(Report("+4917012346", 5, 0).id, 0);
  EXPECT_EQ(Report("+4917012345", 6, 0).id, 0);
  EXPECT_EQ(Flags(key), "4");
  EXPECT_TRUE(recorder_.log.empty());
}

// A report that overtakes its message's outcome waits for the row; one for
// another reference (or another recipient) is left alone.
TEST_F(DeliveryReportsTest, AReportAheadOfItsSentRowIsAppliedWhenTheRowIsFiled) {
  Report("+4917012345", 21, 0);
  Report("+4917099999", 22, 0);
  EXPECT_TRUE(recorder_.log.empty());
  const std::string other = Sent("+4917012345", 22, 8);
  reports_.RetryHeldReports(22);
  EXPECT_EQ(Flags(other), "4");
  const std::string key = Sent("+4917012345", 21, 9);
  reports_.RetryHeldReports(21);
  EXPECT_EQ(Flags(key), "20");
  EXPECT_EQ(recorder_.log.size(), 3u);
  reports_.RetryHeldReports(21);  // applied once
  EXPECT_EQ(recorder_.log.size(), 3u);
}

TEST_F(DeliveryReportsTest, FailedSaveIsLoggedAndTheReportStillCounts) {
  const std::string key = Sent("+4917012345", 5, 9);
  // The table's folder turns into a file: no write can succeed, even as root.
  const std::filesystem::path folder = std::filesystem::path(tables_.sent->FileName()).parent_path();
  std::filesystem::remove_all(folder);
  test::WriteFile(folder.string(), "");
  EXPECT_EQ(Report("+4917012345", 5, 0).id, 9);
  EXPECT_EQ(Flags(key), "20");
  EXPECT_NE(test::ReadFile(dir_.File("driver.log")).find("Error saving the sent table: "), std::string::npos);
}

TEST_F(DeliveryReportsTest, AReportWhileTheCentreStillTriesChangesNothing) {
  const std::string key = Sent("+4917012345", 5, 9);
  Report("+4917012345", 5, 0x30);  // temporary error, the centre tries again
  EXPECT_EQ(Flags(key), "4");
  EXPECT_TRUE(recorder_.log.empty());
  Report("+4917012345", 5, 0x01);  // forwarded, delivery not confirmed: completed
  EXPECT_EQ(Flags(key), "20");
  EXPECT_EQ(DeliveryOutcome(0x60), MessageStatus::kNotDelivered);
}

TEST(SameSubscriber, FormatsOfOneNumberMatchAndOthersDoNot) {
  EXPECT_TRUE(SameSubscriber("+27829200000", "0829200000"));
  EXPECT_TRUE(SameSubscriber("+27829200000", "27829200000"));
  EXPECT_TRUE(SameSubscriber("0027 82 920-0000", "+27829200000/office"));
  EXPECT_TRUE(SameSubscriber("12345", "12345"));
  EXPECT_FALSE(SameSubscriber("+4917012345", "+4917012346"));
  EXPECT_FALSE(SameSubscriber("+4917012345", "+17012345"));  // both whole: the country differs
  EXPECT_FALSE(SameSubscriber("+4912345", "012345"));        // a tail under 6 digits says too little
  EXPECT_FALSE(SameSubscriber("", ""));
  EXPECT_TRUE(SameSubscriber(" Bank ", "BANK"));
  EXPECT_FALSE(SameSubscriber("Bank1", "1"));
  EXPECT_FALSE(SameSubscriber("Bank", "Banks"));
}

}  // namespace
}  // namespace qm
