// A raw AT command as an item of the modem command queue (kind 0, "at").
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "sms/message.h"

namespace qm {

class ATCommandMessage final : public GenericMessage {
 public:
  // `command` is the whole line as written, including its "\r\n"; it is
  // written `delay` after the worker takes it (a modem that asked to wait).
  explicit ATCommandMessage(std::string command, std::chrono::milliseconds delay = {})
      : command_(std::move(command)), delay_(delay) {}

  int Kind() const override { return kKindAtCommand; }
  std::string KindName() const override { return "at"; }
  std::unique_ptr<GenericMessage> CloneGeneric() const override {
    return std::make_unique<ATCommandMessage>(command_, delay_);
  }

  const std::string& Command() const { return command_; }
  std::chrono::milliseconds Delay() const { return delay_; }

 private:
  std::string command_;
  std::chrono::milliseconds delay_;
};

}  // namespace qm
