// Corvo::Exception — the platform's exception types.
//
// Every error the platform raises is a Corvo::Exception carrying a message
// (`msg()`). CorruptionDetectedException is what a shared-memory table raises
// when a read finds damaged content; the reader is expected to hand `msg()` to
// the table's `doCorruptionDetected` and carry on.
//
//   try { table.read(); }
//   catch (Corvo::CorruptionDetectedException const& e) { table.doCorruptionDetected(e.msg()); }
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace Corvo {

class Exception : public std::exception {
 public:
  explicit Exception(std::string msg) : msg_(std::move(msg)) {}
  std::string const& msg() const noexcept { return msg_; }
  char const* what() const noexcept override { return msg_.c_str(); }

 private:
  std::string msg_;
};

class CorruptionDetectedException : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace Corvo
