#pragma once
// A self-signed certificate for the run's servers, made by the openssl command, and the client
// settings that trust it.
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "acerto/platform/http.h"
#include "server_process.h"

namespace acerto::test {

struct Certificate {
    std::string cert, key;
};

// Made once per tag; `names` is its subjectAltName.
inline Certificate make_certificate(const std::string& tag, const std::string& names) {
    Certificate c{temp_dir() + "/" + tag + "-cert.pem", temp_dir() + "/" + tag + "-key.pem"};
    if (!std::filesystem::exists(c.cert)) {
        std::string cmd =
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
            "/CN=acerto-teste -addext 'subjectAltName=" +
            names + "' -keyout '" + c.key + "' -out '" + c.cert + "' 2>/dev/null";
        if (std::system(cmd.c_str()) != 0) throw std::runtime_error("openssl req failed");
    }
    return c;
}

inline const Certificate& loopback_certificate() {
    static const Certificate c = make_certificate("loopback", "IP:127.0.0.1,DNS:localhost");
    return c;
}

// The server's arguments to listen over TLS with `c`.
inline std::vector<std::string> tls_args(const Certificate& c = loopback_certificate()) {
    return {"--tls-cert", c.cert, "--tls-key", c.key};
}

// The same, followed by the server's other arguments.
inline std::vector<std::string> tls_args_and(std::vector<std::string> more) {
    std::vector<std::string> args = tls_args();
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// A client that trusts `c` only.
inline platform::http::ClientTls trusting(const Certificate& c = loopback_certificate()) {
    return {true, c.cert};
}

}  // namespace acerto::test
