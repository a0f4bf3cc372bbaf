#include "tests/support/sent_rows.h"

#include <gtest/gtest.h>

#include "sms/message.h"
#include "storage/message_rows.h"

namespace qm::test {

std::string FileSent(FileDatabase& sent, std::string to, int32_t reference, int32_t id, std::string custom,
                     uint32_t flags) {
  SMSMessage message("", std::move(to), "hello", id);
  message.reference = reference;
  message.custom = std::move(custom);
  message.flags = flags;
  const std::string key = sent.NewId();
  sent.Put(MakeSentRow(message, key, sent.Separator()));
  EXPECT_EQ(sent.Save(), 0);
  return key;
}

std::string SentFlags(const FileDatabase& sent, const std::string& key) {
  Row row;
  return sent.Get(key, row) == 1 ? row[8] : "missing";
}

}  // namespace qm::test
