// What the automation objects act on: the one driver this process runs. The
// objects hold no modem state of their own; two clients that each create an
// SMSDriver see the same modem.
//
// Threads: every member is safe to use from the bus thread (each has its own
// lock, or is a queue to the command thread).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "gateway/driver_command.h"

namespace qm {

class ConfigStore;
class Logger;
class AsyncSerialComm;
class AutomationReader;
class ModemSender;
class DriverCounters;
class HandlerList;
class SharedModemSnapshot;
class USSDSyncObserverQueue;
struct TableSet;

struct AutomationContext {
  ConfigStore& config;
  Logger& log;
  TableSet& tables;
  CommandQueue& commands;        // the command thread's queue
  AsyncSerialComm& transport;    // the link status
  ModemSender& sender;           // raw AT commands
  DriverCounters& counters;      // the error counter
  HandlerList& handlers;         // automation subscribers join the configured handlers
  USSDSyncObserverQueue& ussdWaiters;
  std::function<bool()> saveConfiguration;
  const SharedModemSnapshot& modem;                  // as the command thread last left it
  std::function<void(int seconds)> setPollingTimer;  // the frame's polling timer (0: off)
  AutomationReader& memoryReads;                     // listing and clearing the modem memory for SMSMemory
};

}  // namespace qm
