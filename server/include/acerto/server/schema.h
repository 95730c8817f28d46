#pragma once
// The settlement database's schema: every table with its columns in the order the screen's
// datasets hold them, so that a table's rows travel as the dataset's packet as they stand.
#include <string>
#include <string_view>
#include <vector>

#include "acerto/platform/packet.h"

namespace acerto::server {

enum class Dialect { Sqlite, Postgres };

struct ColumnDef {
    std::string name;
    platform::FieldType type = platform::FieldType::String;
    int size = 0;
    bool key = false;
};

struct TableDef {
    std::string name;
    std::vector<ColumnDef> columns;
    // Extra constraints (foreign keys, uniques) in SQL common to both dialects.
    std::vector<std::string> constraints;

    const ColumnDef* column(std::string_view name) const;
    int index_of(std::string_view name) const;
    std::vector<platform::FieldDef> field_defs() const;
    std::vector<std::string> key_columns() const;
};

// 3: operators, their branches and the audit trail (new tables only).
constexpr int kSchemaVersion = 3;

// Every table, parents before children (the order tables are created and fixtures loaded).
const std::vector<TableDef>& tables();
const TableDef& table(std::string_view name);  // throws std::out_of_range
const TableDef* find_table(std::string_view name);

// Statements that create the schema of kSchemaVersion in a dialect.
std::vector<std::string> create_statements(Dialect d);
// Statements that bring a database of version `from` (its tables already created as
// create_statements leaves them) to kSchemaVersion, its data kept.
std::vector<std::string> upgrade_statements(int from, Dialect d);

}  // namespace acerto::server
