#pragma once
// A workstation's reference data: the host's read-only queries run on the application server,
// whose read method (OpenQuery) takes the statement's text and values and answers the rows.
// The workstation knows only the server's address, from the host's configuration.
#include <string>
#include <vector>

#include "acerto/host/net_connection.h"
#include "acerto/platform/query.h"

namespace acerto::host {

class ServerQueries : public platform::DbConnection {
  public:
    explicit ServerQueries(std::string server_name = "QLM01200.rdmAcertoFinal");

    // Throws platform::DatabaseError with the server's text when it refuses the statement,
    // and ConnectionError when the server cannot be reached.
    platform::ResultSet query(const std::string& sql, const std::vector<platform::Variant>& params) override;

    TNetConnection& connection() { return net_; }

  private:
    TNetConnection net_;
};

}  // namespace acerto::host
