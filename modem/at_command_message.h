// A raw AT command as an item of the modem command queue (kind 0, "at").
#pragma once

#include <memory>
#include <string>

#include "sms/message.h"

namespace qm {

class ATCommandMessage final : public GenericMessage {
 public:
  // `command` is the whole line as written, including its "\r\n".
  explicit ATCommandMessage(std::string command) : command_(std::move(command)) {}

  int Kind() const override { return kKindAtCommand; }
  std::string KindName() const override { return "at"; }
  std::unique_ptr<GenericMessage> CloneGeneric() const override {
    return std::make_unique<ATCommandMessage>(command_);
  }

  const std::string& Command() const { return command_; }

 private:
  std::string command_;
};

}  // namespace qm
