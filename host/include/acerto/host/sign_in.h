#pragma once
// Signing in on the application server: the operator's code and password give a session token,
// which every call then carries (see docs/protocol.md).
#include <string>

#include "acerto/host/errors.h"
#include "acerto/host/services.h"

namespace acerto::host {

// The server refused the sign-in; what() is its text for the operator.
class SignInRefused : public OperatorError {
  public:
    using OperatorError::OperatorError;
};

struct SignedIn {
    std::string token;
    std::string operator_code;
    std::string name;
};

// Throws SignInRefused with the server's text, or ConnectionError when the server cannot be
// reached or does not take the connection (busy, or the wrong kind: plain HTTP against TLS).
SignedIn sign_in(const std::string& host, int port, const std::string& code, const std::string& password,
                 const platform::http::ClientTls& tls = {});

// Signs in on the configured server; the configuration then holds the signed-in operator (what
// Vantiro::Operador() answers) and the token its connections send.
void sign_in(HostConfig& config, const std::string& code, const std::string& password);

}  // namespace acerto::host
