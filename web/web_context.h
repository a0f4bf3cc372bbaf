// What the web server acts on: the one driver this process runs, built at
// start-up from the same objects the automation server gets. The server keeps
// no modem state of its own.
//
// Threads: every member is safe to use from the web workers (each has its own
// lock, or is a queue to the command thread).
#pragma once

#include <functional>

#include "gateway/driver_command.h"

namespace qm {

class ConfigStore;
class Logger;
class AsyncSerialComm;
class DriverCounters;
class SharedModemSnapshot;
class USSDSyncObserverQueue;
struct TableSet;

struct WebContext {
  ConfigStore& config;
  Logger& log;
  TableSet& tables;
  CommandQueue& commands;      // the command thread's queue
  AsyncSerialComm& transport;  // the link status
  DriverCounters& counters;
  USSDSyncObserverQueue& ussdWaiters;
  const SharedModemSnapshot& modem;  // as the command thread last left it
  unsigned instance = 0;
};

}  // namespace qm
