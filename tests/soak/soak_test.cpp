// Messages both ways through qmdriver while the modem misbehaves at random:
// refusals, hangs, unplugging, line noise, news inside replies. Afterwards
// every message is accounted for exactly, and the driver's memory and open
// files are where they were.
//
// The CI runs a short version; a long one runs by hand:
//   QM_SOAK_MESSAGES=5000 build/tests/test_soak
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <regex>
#include <thread>

#include "tests/support/driver_process.h"
#include "tests/support/fake_modem.h"
#include "tests/support/received_pdus.h"
#include "tests/support/table_file.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;

constexpr std::size_t kContent = 5;
constexpr std::size_t kUniqueId = 9;
constexpr std::size_t kInboxContent = 4;

// Under AddressSanitizer the heap keeps freed blocks in quarantine, so the
// resident size says nothing about leaks; LeakSanitizer checks those when
// the driver exits (and a leak makes its exit status non-zero).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryMeasurable = false;
#else
constexpr bool kMemoryMeasurable = true;
#endif

int SoakMessages() {
  const char* value = std::getenv("QM_SOAK_MESSAGES");
  return value != nullptr ? std::max(10, std::atoi(value)) : 150;
}

// Resident memory (kB) and open descriptors of a process.
struct Footprint {
  long rssKb = 0;
  int fds = 0;
};

Footprint FootprintOf(pid_t pid) {
  Footprint f;
  const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  const auto at = status.find("VmRSS:");
  if (at != std::string::npos) f.rssKb = std::atol(status.c_str() + at + 6);
  if (DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (const dirent* entry = ::readdir(dir)) f.fds += entry->d_name[0] != '.' ? 1 : 0;
    ::closedir(dir);
  }
  return f;
}

