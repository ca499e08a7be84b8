// The few class-library basics the component and the application share: a root object with a
// class name, and the exception base whose message the error box shows.
#pragma once

#include <exception>
#include <string>

class TObject {
 public:
  virtual ~TObject() = default;
  virtual const char* ClassName() const { return "TObject"; }
};

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// The class library's failed-assignment error ("Cannot assign a %s to a %s").
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};
