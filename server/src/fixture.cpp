#include "acerto/server/fixture.h"

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "acerto/platform/errors.h"
#include "acerto/platform/packet.h"
#include "acerto/platform/text.h"
#include "acerto/server/access.h"

namespace acerto::server {

using nlohmann::json;

void load_fixture(Database& db, const json& fixture) {
    if (!fixture.is_object()) throw FixtureError("Fixture: o arquivo deve ser um objeto JSON de tabelas.");
    for (auto it = fixture.begin(); it != fixture.end(); ++it) {
        const TableDef* t = find_table(it.key());
        if (!t) throw FixtureError("Fixture: tabela desconhecida " + it.key() + ".");
        if (!it.value().is_array())
            throw FixtureError("Fixture: a tabela " + it.key() + " deve ser uma lista de linhas.");
        int n = 0;
        for (const auto& row : it.value()) {
            ++n;
            if (!row.is_object())
                throw FixtureError("Fixture: a linha " + std::to_string(n) + " de " + t->name + " não é um objeto.");
            for (auto c = row.begin(); c != row.end(); ++c)
                if (!t->column(c.key()))
                    throw FixtureError("Fixture: a tabela " + t->name + " não tem a coluna " + c.key() + ".");
        }
    }
    if (!db.empty()) throw FixtureError("Fixture: o banco de dados já tem dados; a carga precisa de um banco novo.");

    Session& s = db.session();
    Transaction tx(s);
    // Parents before children, whatever order the file lists the tables in.
    for (const auto& t : tables()) {
        auto it = fixture.find(t.name);
        if (it == fixture.end()) {
            for (auto j = fixture.begin(); j != fixture.end(); ++j)
                if (platform::iequals(j.key(), t.name)) it = j;
            if (it == fixture.end()) continue;
        }
        std::string sql = "INSERT INTO " + t.name + " (";
        for (std::size_t i = 0; i < t.columns.size(); ++i) sql += (i ? ", " : "") + t.columns[i].name;
        sql += ") VALUES (";
        for (std::size_t i = 0; i < t.columns.size(); ++i) sql += i ? ", ?" : "?";
        sql += ")";
        int n = 0;
        for (const auto& row : *it) {
            ++n;
            std::vector<Variant> params;
            for (const auto& c : t.columns) {
                const json* cell = nullptr;
                for (auto k = row.begin(); k != row.end(); ++k)
                    if (platform::iequals(k.key(), c.name)) cell = &k.value();
                Variant v;
                if (cell) {
                    try {
                        v = platform::cell_from_json(*cell, c.type);
                    } catch (const platform::Error&) {
                        throw FixtureError("Fixture: valor inválido na coluna " + c.name + " da linha " +
                                           std::to_string(n) + " de " + t.name + ": " + cell->dump());
                    }
                }
                if (v.is_null() && c.name == "NRSEQORCAEVE") v = Variant("00");
                // A fixture gives an operator's password as typed; the table keeps its hash.
                if (t.name == "OPERADOR" && c.name == "DSSENHA" && v.is_text() && v.text().rfind("$argon2", 0) != 0)
                    v = Variant(operators::hash_password(v.text(), operators::HashCost::Minimum));
                if (c.key && v.is_null())
                    throw FixtureError("Fixture: a linha " + std::to_string(n) + " de " + t.name +
                                       " não tem a coluna chave " + c.name + ".");
                params.push_back(std::move(v));
            }
            try {
                s.execute(sql, params);
            } catch (const ConstraintViolation& e) {
                throw FixtureError("Fixture: a linha " + std::to_string(n) + " de " + t.name +
                                   " repete uma chave ou cita o que não existe (" + e.what() + ").");
            }
        }
    }
    tx.commit();
    // A bulk load leaves PostgreSQL's planner statistics empty until autovacuum passes, and the
    // first reads would be planned as over empty tables.
    if (db.dialect() == Dialect::Postgres) s.execute("ANALYZE");
}

void load_fixture_file(Database& db, const std::string& path) {
    std::ifstream in(path);
    if (!in) throw FixtureError("Fixture: não foi possível ler " + path + ".");
    std::stringstream ss;
    ss << in.rdbuf();
    json j = json::parse(ss.str(), nullptr, false);
    if (j.is_discarded()) throw FixtureError("Fixture: " + path + " não é um JSON válido.");
    load_fixture(db, j);
}

}  // namespace acerto::server
