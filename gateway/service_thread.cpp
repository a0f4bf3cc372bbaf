#include "gateway/service_thread.h"

#include "gateway/gateway.h"

namespace qm {

CServiceThread::CServiceThread(CommandQueue& commands, Gateway& gateway) : commands_(commands), gateway_(gateway) {}

CServiceThread::~CServiceThread() { Stop(); }

void CServiceThread::Start() {
  Stop();
  thread_ = std::jthread([this](std::stop_token stop) { Loop(stop); });
}

void CServiceThread::SignalStop() { thread_.request_stop(); }

void CServiceThread::Stop() {
  if (!thread_.joinable()) return;
  SignalStop();
  thread_.join();
}

void CServiceThread::Loop(std::stop_token stop) {
  std::stop_callback wake(stop, [this] { commands_.Wake(); });
  while (!stop.stop_requested()) {
    auto command = commands_.Pop();
    if (command) gateway_.Execute(std::move(*command));
  }
}

}  // namespace qm
