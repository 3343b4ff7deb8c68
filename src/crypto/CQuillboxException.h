// The exception every failure of the crypto layer throws: AES, SHA-256, random
// data and the encrypted block format. Callers above the crypto layer catch it
// at their boundary and turn it into a result that says failure.
#pragma once

#include <stdexcept>
#include <string>

namespace greyfox {

class CQuillboxException : public std::exception {
 public:
  explicit CQuillboxException(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

}  // namespace greyfox
