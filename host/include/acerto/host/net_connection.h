#pragma once
// TNetConnection: the screen's connection to the application server. Each method of the
// server's remote data module is one HTTP/1.1 request on a kept-alive connection:
// POST /<ServerName>/<Method> with the JSON array of the arguments; the answer is
// {"result": payload} or {"error": "the server's text"} (see docs/protocol.md).
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "acerto/platform/http.h"
#include "acerto/platform/variant.h"

namespace acerto::host {

// A call's answer: the payload, or the server's refusal text.
struct ServerReply {
    bool ok = true;
    platform::Variant payload;
    std::string error;
};

class TNetConnection {
  public:
    explicit TNetConnection(std::string name = "netConnection");
    ~TNetConnection();
    TNetConnection(const TNetConnection&) = delete;
    TNetConnection& operator=(const TNetConnection&) = delete;

    const std::string& name() const { return name_; }
    std::string ServerName;          // the remote data module, e.g. "QLM01200.rdmAcertoFinal"
    std::string Host = "127.0.0.1";  // replaced by the before-connect event
    int Port = 8211;
    bool ThrowException = false;
    int ConnectTimeoutMs = 3000;
    int CallTimeoutMs = 30000;
    // TLS towards the server; unset: as the installed host's configuration says (an https://
    // server address and its tls_ca), so that every connection of a workstation speaks alike.
    std::optional<platform::http::ClientTls> Tls;
    // The session token every call sends (see sign_in.h); empty: the installed host's.
    std::string Token;

    // Runs just before the connection opens (the screen sets Host and Port there).
    std::function<void(TNetConnection&)> OnBeforeConnect;

    // Opens the connection and checks that the server answers for ServerName; throws
    // ConnectionError when it does not.
    void Open();
    void Close();
    bool Connected() const { return connected_; }
    void SetConnected(bool c) {
        if (c)
            Open();
        else
            Close();
    }

    // Calls a method by name with its arguments. A refusal by the server comes back in the
    // reply (see Consiste::CheckResultServ); a transport failure throws ConnectionError.
    // A closed connection is opened first.
    ServerReply Call(const std::string& method, const platform::Variant::Array& args);

    // Counters, for tests, traces and benchmarks: calls made, and seconds spent inside them.
    unsigned long calls() const { return calls_; }
    double call_seconds() const { return call_seconds_; }
    std::function<void(const std::string& method, const platform::Variant::Array& args, const ServerReply& reply)>
        OnAfterCall;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::string name_;
    bool connected_ = false;
    unsigned long calls_ = 0;
    double call_seconds_ = 0;
};

}  // namespace acerto::host
