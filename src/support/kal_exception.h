// Base of the system's own exception objects (the stream layer derives from it) and the object
// that the structured-exception translator throws in place of a machine fault.
#pragma once

#include <cstdint>
#include <string>

namespace kal {

class CKalException {
 public:
  explicit CKalException(std::string message = std::string(), int32_t code = -1)
      : code_(code), message_(std::move(message)) {}
  virtual ~CKalException() = default;
  virtual int32_t GetCode() const { return code_; }
  virtual const std::string& GetMessage() const { return message_; }

 private:
  int32_t code_;
  std::string message_;
};

}  // namespace kal

// Thrown by the translator; carries the exception code of the fault.
struct CKalSehException {
  uint32_t Code;
};
