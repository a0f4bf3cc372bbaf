#include "modem/modem_sender.h"

#include <algorithm>
#include <condition_variable>

#include "base/logger.h"
#include "modem/async_serial_comm.h"
#include "modem/pin_mask.h"

namespace qm {
namespace {

constexpr ListenerSlot kReplySlots[] = {ListenerSlot::kWriteDone, ListenerSlot::kOk, ListenerSlot::kPrompt, ListenerSlot::kErrors, ListenerSlot::kInfo};

std::string UnexpectedReplyText(const AsyncEvent& event) {
  return "Serial port: unexpected reply! Type: " + std::to_string(static_cast<int>(event.kind)) + " Content: " + event.text;
}

}  // namespace

ModemSender::ModemSender(AsyncSerialComm& transport, ModemEventSink& events, Logger& log)
    : transport_(transport), events_(events), log_(log) {}

ModemSender::~ModemSender() {
  Stop();
  // Leave no slot pointing at the reply queue that is about to go away.
  for (ListenerSlot slot : kReplySlots) {
    ListenerQueue* previous = transport_.SetListener(nullptr, slot);
    if (previous != &replies_) transport_.SetListener(previous, slot);
  }
}

void ModemSender::Start() {
  Stop();
  worker_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void ModemSender::Stop() {
  if (!worker_.joinable()) return;
  worker_.request_stop();
  worker_.join();
  worker_ = std::jthread();
}

void ModemSender::SetMessageHandler(MessageHandler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

std::string ModemSender::LastErrorText() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

void ModemSender::SetLastErrorText(std::string text) {
  std::lock_guard lock(mutex_);
  lastError_ = std::move(text);
}

void ModemSender::Run(std::stop_token stop) {
  std::stop_callback wake(stop, [this] {
    queue_.Wake();
    replies_.Wake();
  });
  while (!stop.stop_requested()) {
    if (!transport_.WaitOpen(stop)) break;
    std::optional<std::unique_ptr<GenericMessage>> item = queue_.Pop();
    if (!item) continue;
    // An item taken while the port went away (or at exit) waits for the next
    // opening at the front of the queue.
    if (stop.stop_requested() || !transport_.IsOpenSignalled()) {
      queue_.PushFront(std::move(*item));
      continue;
    }
    Execute(std::move(*item), stop);
  }
}

void ModemSender::Execute(std::unique_ptr<GenericMessage> item, std::stop_token stop) {
  if (!item) return;
  if (const auto* command = dynamic_cast<const ATCommandMessage*>(item.get())) {
    ExecuteATCommand(*command, stop);
    return;
  }
  auto* sms = dynamic_cast<SMSMessage*>(item.get());
  if (!sms) return;  // nothing else is ever queued
  item.release();
  std::unique_ptr<SMSMessage> message(sms);
  MessageHandler handler;
  {
    std::lock_guard lock(mutex_);
    handler = handler_;
  }
  if (handler) {
    handler(std::move(message), stop);
    return;
  }
  events_.SendFinished(std::move(message), SendOutcome::kFailed);
}

void ModemSender::RegisterReplyQueue() {
  for (ListenerSlot slot : kReplySlots) transport_.SetListener(&replies_, slot);
  replies_.Clear();
}

void ModemSender::PostModemEvent(const AsyncEvent& event, bool success) {
  events_.ModemReply(event, success);
}

bool ModemSender::SleepFor(std::stop_token stop, std::chrono::milliseconds duration) {
  std::mutex mutex;
  std::condition_variable_any cv;
  std::unique_lock lock(mutex);
  cv.wait_for(lock, stop, duration, [] { return false; });
  return !stop.stop_requested();
}

void ModemSender::WaitForQuiet(std::stop_token stop) {
  // A reply still on its way (after a time-out, or to the Ctrl-Z that ended
  // an unexpected prompt) must not be taken for the next command's: wait
  // until the modem has been silent for a while, dropping what comes.
  const auto quiet = std::chrono::milliseconds(std::clamp<uint32_t>(transport_.ReplyTimeout(), 100, 1000));
  const auto deadline = std::chrono::steady_clock::now() + 5 * quiet;
  while (!stop.stop_requested() && std::chrono::steady_clock::now() < deadline) {
    std::optional<AsyncEvent> late = replies_.PopFor(quiet);
    if (!late) {
      if (replies_.Empty()) break;  // silent for the whole interval (or woken by a clear)
      continue;
    }
    if (late->kind != EventKind::kWriteDone) {
      log_.Write(LogLevel::kWarning, "Serial port: late reply ignored: " + late->text);
    }
  }
  outOfStep_ = false;
}

uint64_t ModemSender::BeginCommand(std::stop_token stop) {
  if (outOfStep_) WaitForQuiet(stop);
  RegisterReplyQueue();
  return transport_.EventSerial();
}

std::optional<AsyncEvent> ModemSender::NextReply(std::stop_token stop, uint64_t writtenAfter) {
  for (;;) {
    std::optional<AsyncEvent> event = replies_.Pop();
    if (!event) {
      if (stop.stop_requested()) return std::nullopt;
      continue;  // a clear woke us
    }
    // Nothing the modem said before the command was written answers it.
    if (event->serial != 0 && event->serial <= writtenAfter) continue;
    if (event->kind == EventKind::kError && event->code == 0 && event->text == "timeout") outOfStep_ = true;
    return event;
  }
}

void ModemSender::ExecuteATCommand(const ATCommandMessage& message, std::stop_token stop) {
  if (message.Delay().count() > 0 && !SleepFor(stop, message.Delay())) return;
  const uint64_t writtenAfter = BeginCommand(stop);
  // Replies carry their command, so that a listing knows its own.
  const auto postReply = [&](AsyncEvent event, bool success) {
    event.command = message.Command();
    PostModemEvent(event, success);
  };
  // The reader of the incoming slot learns which read or listing the lines
  // that follow answer.
  transport_.NoteOnIncomingSlot(AsyncEvent{EventKind::kCommandWritten, 0, message.Command(), {}});
  transport_.SetAwaitingReply(true);
  if (!transport_.WriteCommand(message.Command())) {
    transport_.SetAwaitingReply(false);
    const SysError error = transport_.LastError();
    SetLastErrorText(error.text);
    log_.Write(LogLevel::kPortFailure, "Serial port: " + error.text);
    // Whoever waits for this command's outcome (the connection sequence, a
    // memory listing) must learn that it failed rather than wait for ever.
    postReply(AsyncEvent{EventKind::kFailure, error.code, error.text, message.Command()}, false);
    return;
  }
  bool succeeded = false;
  for (bool done = false; !done;) {
    std::optional<AsyncEvent> event = NextReply(stop, writtenAfter);
    if (!event) break;
    switch (event->kind) {
      case EventKind::kWriteDone:
        break;
      case EventKind::kOk:
        log_.Write(LogLevel::kDetail, "Serial port: OK");
        postReply(*event, true);
        done = true;
        break;
      case EventKind::kPrompt: {
        // The modem wants data that does not belong to this command: end its
        // input mode and fail the command.
        const std::string text = UnexpectedReplyText(*event);
        log_.Write(LogLevel::kError, text);
        transport_.WriteCommand("\x1A");
        outOfStep_ = true;  // the modem answers the Ctrl-Z as well
        postReply(AsyncEvent{EventKind::kFailure, 0, text, event->bytes}, false);
        done = true;
        break;
      }
      case EventKind::kError:
      case EventKind::kFailure:
        SetLastErrorText(event->text);
        log_.Write(LogLevel::kPortFailure, "Serial port: " + event->text);
        if (transport_.GetStatus() == LinkStatus::kBusy) transport_.SetStatus(LinkStatus::kReady);
        postReply(*event, false);
        done = true;
        break;
      case EventKind::kInfo:
        log_.Write(LogLevel::kDetail, "Received: " + MaskPin(event->text));
        postReply(*event, true);
        break;
      case EventKind::kAbort:
        done = true;
        break;
      default:
        log_.Write(LogLevel::kError, UnexpectedReplyText(*event));
        break;
    }
    if (done) succeeded = event->kind == EventKind::kOk;
  }
  transport_.SetAwaitingReply(false);
  transport_.NoteOnIncomingSlot(AsyncEvent{EventKind::kCommandDone, succeeded ? 1 : 0, message.Command(), {}});
}

void ModemSender::AbortCommand() {
  replies_.Push(AsyncEvent{EventKind::kAbort, 0, {}, {}});
  transport_.SetStatus(LinkStatus::kDisconnected);
}

}  // namespace qm
