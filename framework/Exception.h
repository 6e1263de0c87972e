// The class library's exception classes. Exception is the base of every
// error the tool and the component raise; HandleException shows its message.
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// The silent abort: the standard exception display discards it.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
  explicit EAbort(const std::string& message) : Exception(message) {}
};

// A file could not be created, opened or written.
class EInOutError : public Exception {
 public:
  EInOutError(const std::string& message, int errorCode) : Exception(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

// The class library's thread error (a thread priority the system refused).
class EThread : public Exception {
 public:
  using Exception::Exception;
};
