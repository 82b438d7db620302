#include "common/exception.h"

#include <utility>

namespace kelvane {

Exception::Exception(std::string message) : message_(std::move(message)) {}

const char* Exception::what() const noexcept {
  return message_.c_str();
}

}  // namespace kelvane
