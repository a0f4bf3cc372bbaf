#include "app/sms_source_thread.h"

namespace qm {

SMSSourceThread::SMSSourceThread(FetchPass fetch, std::chrono::milliseconds beat)
    : fetch_(std::move(fetch)), beat_(beat) {}

SMSSourceThread::~SMSSourceThread() { Stop(); }

void SMSSourceThread::Start() {
  Stop();
  thread_ = std::jthread([this](std::stop_token stop) { Loop(stop); });
}

void SMSSourceThread::SignalStop() { thread_.request_stop(); }

void SMSSourceThread::Stop() {
  SignalStop();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void SMSSourceThread::Loop(std::stop_token stop) {
  uint32_t pass = 1;
  for (;;) {
    {
      // The stop request ends the beat at once.
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, stop, beat_, [] { return false; });
      if (stop.stop_requested()) return;
    }
    if (fetch_) fetch_(pass);
    ++pass;
  }
}

}  // namespace qm
