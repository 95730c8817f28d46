#pragma once
// Fixtures: a JSON object naming tables, each an array of rows (objects of column values),
// loaded into a new database. Unknown tables and columns are refused by name.
#include <stdexcept>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "acerto/server/storage.h"

namespace acerto::server {

class FixtureError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

void load_fixture(Database& db, const nlohmann::json& fixture);
void load_fixture_file(Database& db, const std::string& path);
// The demo data set: branches, a product tree, price bases, budgets and orders.
nlohmann::json demo_fixture();

}  // namespace acerto::server
