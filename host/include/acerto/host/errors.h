#pragma once
// Failures the host shows to the operator as they stand.
#include "acerto/platform/errors.h"

namespace acerto::host {

// An error raised to abort the operation in progress with a message (Consiste::MensErro).
class OperatorError : public platform::Error {
  public:
    using platform::Error::Error;
};

// The application server refused a call; the text is the server's, unchanged.
class ServerError : public OperatorError {
  public:
    using OperatorError::OperatorError;
};

// The application server could not be reached or did not answer in time.
class ConnectionError : public OperatorError {
  public:
    using OperatorError::OperatorError;
};

}  // namespace acerto::host
