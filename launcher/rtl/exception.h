// The runtime's error classes.
//
// Every failure of the system travels as an exception that carries a message
// and the address of the code that raised it; the fatal-error report prints
// the class name, that address (relative to the program's load address) and
// the message. Errors are always raised through Raise<E>(), which is never
// inlined, so that the address taken is the return address into the raising
// function, the same way for every class.
#pragma once

#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
 public:
  Exception(std::string message, const void* address)
      : message_(std::move(message)), address_(address) {}

  const std::string& Message() const { return message_; }
  // Absolute address of the raising code, or null when unknown.
  const void* Address() const { return address_; }
  // The class name as the fatal-error report shows it.
  virtual const char* ClassName() const { return "Exception"; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
  const void* address_;
};

#define QUARVEL_EXCEPTION_CLASS(Name)                        \
  class Name : public Exception {                            \
   public:                                                   \
    using Exception::Exception;                              \
    const char* ClassName() const override { return #Name; } \
  }

// Errors of the host layer.
QUARVEL_EXCEPTION_CLASS(EResNotFound);
QUARVEL_EXCEPTION_CLASS(EFCreateError);
QUARVEL_EXCEPTION_CLASS(EWriteError);
QUARVEL_EXCEPTION_CLASS(EOSError);

// Throws E with `message`, recording the caller's address.
template <class E>
[[noreturn]] [[gnu::noinline]] void Raise(std::string message) {
  throw E(std::move(message), __builtin_return_address(0));
}
