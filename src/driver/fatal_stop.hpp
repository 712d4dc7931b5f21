#pragma once

#include <stdexcept>
#include <string>

namespace qbr {

// The one way a phase ends the run on an unrecoverable error. The driver catches it,
// writes the message and a line end to the console and, when `toLog` is set, to the
// run log, and returns exit status 1. Library code never calls exit().
class FatalError : public std::runtime_error {
 public:
  explicit FatalError(std::string message, bool toLog = true)
      : std::runtime_error(message), message_(std::move(message)), toLog_(toLog) {}
  const std::string& message() const noexcept { return message_; }
  bool toLog() const noexcept { return toLog_; }

 private:
  std::string message_;
  bool toLog_;
};

// Messages carry their own leading "\n" where they have one; the driver adds exactly
// one trailing "\n".
[[noreturn]] inline void fatalStop(std::string message) { throw FatalError(std::move(message)); }

// A stop that reaches the console only (the run log is not open, or must not be
// written to).
[[noreturn]] inline void fatalStopConsoleOnly(std::string message) {
  throw FatalError(std::move(message), false);
}

}  // namespace qbr
