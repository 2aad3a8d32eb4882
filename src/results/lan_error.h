#pragma once
// The one error type of file and settings operations: what() is the message the user
// sees in the program's error box, complete and ready to show. The command that started
// the operation catches it; nothing below that command retries or reports it.
#include <stdexcept>
#include <string>

class TLanError : public std::runtime_error {
 public:
  explicit TLanError(const std::string& message) : std::runtime_error(message) {}
};
