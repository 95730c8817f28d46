#pragma once
// acerto-robot: a host of the settlement screen that runs scripted operator sessions.
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace acerto::robot {

struct Options {
    std::string module_path;
    std::string server_binary;
    bool trace = false;
    bool keep = false;
    // A running server ("host:port") the scenario's screen uses instead of a server of its own
    // (two robots on two servers of one database); then the scenario's fixture only names the
    // branch, and the server commands and `expect stored` are not available.
    std::string connect;
    // With an https:// address to connect to: the certificate authorities to trust (PEM), else
    // the system's.
    std::string tls_ca;
    // Where `signal NAME` leaves a mark and `wait NAME` waits for one: robots running at once
    // take turns through it.
    std::string sync_dir;
};

struct Outcome {
    bool ok = true;
    int line = 0;
    std::string message;
};

// Runs one scenario file against its own server and database; never throws.
Outcome run_scenario(const std::string& path, const Options& options, std::ostream& trace_out);

}  // namespace acerto::robot