TEST(Soak, MessagesBothWaysThroughRandomFaultsAreAllAccountedFor) {
  const int outgoing = SoakMessages();
  const int incoming = outgoing / 2;
  std::mt19937 random(20261208);

  test::TempDir ports;
  const std::string link = ports.File("ttyUSB-modem");
  const std::string spool = ports.File("spool.xml");
  test::WriteFile(spool, "");
  test::FakeModem modem(link);
  test::SimulatedModem& sim = modem.Simulate(test::ModemProfile::UsbStick());
  sim.SendStatusReports(true);
  sim.SetNoise(3, 11);
  test::DriverSandbox box({{"modem.emulation", "0"},
                           {"modem.port", link},
                           {"status.time", "1"},
                           {"sender.delay", "0"},
                           {"sender.retries", "3"},
                           {"modem.reconnect.time", "1"},
                           {"sender.timeout", "1500"},
                           {"sender.timeout.connect", "3000"},
                           {"sender.timeout.submit", "3000"},
                           {"sources.0.type", "file"},
                           {"sources.0.name", "spool"},
                           {"sources.0.period", "1"},
                           {"sources.0.location", spool}});
  const auto status = [&] { return ReadFile(box.UserFile("qmdriver.status")); };
  test::DriverProcess driver(box, {"-noicon"});
  ASSERT_TRUE(test::WaitForFileContaining(box.UserFile("qmdriver.status"), "state:ready"));
  std::this_thread::sleep_for(2s);  // settled: tables open, first status written
  const Footprint before = FootprintOf(driver.pid());

  // Outgoing in batches through the spool; incoming spread in between; a
  // fault now and then.
  int queued = 0;
  int delivered = 0;
  int unplugs = 0;
  int round = 0;
  const auto spoolTaken = [&] { return ReadFile(spool).empty(); };
  while (queued < outgoing || delivered < incoming) {
    if (queued < outgoing && spoolTaken()) {
      std::vector<std::pair<std::string, std::string>> batch;
      for (int i = 0; i < 25 && queued < outgoing; ++i, ++queued) {
        batch.emplace_back("+49170" + std::to_string(1000000 + queued), "out " + std::to_string(queued));
      }
      test::ReplaceFile(spool, test::MessageDocument(batch));
    }
    for (int i = 0; i < 4 && delivered < incoming; ++i, ++delivered) {
      const std::string text = "in " + std::to_string(delivered);
      const bool inside = random() % 8 == 0;
      sim.Deliver(test::DeliverPdu("+4915" + std::to_string(100000 + delivered), text),
                  inside ? test::Timing::kInsideSubmission : test::Timing::kNow);
    }
    // Each kind of fault early on, whatever the run's length; then at random.
    switch (round < 4 ? round++ : static_cast<int>(random() % 10)) {
      case 0:
        sim.FailSubmissions(1 + static_cast<int>(random() % 3), 500);
        break;
      case 1:
        sim.HangOn("AT+CMGS=", std::chrono::milliseconds(500 + random() % 2000));
        break;
      case 2:
        if (unplugs < 4) {
          ++unplugs;
          modem.Unplug();
          std::this_thread::sleep_for(std::chrono::milliseconds(500 + random() % 1500));
          modem.Replug();
        }
        break;
      case 3:
        modem.Send(std::string("\r\n\x00\xFF\xFE noise \x7F\r\n", 14));
        break;
      default:
        break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 300));
  }

  sim.DeliverHeld();  // no submission may come to carry them

  // Drained: the spool taken, nothing waiting, every incoming message read.
  const auto drained = [&] {
    const auto inbox = test::ReadTableRows(box.UserFile("inbox.txt"));
    return spoolTaken() && status().find("state:ready; outbox:0") != std::string::npos &&
           static_cast<int>(inbox.size()) >= incoming && sim.WaitingInNetwork() == 0;
  };
  const auto limit = std::chrono::steady_clock::now() + 2min;
  while (!drained() && std::chrono::steady_clock::now() < limit) std::this_thread::sleep_for(200ms);
  std::this_thread::sleep_for(2s);  // the last outcomes are filed, reports matched
  ASSERT_TRUE(drained()) << status() << "\nstored " << sim.StoredCount() << ", waiting " << sim.WaitingInNetwork();
  const Footprint after = FootprintOf(driver.pid());
  driver.Signal(SIGTERM);
  ASSERT_EQ(driver.WaitExit(30s), 0);

  // Outgoing: each in exactly one of sent and failed, none left behind.
  const auto sentRows = test::ReadTableRows(box.UserFile("sent.txt"));
  const auto failedRows = test::ReadTableRows(box.UserFile("failed.txt"));
  EXPECT_TRUE(test::ReadTableRows(box.UserFile("outbox.txt")).empty());
  auto filed = test::CountByColumn(sentRows, kContent);
  for (const auto& [text, n] : test::CountByColumn(failedRows, kContent)) filed[text] += n;
  std::map<std::string, std::string> idOf;
  for (const auto* rows : {&sentRows, &failedRows}) {
    for (const auto& row : *rows) idOf[row[kContent]] = row[kUniqueId];
  }
  // Failed attempts per message id, as the driver reported them.
  std::map<std::string, int> failedAttempts;
  const std::string log = ReadFile(box.UserFile("qmdriver.log"));
  const std::regex notSent("Message (\\d+) not sent");
  for (auto it = std::sregex_iterator(log.begin(), log.end(), notSent); it != std::sregex_iterator(); ++it) {
    ++failedAttempts[(*it)[1]];
  }
  std::map<std::string, int> submitted;
  for (const test::Submission& s : sim.Submissions()) ++submitted[s.text];
  int sentCount = 0;
  for (int i = 0; i < outgoing; ++i) {
    const std::string text = "out " + std::to_string(i);
    ASSERT_EQ(filed[text], 1) << text << " is in sent or failed this often";
    // The network got it at most once more than the driver saw an attempt fail.
    EXPECT_LE(submitted[text], 1 + failedAttempts[idOf[text]]) << text;
    sentCount += submitted[text] > 0 ? 1 : 0;
  }
  EXPECT_EQ(static_cast<int>(sentRows.size() + failedRows.size()), outgoing);
  EXPECT_GT(sentCount, outgoing * 3 / 4);  // the faults are the exception

  // Incoming: each exactly once in the inbox.
  const auto inbox = test::CountByColumn(test::ReadTableRows(box.UserFile("inbox.txt")), kInboxContent);
  for (int i = 0; i < incoming; ++i) {
    const std::string text = "in " + std::to_string(i);
    EXPECT_EQ(inbox.count(text) ? inbox.at(text) : 0, 1) << text;
  }

  // Flat: no descriptor left open, memory grown by little more than the
  // rows the tables now hold.
  EXPECT_LE(after.fds, before.fds + 1) << "descriptors " << before.fds << " -> " << after.fds;
  if (kMemoryMeasurable) {
    EXPECT_LT(after.rssKb - before.rssKb, 4096 + outgoing) << "RSS " << before.rssKb << " kB -> " << after.rssKb;
  }
  // A deletion cut off by the last unplug may leave its (stored) message in
  // the SIM: it is read again and deleted after the next connection.
  std::cout << "soak: " << sim.StoredCount() << " left in the SIM; " << outgoing << " out (" << sentRows.size() << " sent, " << failedRows.size() << " failed), "
            << incoming << " in, " << unplugs << " unplugs; RSS " << before.rssKb << " -> " << after.rssKb
            << " kB, descriptors " << before.fds << " -> " << after.fds << "\n";
}

}  // namespace
}  // namespace qm
