#pragma once
// The workstations' read method: the host's read-only queries run here, as reads of the
// reference tables only. Internal to the server.
#include <string>
#include <vector>

#include "method_support.h"

namespace acerto::server {

// The tables a workstation may read.
const std::vector<std::string>& reference_tables();

// OpenQuery(sql, [values]): the rows of one SELECT over the reference tables, its "?"
// parameters bound from the values (null, text, number, true/false, date-time), as a packet
// whose fields are the result's columns (upper case; a column of numbers only is a float).
// Refused, and logged: anything but one SELECT (a write, DDL, a pragma, an attached database,
// a second statement), a table outside the list, a function outside a small list, a result of
// more than the row limit, a read longer than the time limit.
Variant open_query(const Call& c, const Args& args);

}  // namespace acerto::server
