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
};

struct Outcome {
    bool ok = true;
    int line = 0;
    std::string message;
};

// Runs one scenario file against its own server and database; never throws.
Outcome run_scenario(const std::string& path, const Options& options, std::ostream& trace_out);

}  // namespace acerto::robot
