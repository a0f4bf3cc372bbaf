// The state of a modem memory listing, shared by the command thread and the
// timer thread, with the messages collected while it runs.
//
// The state is 0 when no listing runs; its other values are the steps of a
// listing (bit 8 marks a polling listing, 4 the automation reader's listing).
// Polling collects the messages it has seen (to drop duplicates); the
// automation reader collects the messages it is shown. One lock guards the
// state and both lists, so a listing can never be started twice nor a list
// freed while another thread reads it.
//
// Threads: any.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "sms/message.h"

namespace qm {

class ListingState {
 public:
  int Get() const;
  void Set(int state);
  // Sets `state` only when no listing runs; false when one does.
  bool TryStart(int state);
  // Back to idle with both lists emptied (connect, disconnect, configuring).
  void Reset();

  // Polling: true when an equal message was already collected; otherwise
  // keeps a copy of it and returns false.
  bool CollectPolled(const SMSMessage& message);
  // The end of a polling listing: idle, and the collected messages dropped.
  void FinishPolling();

  // The automation reader's listing.
  void AddListed(std::unique_ptr<SMSMessage> message);
  std::vector<std::unique_ptr<SMSMessage>> TakeListed();
  std::size_t ListedCount() const;

 private:
  mutable std::mutex mutex_;
  int state_ = 0;
  std::vector<std::unique_ptr<SMSMessage>> polled_;
  std::vector<std::unique_ptr<SMSMessage>> listed_;
};

}  // namespace qm
