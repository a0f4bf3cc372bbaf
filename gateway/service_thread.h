// The command thread: pops the driver's commands one at a time and has the
// gateway execute each to its end before the next is taken, so commands never
// run concurrently with each other.
//
// Threads: Start, Stop and the destructor on the owning (main) thread;
// SignalStop from any thread. Anything may post to the queue.
#pragma once

#include <stop_token>
#include <thread>

#include "gateway/driver_command.h"

namespace qm {

class Gateway;

class CServiceThread {
 public:
  CServiceThread(CommandQueue& commands, Gateway& gateway);
  ~CServiceThread();
  CServiceThread(const CServiceThread&) = delete;
  CServiceThread& operator=(const CServiceThread&) = delete;

  void Start();
  // Asks the loop to end after the command that is running.
  void SignalStop();
  // SignalStop, then waits for the thread.
  void Stop();

 private:
  void Loop(std::stop_token stop);

  CommandQueue& commands_;
  Gateway& gateway_;
  std::jthread thread_;  // last: stopped before the members it uses go away
};

}  // namespace qm
