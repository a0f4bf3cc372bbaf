#include "app/sms_source_thread.h"

namespace qm {

SMSSourceThread::SMSSourceThread(FetchPass fetch, std::chrono::milliseconds beat)
    : fetch_(std::move(fetch)), beat_(beat) {}

SMSSourceThread::~SMSSourceThread() { Stop(); }

void SMSSourceThread::Start() {
  Stop();
  {
    std::lock_guard lock(mutex_);
    stop_ = false;
  }
  thread_ = std::thread([this] { Loop(); });
}

void SMSSourceThread::SignalStop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
}

void SMSSourceThread::Stop() {
  SignalStop();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void SMSSourceThread::Loop() {
  uint32_t pass = 1;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (wake_.wait_for(lock, beat_, [this] { return stop_; })) return;
    }
    if (fetch_) fetch_(pass);
    ++pass;
  }
}

}  // namespace qm
