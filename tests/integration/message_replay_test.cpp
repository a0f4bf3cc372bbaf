// Stored messages reported to the handlers again, as documents ask.
#include "integration/message_replay.h"

#include <gtest/gtest.h>

#include "base/config_store.h"
#include "base/logger.h"
#include "integration/handler_list.h"
#include "integration/worker_pool.h"
#include "storage/message_rows.h"
#include "storage/table_setup.h"
#include "tests/support/sent_rows.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

// Writes down what it is offered.
class Recorder final : public SMSHandler {
 public:
  Recorder(const HandlerServices& services, HandlerEvent kind, std::vector<std::string>& calls)
      : SMSHandler(services), calls_(calls) {
    event = kind;
  }
  std::unique_ptr<SMSHandler> Clone() const override { return std::make_unique<Recorder>(*this); }
  std::string TypeName() const override { return "recorder"; }
  int Handle(const SMSMessage& message, HandlerStatus status) override {
    calls_.push_back(std::to_string(static_cast<int>(event)) + " " + message.from + ">" + message.to + " " +
                     message.body + " [" + message.custom + "] " + std::string(StatusWord(status)) + " #" +
                     std::to_string(message.reference));
    return 0;
  }
  Recorder(const Recorder&) = default;

 private:
  std::vector<std::string>& calls_;
};

TEST(MessageReplay, ReportsTheNewestSentOrElseFailedRowAndNewerInboxRows) {
  test::TempDir dir;
  test::ScopedEnv home("XDG_CONFIG_HOME", dir.path());
  ConfigStore config;
  config.LoadFromFile(std::string(QM_SOURCE_DIR) + "/packaging/qmdriver.cfg");
  TableSet tables;
  std::string error;
  ASSERT_TRUE(InitialiseTables(config, 0, false, tables, error)) << error;
  Logger log(dir.File("log"), nullptr);
  WorkerPool pool(1, 1);
  HandlerList handlers(HandlerServices{log, config, pool, {}, {}});
  std::vector<std::string> calls;
  for (const HandlerEvent kind : {HandlerEvent::kReceive, HandlerEvent::kSend, HandlerEvent::kDelivery}) {
    handlers.Add(std::make_shared<Recorder>(handlers.Services(), kind, calls));
  }

  test::FileSent(*tables.sent, "+491", 7, 1, "both");
  test::FileSent(*tables.sent, "+492", 8, 2, "Order\t5", kFlagStatusReport | kFlagDelivered);
  test::FileSent(*tables.sent, "+493", 9, 3, "both");
  for (const auto& [to, custom] : {std::pair{"+494", "both"}, std::pair{"+495", "failed only"}}) {
    SMSMessage failed("", to, "lost", 4);
    failed.custom = custom;
    tables.failed->Put(MakeFailedRow(failed, tables.failed->NewId(), tables.failed->Separator()));
  }
  for (const uint32_t timestamp : {100u, 300u, 200u}) {
    SMSMessage received("+4917" + std::to_string(timestamp), "+4900", "at " + std::to_string(timestamp));
    received.timestamp = timestamp;
    tables.inbox->Put(MakeInboxRow(received, tables.inbox->NewId(), true, tables.inbox->Separator()));
  }

  MessageReplay(tables, handlers)
      .Run({{ReplayKind::kHandle, "BOTH", 0},
            {ReplayKind::kHandle, "order\t5", 0},
            {ReplayKind::kHandle, "failed only", 0},
            {ReplayKind::kHandle, "nowhere", 0},
            {ReplayKind::kHandleReceived, {}, 150}});
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "1 >+493 hello [both] sent #9",
                       "2 >+492 hello [Order\t5] delivered #8",
                       "1 >+495 lost [failed only] failed #0",
                       "0 +4917300>+4900 at 300 []  #0",
                       "0 +4917200>+4900 at 200 []  #0",
                   }));
}

}  // namespace
}  // namespace qm
