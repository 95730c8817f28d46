#pragma once
// Exceptions of the platform layer. Every failure an operator can meet carries a Portuguese
// text; the host shows it as it stands.
#include <functional>
#include <stdexcept>
#include <string>

namespace acerto::platform {

// Base of every platform failure.
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A value could not be converted (text to number or date, a value to a field's type).
class ConversionError : public Error {
  public:
    using Error::Error;
};

// An operation was asked of a dataset in a state that does not allow it.
class DataSetError : public Error {
  public:
    using Error::Error;
};

// A packet, delta or JSON document does not have the expected shape.
class PacketError : public Error {
  public:
    using Error::Error;
};

// A text that is not JSON at all.
class JsonSyntaxError : public PacketError {
  public:
    using PacketError::PacketError;
};

// A database query failed.
class DatabaseError : public Error {
  public:
    using Error::Error;
};

// The focus could not be moved to a control (disabled, hidden, or on a page not shown).
class FocusError : public Error {
  public:
    using Error::Error;
};

// Tracing of the events that run (for scenario hosts): a hook the host installs.
void set_trace_hook(std::function<void(const std::string&)> hook);
bool tracing();
void trace(const std::string& what);

}  // namespace acerto::platform
