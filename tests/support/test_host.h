#pragma once
// What a host lends the screen module in a test: a real server process over a fresh database
// seeded from the scenario fixture, the reference data read through that server, and the
// installed services.
#include <memory>
#include <string>

#include "acerto/host/server_queries.h"
#include "acerto/host/services.h"
#include "server_process.h"

namespace acerto::test {

// Installs `services` as a workstation of the server at `port` signed in as `code`: the
// operator's dialogs through `ui`, the reference reads through `reference`.
inline void install_signed_in(host::Services& services, host::OperatorUi& ui, platform::DbConnection& reference,
                              int port, const std::string& code) {
    services.ui = &ui;
    services.database = &reference;
    services.config.server_port = port;
    services.config.operator_code = code;
    services.config.session_token = token_for(port, code);
    host::install(&services);
}

struct TestHost {
    std::string db = fresh_database();
    std::unique_ptr<ServerProcess> server;
    host::ServerQueries reference;
    host::Services services;

    TestHost(const std::string& fixture, host::OperatorUi& ui) {
        server =
            std::make_unique<ServerProcess>(db, fixture, std::vector<std::string>{"--clock", "2026-12-07 09:30:00"});
        install_signed_in(services, ui, reference, server->port(), kTestOperator);
    }
    ~TestHost() { host::install(nullptr); }
};

}  // namespace acerto::test
