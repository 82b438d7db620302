#pragma once

#include <exception>
#include <string>

namespace kelvane {

// Root of every exception the library raises. The message is the complete English text the user
// sees; callers compare it verbatim, so it is stored exactly as built.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message);
  const char* what() const noexcept override;
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

}  // namespace kelvane
