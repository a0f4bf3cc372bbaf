// Errors of the automation interface: D-Bus errors whose message is exactly
// the driver's text. sdbus-c++ turns an sdbus::Error thrown by a method or
// property handler into the error reply; any other exception would end the
// whole process, so every handler runs its body through Guarded.
#pragma once

#include <sdbus-c++/Error.h>

#include <exception>
#include <string>
#include <utility>

namespace qm {

inline constexpr const char* kErrorFailed = "org.quillmoor.GSM.Error.Failed";          // E_FAIL
inline constexpr const char* kErrorInvalidArg = "org.quillmoor.GSM.Error.InvalidArg";  // E_INVALIDARG

// The driver's texts.
inline constexpr const char* kTextInvalidValue = "Invalid value";
inline constexpr const char* kTextConfigError = "Error in configuration file";
inline constexpr const char* kTextNotConfigured = "The modem is not configured";
inline constexpr const char* kTextMissingDestination = "Missing destination address";
inline constexpr const char* kTextAlreadyReading = "Already reading the memory";
inline constexpr const char* kTextCannotConnect =
    "The modem can't be connected due to an error. Please disconnect the modem and try again.";
inline constexpr const char* kTextCancelled = "The operation was cancelled";
inline constexpr const char* kTextAlreadySent = "This SMS was already sent";
inline constexpr const char* kTextTimeout = "Timeout";
inline constexpr const char* kTextSendingFailed = "Message sending failed";
inline constexpr const char* kTextNotDelivered = "Message has not been delivered";
inline constexpr const char* kTextUssdError = "Error sending USSD";

inline sdbus::Error Failure(std::string text) { return sdbus::Error(kErrorFailed, std::move(text)); }
inline sdbus::Error InvalidArg(std::string text) { return sdbus::Error(kErrorInvalidArg, std::move(text)); }

// Runs a handler's body; anything thrown but an sdbus::Error becomes a
// Failed error with its text, so a fault is one client's error reply and
// never the end of the driver.
template <class Body>
auto Guarded(Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const sdbus::Error&) {
    throw;
  } catch (const std::exception& e) {
    throw Failure(e.what());
  } catch (...) {
    throw Failure("internal error");
  }
}

}  // namespace qm
