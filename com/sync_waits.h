// The automation calls that wait for something (SendSync of a message or a
// USSD request, ReadSync of the memory) without holding up the bus thread:
// the handler hands its sdbus::Result and a poll function to SyncWaits and
// returns; one waiter thread runs every pending poll each 100 ms and sends
// the reply once a poll gives one.
//
// At most kMaxPending calls wait at once; a call beyond that is answered at
// once with an error, so a client cannot grow the list without end. The
// calls of a client that leaves the bus are dropped (nobody is there to read
// their reply). At Stop the calls still waiting are answered with "The
// operation was cancelled".
//
// Threads: Wait, DropCallsOf and Stop from any thread. Polls run on the
// waiter thread with no lock of SyncWaits held; replies are sent without it
// too, because sending takes the bus library's lock, which the bus thread
// holds while a handler (perhaps one calling Wait) runs. A poll must not
// block: it looks at shared state and returns.
#pragma once

#include <sdbus-c++/Error.h>
#include <sdbus-c++/MethodResult.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "com/automation_errors.h"

namespace qm {

// What one poll found: nothing yet, the reply, or the error to answer with.
struct NotYet {};
struct Done {};  // the reply of a call that returns nothing
template <class T>
using Polled = std::variant<NotYet, T, sdbus::Error>;

class SyncWaits {
 public:
  static constexpr std::size_t kMaxPending = 1000;
  static constexpr std::chrono::milliseconds kInterval{100};

  SyncWaits();   // starts the waiter thread
  ~SyncWaits();  // Stop()
  SyncWaits(const SyncWaits&) = delete;
  SyncWaits& operator=(const SyncWaits&) = delete;

  // Polls `poll` every kInterval (the first time one interval from now) until
  // it gives a reply or an error and sends that as the answer of `result`.
  // `Value` is Done for a call without results, else its one result type.
  template <class Value, class... Results>
  void Wait(std::string client, sdbus::Result<Results...>&& result, std::function<Polled<Value>()> poll) {
    static_assert(sizeof...(Results) <= 1, "one result at most");
    Add(std::make_unique<Call<Value, Results...>>(std::move(client), std::move(result), std::move(poll)));
  }

  // Forgets the calls of a client that left the bus, unanswered.
  void DropCallsOf(const std::string& client);
  // Ends the waiter thread and cancels the calls still waiting; later calls
  // are refused.
  void Stop();

  std::size_t Pending() const;

 private:
  class PendingCall {
   public:
    explicit PendingCall(std::string client) : client_(std::move(client)) {}
    virtual ~PendingCall() = default;
    const std::string& Client() const { return client_; }
    // True once the call has been answered.
    virtual bool Poll() = 0;
    virtual void Fail(const sdbus::Error& error) = 0;

   private:
    std::string client_;
  };

  template <class Value, class... Results>
  class Call final : public PendingCall {
   public:
    Call(std::string client, sdbus::Result<Results...>&& result, std::function<Polled<Value>()> poll)
        : PendingCall(std::move(client)), result_(std::move(result)), poll_(std::move(poll)) {}

    bool Poll() override {
      Polled<Value> polled = RunPoll();
      if (std::holds_alternative<NotYet>(polled)) return false;
      if (const auto* error = std::get_if<sdbus::Error>(&polled)) {
        Fail(*error);
        return true;
      }
      SendQuietly([&] {
        if constexpr (sizeof...(Results) == 0) {
          result_.returnResults();
        } else {
          result_.returnResults(std::get<Value>(polled));
        }
      });
      return true;
    }

    void Fail(const sdbus::Error& error) override {
      SendQuietly([&] { result_.returnError(error); });
    }

   private:
    Polled<Value> RunPoll() {
      try {
        return poll_();
      } catch (const sdbus::Error& e) {
        return e;
      } catch (const std::exception& e) {
        return Failure(e.what());
      } catch (...) {
        return Failure("internal error");
      }
    }

    sdbus::Result<Results...> result_;
    std::function<Polled<Value>()> poll_;
  };

  // A reply that cannot be sent (the client or the bus went away) is nobody
  // else's concern.
  template <class Send>
  static void SendQuietly(Send&& send) {
    try {
      send();
    } catch (...) {
    }
  }

  void Add(std::unique_ptr<PendingCall> call);
  void Run(std::stop_token stop);

  mutable std::mutex mutex_;
  std::condition_variable_any wake_;
  std::vector<std::unique_ptr<PendingCall>> pending_;  // oldest first
  std::size_t polling_ = 0;                            // taken out for the pass in progress
  std::set<std::string> departed_;                     // clients gone during that pass
  bool stopped_ = false;
  std::jthread thread_;  // last: started once the rest is there
};

}  // namespace qm
