#pragma once

#include <string>

#include "qbr/error.hpp"

namespace qbr {

// The one way a phase ends the run on an unrecoverable error: the library's public
// error type, which the driver catches to write the message and a line end to the
// console and, when `toLog` is set, to the run log, before it returns exit status 1.
// Library code never calls exit().
class FatalError : public Error {
 public:
  explicit FatalError(std::string message, bool toLog = true)
      : Error(std::move(message)), toLog_(toLog) {}
  bool toLog() const noexcept { return toLog_; }

 private:
  bool toLog_;
};

// Messages carry their own leading "\n" where they have one; the driver adds exactly
// one trailing "\n".
[[noreturn]] inline void fatalStop(std::string message) {
  throw FatalError(std::move(message));
}

// A stop that reaches the console only (the run log is not open, or must not be
// written to).
[[noreturn]] inline void fatalStopConsoleOnly(std::string message) {
  throw FatalError(std::move(message), false);
}

}  // namespace qbr
