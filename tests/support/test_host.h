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

struct TestHost {
    std::string db = fresh_database();
    std::unique_ptr<ServerProcess> server;
    host::ServerQueries reference;
    host::Services services;

    TestHost(const std::string& fixture, host::OperatorUi& ui) {
        server =
            std::make_unique<ServerProcess>(db, fixture, std::vector<std::string>{"--clock", "2026-12-07 09:30:00"});
        services.ui = &ui;
        services.database = &reference;
        services.config.server_port = server->port();
        services.config.operator_code = kTestOperator;
        services.config.session_token = server->token();
        host::install(&services);
    }
    ~TestHost() { host::install(nullptr); }
};

}  // namespace acerto::test
