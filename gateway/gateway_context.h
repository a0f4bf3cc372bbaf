// What the message flows work with. Every object outlives the flows.
#pragma once

#include "gateway/driver_command.h"

namespace qm {

class AsyncSerialComm;
class ConfigStore;
class DriverCounters;
class DriverTimers;
class Logger;
class ModemSender;
class UserNotices;
struct TableSet;

struct GatewayContext {
  ConfigStore& config;
  Logger& log;
  TableSet& tables;
  AsyncSerialComm& transport;
  ModemSender& sender;
  CommandQueue& commands;  // the command thread's queue
  DriverTimers& timers;
  UserNotices& notices;
  DriverCounters& counters;
};

}  // namespace qm
