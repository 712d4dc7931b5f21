#pragma once

#include <stdexcept>
#include <string>

namespace qbr {

// The one exception type of the library: an input it cannot read, a model it cannot
// compute, a capacity exceeded. message() is the text exactly as the qbr program prints
// it (with its own leading line break where it has one); what() is the same text
// without the line breaks around it.
class Error : public std::runtime_error {
 public:
  explicit Error(std::string message)
      : std::runtime_error(trimmed(message)), message_(std::move(message)) {}
  const std::string& message() const noexcept { return message_; }

 private:
  static std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of("\n");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of("\n") - first + 1);
  }
  std::string message_;
};

}  // namespace qbr
