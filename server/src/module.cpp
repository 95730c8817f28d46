#include "acerto/server/module.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <map>
#include <memory>
#include <set>

#include "acerto/platform/errors.h"
#include "acerto/platform/format.h"
#include "acerto/platform/packet.h"
#include "acerto/platform/refusal_keys.h"
#include "acerto/platform/text.h"
#include "audit.h"
#include "financial.h"
#include "method_support.h"
#include "reference_read.h"
#include "report.h"
#include "stock.h"

namespace acerto::server {

using platform::ChangeKind;
using platform::DataPacket;
using platform::DateTime;
using platform::FieldDef;
using platform::FieldType;

platform::DateTime Clock::now() const {
    return fixed ? *fixed : DateTime::now_local();
}

// ------------------------------------------------------------------------ argument checks

void check_args(const std::string& method, const Args& args, std::initializer_list<Arg> kinds) {
    if (args.size() != kinds.size())
        throw Refusal(method + " espera " + std::to_string(kinds.size()) + " argumento(s); recebeu " +
                      std::to_string(args.size()) + ".");
    std::size_t i = 0;
    for (Arg k : kinds) {
        const Variant& a = args[i++];
        bool ok = false;
        switch (k) {
            case Arg::Text:
                ok = a.is_text();
                break;
            case Arg::TextOrNull:
                ok = a.is_text() || a.is_null();
                break;
            case Arg::PacketOrNull:
                ok = a.is_null() || (a.is_packet() && a.packet()->is_delta());
                break;
            case Arg::Packet:
                ok = a.is_packet() && !a.packet()->is_delta();
                break;
        }
        if (!ok) {
            const char* want = k == Arg::PacketOrNull ? "um delta ou nulo"
                               : k == Arg::Packet     ? "um pacote de dados"
                                                      : "um texto";
            throw Refusal(method + ": o argumento " + std::to_string(i) + " deve ser " + want + ".");
        }
        if (a.is_text() && a.text().find('\0') != std::string::npos)
            throw Refusal(method + ": o argumento " + std::to_string(i) + " traz um caractere nulo.");
    }
}

std::string text_arg(const Variant& v) {
    return v.is_null() ? std::string() : v.text();
}

// ------------------------------------------------------------------------------- packets

// A stored value as the field's type: numbers as numbers, date-times from their ISO text.
Variant from_db(const Variant& v, FieldType t) {
    if (v.is_null()) return v;
    switch (t) {
        case FieldType::Float:
        case FieldType::Integer:
            return v.is_number() ? v : Variant(v.as_number());
        case FieldType::DateTime: {
            DateTime d;
            if (v.is_text() && DateTime::try_parse_iso(v.text(), d)) return Variant(d);
            return v.is_number() && platform::date_of_days(v.number(), d) ? Variant(d) : Variant();
        }
        default:
            if (v.is_text()) return v;
            return Variant(v.is_number() && v.number() == std::trunc(v.number()) && std::fabs(v.number()) < 9.2e18
                               ? std::to_string(static_cast<long long>(v.number()))
                               : v.as_string());
    }
}

PacketPtr packet_of(Session& s, std::vector<FieldDef> fields, const std::string& sql,
                    const std::vector<Variant>& params) {
    ResultSet rs = s.query(sql, params);
    auto p = std::make_shared<DataPacket>(std::move(fields));
    p->rows().reserve(rs.rows.size());
    const auto& defs = p->fields();
    for (auto& r : rs.rows) {
        platform::Row row(defs.size());
        for (std::size_t i = 0; i < defs.size() && i < r.size(); ++i) row[i] = from_db(r[i], defs[i].type);
        p->rows().push_back(std::move(row));
    }
    return p;
}

std::string column_list(const TableDef& t) {
    std::string s;
    for (std::size_t i = 0; i < t.columns.size(); ++i) s += (i ? ", " : "") + t.columns[i].name;
    return s;
}

// Rows of a settlement table for one budget, in the table's column order.
PacketPtr table_packet(Session& s, const TableDef& t, const std::string& where, const std::vector<Variant>& params,
                       const std::string& order) {
    std::string sql = "SELECT " + column_list(t) + " FROM " + t.name;
    if (!where.empty()) sql += " WHERE " + where;
    if (!order.empty()) sql += " ORDER BY " + order;
    return packet_of(s, t.field_defs(), sql, params);
}

Variant as_variant(PacketPtr p) {
    return Variant(std::move(p));
}

// ------------------------------------------------------------------------------- budgets

std::optional<Budget> find_budget(Session& s, const std::string& branch, const std::string& number) {
    ResultSet rs = s.query(
        "SELECT NRSEQORCAEVE, CDDEPTO, IDTPCOBRVREXTRA FROM ORCAMENTO WHERE CDFILIAL = ? AND "
        "NRORCAEVENTO = ?",
        {Variant(branch), Variant(number)});
    if (rs.rows.empty()) return std::nullopt;
    Budget b{branch, number, rs.rows[0][0].is_null() ? "00" : rs.rows[0][0].as_string(),
             rs.rows[0][1].is_null() ? "" : rs.rows[0][1].as_string(),
             rs.rows[0][2].is_null() ? "" : rs.rows[0][2].as_string()};
    return b;
}

std::string budget_name(const std::string& branch, const std::string& number) {
    return "orçamento " + number + " (filial " + branch + ")";
}

namespace {

// Texts of the screen's catalogue for a settlement whose stock or finance is updated.
std::optional<std::string> lock_text(const std::string& situation) {
    if (situation == "T") return "Acerto não pode ser alterado. Estoque e financeira já foram atualizados.";
    if (situation == "E") return "Acerto não pode ser alterado. Estoque já foi atualizado.";
    if (situation == "F") return "Acerto não pode ser alterado. Financeiro já foi atualizado.";
    return std::nullopt;
}

// ----------------------------------------------------------------------- applying deltas

const char* kLineTables[] = {"ACERTOQUEBRA", "ACERTOSOBRA", "ACERTOHREXTRA", "ACERTOEXTRA"};

// A grid holds at most 9,999 lines, numbered "0001" to "9999" in a four-character key. A
// delta may delete a line and insert another under its number: twice as many changes.
constexpr int kMaxLines = 9999;
constexpr std::size_t kMaxChangesPerDelta = 2 * kMaxLines;
// The screen refuses a number beyond nine nines, and dates outside these years.
constexpr double kMaxAmount = 999999999;
constexpr int kFirstYear = 1900, kLastYear = 2200;

// Columns only the server writes: the settlement's situation and department, and what a
// stock withdrawal records on an extras line.
bool server_only(const TableDef& t, const std::string& column) {
    if (column == "CDDEPTO") return true;
    if (t.name == "ACERTO") return column == "IDSITUACERTO";
    if (t.name == "ACERTOEXTRA") return column == "CDFILIALEST" || column == "NRLANCESTQ" || column == "NRSEQUITEM";
    return false;
}

bool blank(const Variant& v) {
    return v.is_null() || platform::trim(v.as_string()).empty();
}

std::string text_of(const Variant& v) {
    return v.is_null() ? std::string() : v.as_string();
}

struct BudgetKey {
    std::string branch, number;
    auto operator<=>(const BudgetKey&) const = default;
};

// A delta mapped onto its table: for each delta field, the table column.
struct MappedDelta {
    const TableDef* table = nullptr;
    PacketPtr delta;
    std::vector<const ColumnDef*> columns;
    int branch_field = -1, number_field = -1, sequence_field = -1;
    int line_field = -1;  // the line number of a line table
    bool is_header = false;
};

MappedDelta map_delta(const TableDef& t, PacketPtr delta) {
    if (delta->changes().size() > kMaxChangesPerDelta)
        throw Refusal("O delta de " + t.name + " traz " + std::to_string(delta->changes().size()) +
                      " alterações; o limite é " + std::to_string(kMaxChangesPerDelta) + " (" +
                      std::to_string(kMaxLines) + " linhas por aba).");
    MappedDelta m;
    m.table = &t;
    m.delta = delta;
    m.is_header = t.name == "ACERTO";
    std::set<std::string> seen;
    for (const auto& f : delta->fields()) {
        const ColumnDef* c = t.column(f.name);
        if (!c) throw Refusal("O delta de " + t.name + " traz o campo desconhecido " + f.name + ".");
        if (!seen.insert(c->name).second)
            throw Refusal("O delta de " + t.name + " traz o campo " + f.name + " duas vezes.");
        if (c->key && c->name != "CDFILIAL" && c->name != "NRORCAEVENTO" && !m.is_header)
            m.line_field = static_cast<int>(m.columns.size());
        if (c->name == "NRSEQORCAEVE") m.sequence_field = static_cast<int>(m.columns.size());
        m.columns.push_back(c);
    }
    for (const auto& k : t.key_columns())
        if (!seen.count(k)) throw Refusal("O delta de " + t.name + " não traz o campo chave " + k + ".");
    // A change is checked against every column the screen writes: a client that leaves one
    // out would overwrite what another operator saved meanwhile.
    bool changes_stored = std::any_of(delta->changes().begin(), delta->changes().end(),
                                      [](const auto& ch) { return ch.kind != ChangeKind::Insert; });
    if (changes_stored)
        for (const auto& c : t.columns)
            if (!server_only(t, c.name) && !seen.count(c.name))
                throw Refusal("O delta de " + t.name + " altera ou exclui sem o valor original do campo " + c.name +
                              ": uma alteração ou exclusão traz todos os campos da linha, e todos "
                              "são conferidos.");
    for (const auto& ch : delta->changes())
        if ((ch.kind != ChangeKind::Insert && ch.original.size() != m.columns.size()) ||
            (ch.kind != ChangeKind::Delete && ch.values.size() != m.columns.size()))
            throw Refusal("O delta de " + t.name + " traz uma linha incompleta.");
    m.branch_field = delta->index_of("CDFILIAL");
    m.number_field = delta->index_of("NRORCAEVENTO");
    return m;
}

// A delta value as the column stores it; refuses what does not fit. A new value is checked
// against the ranges the screen keeps to as well (an original only has to be what is stored).
Variant to_column(const Variant& v, const ColumnDef& c, const std::string& table, bool new_value = false) {
    if (v.is_null()) return v;
    try {
        switch (c.type) {
            case FieldType::Float:
            case FieldType::Integer: {
                double d = v.as_number();
                if (!std::isfinite(d)) throw platform::ConversionError("");
                if (new_value && std::fabs(d) > kMaxAmount)
                    throw Refusal("O valor do campo " + c.name + " de " + table +
                                  " passa de 999999999, o maior que o acerto aceita.");
                return Variant(d);
            }
            case FieldType::DateTime: {
                DateTime d;
                if (v.is_number()) {
                    if (!platform::date_of_days(v.number(), d)) throw platform::ConversionError("");
                } else {
                    d = v.as_date_time();
                    if (!platform::date_of_days(d.days(), d)) throw platform::ConversionError("");
                }
                int year = d.parts().year;
                if (new_value && (year < kFirstYear || year > kLastYear))
                    throw Refusal("A data do campo " + c.name + " de " + table +
                                  " está fora do intervalo aceito (anos de " + std::to_string(kFirstYear) + " a " +
                                  std::to_string(kLastYear) + ").");
                return Variant(d);
            }
            default: {
                std::string s = v.is_text() ? v.text() : v.as_string();
                // PostgreSQL would cut the text there; SQLite would keep what no screen shows.
                if (s.find('\0') != std::string::npos)
                    throw Refusal("O campo " + c.name + " de " + table +
                                  " traz um caractere nulo, que não pode ser gravado.");
                if (c.size > 0 && platform::utf8_length(s) > static_cast<std::size_t>(c.size))
                    throw Refusal("O valor '" + s + "' excede o tamanho do campo " + c.name + " de " + table + " (" +
                                  std::to_string(c.size) + " caracteres).");
                return Variant(std::move(s));
            }
        }
    } catch (const platform::Error&) {
        throw Refusal("Valor inválido para o campo " + c.name + " de " + table + ".");
    }
}

// A line number as the screen writes it: four digits, "0001" to "9999".
bool line_number(const std::string& s) {
    return s.size() == 4 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }) && s != "0000";
}

class DeltaWriter {
  public:
    // `deletes_only`: the deltas of SetDeletar, which may only delete.
    explicit DeltaWriter(Session& s, bool deletes_only = false) : s_(s), deletes_only_(deletes_only) {}

    // Applies the header delta and the four line deltas in one transaction. Everything is
    // checked before anything is written; then header inserts and changes go first, then the
    // lines, then header deletions; then the settlement must be whole (lines only under a
    // header).
    void apply(PacketPtr header, const std::array<PacketPtr, 4>& lines) {
        // 1. Each delta onto its table.
        std::vector<MappedDelta> mapped;
        std::optional<MappedDelta> head;
        if (header) head = map_delta(table("ACERTO"), header);
        for (std::size_t i = 0; i < 4; ++i)
            if (lines[i]) mapped.push_back(map_delta(table(kLineTables[i]), lines[i]));

        // 2. The one settlement the call is about, its budget and its lock.
        if (head) collect(*head);
        for (const auto& m : mapped) collect(m);
        if (touched_.size() > 1) {
            auto first = touched_.begin(), second = std::next(first);
            throw Refusal("Um pedido grava um só acerto, e este traz linhas do " +
                          budget_name(first->branch, first->number) + " e do " +
                          budget_name(second->branch, second->number) + ".");
        }
        if (touched_.empty()) return;
        Budget budget = check_settlement(*touched_.begin());
        // Withdrawn extras lines stay as the withdrawal took them (a stale screen's change).
        for (const auto& m : mapped)
            if (m.table->name == "ACERTOEXTRA" && !m.delta->changes().empty())
                refuse_extras_change_while_withdrawn(s_, budget.branch, budget.number);

        // 3. What each change may do.
        if (head) check_changes(*head, budget);
        for (const auto& m : mapped) check_changes(m, budget);

        // 4. The writes.
        if (head) apply_changes(*head, false);
        for (const auto& m : mapped) apply_changes(m, true);
        if (head) apply_changes(*head, true, true);
        check_whole(*touched_.begin());
    }

    // The settlement the deltas were about, once applied; nullopt when they held no change.
    std::optional<BudgetKey> settlement() const {
        return touched_.empty() ? std::nullopt : std::optional<BudgetKey>(*touched_.begin());
    }

    bool has_lines(const BudgetKey& key) {
        for (const char* t : kLineTables)
            if (!s_.query(std::string("SELECT 1 FROM ") + t + " WHERE CDFILIAL = ? AND NRORCAEVENTO = ?",
                          {Variant(key.branch), Variant(key.number)})
                     .rows.empty())
                return true;
        return false;
    }

  private:
    void collect(const MappedDelta& m) {
        for (const auto& ch : m.delta->changes()) {
            const auto& row = ch.kind == ChangeKind::Delete ? ch.original : ch.values;
            // A line that came without its key names no settlement: say so, rather than name
            // a budget of empty branch and number.
            if (platform::trim(text_of(row[m.branch_field])).empty() ||
                platform::trim(text_of(row[m.number_field])).empty())
                throw Refusal("Uma linha de " + m.table->name +
                              " chegou sem a filial e o número do orçamento; nada foi gravado.");
            touched_.insert({text_of(row[m.branch_field]), text_of(row[m.number_field])});
            if (ch.kind != ChangeKind::Modify) continue;
            for (int f : {m.branch_field, m.number_field})
                if (text_of(ch.values[f]) != text_of(ch.original[f]))
                    throw Refusal("O campo chave " + m.columns[f]->name + " de " + m.table->name +
                                  " não pode ser alterado; exclua a linha e inclua outra.");
        }
    }

    Budget check_settlement(const BudgetKey& key) {
        auto budget = find_budget(s_, key.branch, key.number);
        if (!budget) throw Refusal("O " + budget_name(key.branch, key.number) + " não está cadastrado.");
        // PostgreSQL: the header is held until the end of the transaction, so that a financial
        // update running at the same moment waits for these changes or refuses them. Held for
        // update from the start: two saves that each held it shared and then changed it would
        // wait for each other for good (the database ends one as a deadlock).
        std::string sql = "SELECT IDSITUACERTO FROM ACERTO WHERE CDFILIAL = ? AND NRORCAEVENTO = ?";
        if (s_.dialect() == Dialect::Postgres) sql += " FOR UPDATE";
        ResultSet rs = s_.query(sql, {Variant(key.branch), Variant(key.number)});
        if (!rs.rows.empty() && !rs.rows[0][0].is_null())
            if (auto text = lock_text(rs.rows[0][0].as_string())) throw Refusal(*text);
        return *budget;
    }

    // Every value converted and checked, and what the change may do: SetDeletar only deletes;
    // keys and the columns only the server writes stay as they were; a new row belongs to the
    // budget's settlement under its sequence, and a new line has a four-digit number.
    void check_changes(const MappedDelta& m, const Budget& budget) {
        const TableDef& t = *m.table;
        for (const auto& ch : m.delta->changes()) {
            if (deletes_only_ && ch.kind != ChangeKind::Delete)
                throw Refusal("SetDeletar só exclui, e o delta de " + t.name + " traz uma " +
                              (ch.kind == ChangeKind::Insert ? "inclusão." : "alteração."));
            std::vector<Variant> original(m.columns.size());
            if (ch.kind != ChangeKind::Insert)
                for (std::size_t i = 0; i < m.columns.size(); ++i)
                    original[i] = to_column(ch.original[i], *m.columns[i], t.name);
            if (ch.kind == ChangeKind::Delete) continue;
            for (std::size_t i = 0; i < m.columns.size(); ++i) {
                const ColumnDef& c = *m.columns[i];
                Variant v = to_column(ch.values[i], c, t.name, true);
                bool insert = ch.kind == ChangeKind::Insert;
                if (server_only(t, c.name) && (insert ? !blank(v) : !(v == original[i])))
                    throw Refusal("O campo " + c.name + " de " + t.name +
                                  " é gravado só pelo servidor de aplicação; um delta não pode " +
                                  (insert ? "informá-lo." : "alterá-lo."));
                if (m.is_header && c.name == "IDTPVREXTRA" && !blank(v) && v.as_string() != "P" && v.as_string() != "S")
                    throw Refusal(
                        "O campo IDTPVREXTRA de ACERTO só aceita P (por produto) ou S (por "
                        "pessoa).");
                if (!insert && (c.key || static_cast<int>(i) == m.sequence_field) && !(v == original[i]))
                    throw Refusal("O campo chave " + c.name + " de " + t.name +
                                  " não pode ser alterado; exclua a linha e inclua outra.");
            }
            if (ch.kind != ChangeKind::Insert) continue;
            std::string sequence = m.sequence_field < 0 ? "" : text_of(ch.values[m.sequence_field]);
            if (m.is_header ? sequence != budget.sequence : sequence != "00" && sequence != budget.sequence)
                throw Refusal("A sequência '" + sequence + "' de " + t.name + " não é a do " +
                              budget_name(budget.branch, budget.number) + " (" + budget.sequence +
                              (m.is_header ? "" : " ou 00") + ").");
            if (m.line_field >= 0) {
                std::string nr = text_of(ch.values[m.line_field]);
                if (!line_number(nr))
                    throw Refusal("O número de linha '" + nr + "' de " + t.name +
                                  " é inválido: uma linha é numerada com quatro algarismos, de 0001 a 9999.");
            }
        }
    }

    void check_whole(const BudgetKey& key) {
        bool header = !s_.query("SELECT 1 FROM ACERTO WHERE CDFILIAL = ? AND NRORCAEVENTO = ?",
                                {Variant(key.branch), Variant(key.number)})
                           .rows.empty();
        if (!header && has_lines(key))
            throw Refusal("O acerto do " + budget_name(key.branch, key.number) +
                          " não tem cabeçalho: as linhas só podem ser gravadas com o acerto, e o acerto "
                          "só pode ser excluído sem linhas.");
    }

    std::string changed_text(const MappedDelta& m, const platform::Row& row) const {
        std::string who = m.branch_field >= 0 && m.number_field >= 0
                              ? budget_name(row[m.branch_field].as_string(), row[m.number_field].as_string())
                              : m.table->name;
        return "O acerto do " + who + " foi alterado por outro usuário. Recarregue o orçamento e repita a operação.";
    }

    // Applies one delta's changes: all but header deletions (deletes_only false), or only them.
    void apply_changes(const MappedDelta& m, bool deletes, bool header_deletes = false) {
        const TableDef& t = *m.table;
        const bool is_header = t.name == "ACERTO";
        for (const auto& ch : m.delta->changes()) {
            bool is_delete = ch.kind == ChangeKind::Delete;
            if (is_header) {
                if (header_deletes != is_delete) continue;
            } else if (!deletes) {
                continue;
            }
            switch (ch.kind) {
                case ChangeKind::Insert:
                    insert(m, ch.values, is_header);
                    break;
                case ChangeKind::Modify:
                    modify(m, ch.original, ch.values);
                    break;
                case ChangeKind::Delete:
                    remove(m, ch.original);
                    break;
            }
        }
    }

    void insert(const MappedDelta& m, const platform::Row& values, bool is_header) {
        const TableDef& t = *m.table;
        std::vector<std::string> cols;
        std::vector<Variant> params;
        for (std::size_t i = 0; i < m.columns.size(); ++i) {
            const ColumnDef& c = *m.columns[i];
            Variant v = to_column(values[i], c, t.name, true);
            if (c.key && (v.is_null() || platform::trim(v.as_string()).empty()))
                throw Refusal("O campo chave " + c.name + " de " + t.name + " está vazio.");
            if (server_only(t, c.name)) continue;
            cols.push_back(c.name);
            params.push_back(std::move(v));
        }
        if (is_header) {
            // The department comes from the budget, and a new settlement is pending.
            auto b = find_budget(s_, values[m.branch_field].as_string(), values[m.number_field].as_string());
            cols.push_back("CDDEPTO");
            params.push_back(b && !b->department.empty() ? Variant(b->department) : Variant());
            cols.push_back("IDSITUACERTO");
            params.push_back(Variant("P"));
        }
        std::string sql = "INSERT INTO " + t.name + " (";
        for (std::size_t i = 0; i < cols.size(); ++i) sql += (i ? ", " : "") + cols[i];
        sql += ") VALUES (";
        for (std::size_t i = 0; i < cols.size(); ++i) sql += i ? ", ?" : "?";
        sql += ")";
        try {
            s_.execute(sql, params);
        } catch (const ConstraintViolation&) {
            throw Refusal(changed_text(m, values));
        }
    }

    // The row as the screen last saw it. The header's situation and department are the
    // server's to write, so the screen never knows them for sure: they are not compared (a
    // situation that locks the settlement is refused before any change is applied).
    std::string where_original(const MappedDelta& m, const platform::Row& original, std::vector<Variant>& params) {
        const bool is_header = m.table->name == "ACERTO";
        std::string w;
        for (std::size_t i = 0; i < m.columns.size(); ++i) {
            if (is_header && (m.columns[i]->name == "IDSITUACERTO" || m.columns[i]->name == "CDDEPTO")) continue;
            // Key columns are NOT NULL, so "=" matches as the null-safe operator would, and lets
            // PostgreSQL find the row by its key's index (it scans the table for IS NOT DISTINCT FROM).
            const char* op = m.columns[i]->key ? "=" : s_.same();
            w += (w.empty() ? "" : " AND ") + m.columns[i]->name + " " + op + " ?";
            params.push_back(to_column(original[i], *m.columns[i], m.table->name));
        }
        return w;
    }

    void modify(const MappedDelta& m, const platform::Row& original, const platform::Row& values) {
        const TableDef& t = *m.table;
        std::string set;
        std::vector<Variant> params;
        for (std::size_t i = 0; i < m.columns.size(); ++i) {
            const ColumnDef& c = *m.columns[i];
            // Checked unchanged before: the server's columns are left as they are.
            if (server_only(t, c.name)) continue;
            Variant v = to_column(values[i], c, t.name, true);
            if (c.key && (v.is_null() || platform::trim(v.as_string()).empty()))
                throw Refusal("O campo chave " + c.name + " de " + t.name + " está vazio.");
            set += (set.empty() ? "" : ", ") + c.name + " = ?";
            params.push_back(std::move(v));
        }
        if (set.empty()) return;
        std::string sql = "UPDATE " + t.name + " SET " + set + " WHERE " + where_original(m, original, params);
        long long n;
        try {
            n = s_.execute(sql, params);
        } catch (const ConstraintViolation&) {
            throw Refusal(changed_text(m, values));
        }
        if (n != 1) throw Refusal(changed_text(m, original));
    }

    void remove(const MappedDelta& m, const platform::Row& original) {
        std::vector<Variant> params;
        std::string sql = "DELETE FROM " + m.table->name + " WHERE " + where_original(m, original, params);
        long long n;
        try {
            n = s_.execute(sql, params);
        } catch (const ConstraintViolation&) {
            throw Refusal(changed_text(m, original));
        }
        if (n != 1) throw Refusal(changed_text(m, original));
    }

    Session& s_;
    bool deletes_only_;
    std::set<BudgetKey> touched_;
};

PacketPtr delta_arg(const Variant& v) {
    return v.is_null() ? nullptr : v.packet();
}

// --------------------------------------------------------------------------- the methods

std::string event_text(const Variant& code, const Variant& name) {
    std::string c = code.is_null() ? "" : platform::trim(code.as_string());
    std::string n = name.is_null() ? "" : platform::trim(name.as_string());
    if (c.empty()) return n;
    if (n.empty()) return c;
    return c + " - " + n;
}

Variant get_pesq_orca(const Call& c, const Args& args) {
    Session& s = c.db.session();
    check_args(c.method, args, {Arg::Text});
    return as_variant(packet_of(s,
                                {{"NRORCAEVENTO", FieldType::String, 10},
                                 {"CDFILIAL", FieldType::String, 4},
                                 {"IDTPORCAEVEN", FieldType::String, 1}},
                                "SELECT NRORCAEVENTO, CDFILIAL, IDTPORCAEVEN FROM ORCAMENTO "
                                "WHERE CDFILIAL = ? ORDER BY NRORCAEVENTO",
                                {args[0]}));
}

Variant get_vd_orca_even(const Call& c, const Args& args) {
    Session& s = c.db.session();
    check_args(c.method, args, {Arg::Text, Arg::Text});
    std::string sql =
        "SELECT CDFILIAL, NRORCAEVENTO, IDTPORCAEVEN FROM ORCAMENTO WHERE CDFILIAL = ? AND "
        "NRORCAEVENTO = ?";
    if (c.method == "GetVdEncomenda") sql += " AND IDTPORCAEVEN = 'E'";
    return as_variant(packet_of(s,
                                {{"CDFILIAL", FieldType::String, 4},
                                 {"NRORCAEVENTO", FieldType::String, 10},
                                 {"IDTPORCAEVEN", FieldType::FixedChar, 1}},
                                sql, {args[0], args[1]}));
}

Variant get_orca_evento(const Call& c, const Args& args) {
    Session& s = c.db.session();
    check_args(c.method, args, {Arg::Text, Arg::Text});
    const TableDef& t = table("ORCAMENTO");
    std::vector<FieldDef> fields;
    std::string cols;
    for (const char* n : {"CDFILIAL", "NRORCAEVENTO", "NRSEQORCAEVE", "NMCLIEORCEVE", "IDSITCLIOREV", "CDCLIENTE",
                          "NMFANTCLIE", "CDTPSERVEVEN", "NMTPSERVEVEN", "CDTIPOEVENTO", "NMTIPOEVENTO", "DTEVENTO",
                          "DSENDENTOREV", "CDDEPTO", "CDPRECOBASE"}) {
        const ColumnDef* c = t.column(n);
        fields.push_back({c->name, c->name == "NRSEQORCAEVE" ? FieldType::FixedChar : c->type, c->size});
        cols += (cols.empty() ? "" : ", ") + c->name;
    }
    return as_variant(packet_of(s, fields, "SELECT " + cols + " FROM ORCAMENTO WHERE CDFILIAL = ? AND NRORCAEVENTO = ?",
                                {args[0], args[1]}));
}

Variant get_dados(const Call& c, const Args& args) {
    Session& s = c.db.session();
    check_args(c.method, args, {Arg::Text, Arg::Text});
    ResultSet rs = s.query(
        "SELECT NRORCAEVENTO, NMFANTCLIE, DTEVENTO, CDTIPOEVENTO, NMTIPOEVENTO, CDTPSERVEVEN, "
        "NMTPSERVEVEN "
        "FROM ORCAMENTO WHERE CDFILIAL = ? AND NRORCAEVENTO = ?",
        {args[0], args[1]});
    auto p = std::make_shared<DataPacket>(std::vector<FieldDef>{{"NRORCAEVENTO", FieldType::String, 10},
                                                                {"NMFANTCLIE", FieldType::String, 50},
                                                                {"DSDATA", FieldType::String, 200},
                                                                {"TPEVENTO", FieldType::String, 200},
                                                                {"TPSERVICO", FieldType::String, 200}});
    for (const auto& r : rs.rows) {
        std::string when;
        Variant d = from_db(r[2], FieldType::DateTime);
        if (!d.is_null()) {
            DateTime t = d.as_date_time();
            when = platform::date_to_str(t);
            if (t.time_of_day() != 0) when += " " + platform::time_to_str(t).substr(0, 5);
        }
        p->rows().push_back({from_db(r[0], FieldType::String), from_db(r[1], FieldType::String), Variant(when),
                             Variant(event_text(r[3], r[4])), Variant(event_text(r[5], r[6]))});
    }
    return as_variant(p);
}

Variant get_orcamento(const Call& c, const Args& args) {
    Session& s = c.db.session();
    check_args(c.method, args, {Arg::Text, Arg::Text});
    Transaction tx(s, Transaction::Kind::Read);
    std::vector<Variant> key{args[0], args[1]};
    const std::string by_budget = "CDFILIAL = ? AND NRORCAEVENTO = ?";
    Args out;
    out.push_back(as_variant(table_packet(s, table("ACERTO"), by_budget, key, "")));
    out.push_back(as_variant(table_packet(s, table("ACERTOQUEBRA"), by_budget, key, "NRACERTOQUEB")));
    out.push_back(as_variant(table_packet(s, table("ACERTOSOBRA"), by_budget, key, "NRACERTOSOBR")));
    out.push_back(as_variant(table_packet(s, table("ACERTOHREXTRA"), by_budget, key, "NRACERTOHREX")));
    out.push_back(as_variant(table_packet(s, table("ACERTOEXTRA"), by_budget, key, "NRACERTOEXTR")));
    auto devol = packet_of(s, {{"CDDEPTO", FieldType::String, 3}, {"NMDEPTO", FieldType::String, 30}},
                           "SELECT CDDEPTO, NMDEPTO FROM DEVOLUCAO WHERE " + by_budget + " ORDER BY CDDEPTO", key);
    out.push_back(devol->rows().empty() ? Variant() : as_variant(devol));
    out.push_back(
        as_variant(packet_of(s, {{"QTCONVORCEVE", FieldType::Float, 0}, {"IDTPCOBRVREXTRA", FieldType::String, 1}},
                             "SELECT QTCONVORCEVE, IDTPCOBRVREXTRA FROM ORCAMENTO WHERE " + by_budget, key)));
    tx.commit();
    return Variant(std::move(out));
}

Variant set_confirmar(const Call& c, const Args& args) {
    check_args(c.method, args,
               {Arg::PacketOrNull, Arg::PacketOrNull, Arg::PacketOrNull, Arg::PacketOrNull, Arg::PacketOrNull});
    c.db.run_write([&](Session& w) {
        Transaction tx(w);
        DeltaWriter(w).apply(delta_arg(args[0]),
                             {delta_arg(args[1]), delta_arg(args[2]), delta_arg(args[3]), delta_arg(args[4])});
        tx.commit();
    });
    return Variant();
}

Variant set_deletar(const Call& c, const Args& args) {
    check_args(
        c.method, args,
        {Arg::Text, Arg::PacketOrNull, Arg::PacketOrNull, Arg::PacketOrNull, Arg::PacketOrNull, Arg::PacketOrNull});
    const std::string& code = args[0].text();
    if (code.size() != 1 || code[0] < '1' || code[0] > '8')
        throw Refusal("SetDeletar: código de exclusão inválido: '" + code + "' (de 1 a 8).");
    int n = code[0] - '0';
    bool with_header = n % 2 == 1;
    std::size_t tab = static_cast<std::size_t>((n + 1) / 2);  // 1 Quebra .. 4 Extras
    for (std::size_t pos = 1; pos <= 5; ++pos) {
        bool expected = pos == tab + 1 || (pos == 1 && with_header);
        if (expected && args[pos].is_null())
            throw Refusal("SetDeletar: o código " + code + " precisa do delta da posição " + std::to_string(pos + 1) +
                          ".");
        if (!expected && !args[pos].is_null())
            throw Refusal("SetDeletar: o código " + code + " não envia o delta da posição " + std::to_string(pos + 1) +
                          ".");
        if (expected && args[pos].packet()->changes().empty())
            throw Refusal("SetDeletar: o código " + code + " exclui " + (pos == 1 ? "o acerto" : "uma linha") +
                          ", e o delta da posição " + std::to_string(pos + 1) + " não traz exclusão.");
    }
    c.db.run_write([&](Session& w) {
        Transaction tx(w);
        DeltaWriter writer(w, true);
        writer.apply(delta_arg(args[1]),
                     {delta_arg(args[2]), delta_arg(args[3]), delta_arg(args[4]), delta_arg(args[5])});
        // An even code deletes one line among others: the last one goes with the header.
        if (auto key = writer.settlement(); key && !with_header && !writer.has_lines(*key))
            throw Refusal("SetDeletar: o código " + code +
                          " exclui uma linha entre outras, mas esta é a "
                          "última do acerto do " +
                          budget_name(key->branch, key->number) + ", que se exclui com o cabeçalho (código " +
                          std::to_string(n - 1) + "). Recarregue o orçamento e repita a operação.");
        tx.commit();
    });
    return Variant();
}

Variant set_importa_devolucao(const Call& c, const Args& args) {
    check_args(c.method, args, {Arg::Text, Arg::Text, Arg::Text});
    const std::string branch = args[0].text(), number = args[1].text(), operador = args[2].text();
    if (platform::utf8_length(operador) > 12) throw Refusal("Código de operador longo demais: " + operador + ".");
    Variant imported;
    c.db.run_write([&](Session& w) {
        Transaction tx(w);
        auto budget = find_budget(w, branch, number);
        if (!budget) throw Refusal("O " + budget_name(branch, number) + " não está cadastrado.");
        std::vector<Variant> key{Variant(branch), Variant(number)};
        if (!w.query("SELECT 1 FROM ACERTO WHERE CDFILIAL = ? AND NRORCAEVENTO = ?", key).rows.empty())
            throw Refusal("A devolução do " + budget_name(branch, number) +
                          " não pode ser importada: o acerto já existe.");
        ResultSet items = w.query(
            "SELECT D.CDDEPTO, D.CDPRODUTO, D.QTRESERVADA, D.QTACRESCIMO, D.QTRETORNO, "
            "D.QTQUEBRA, "
            "P.CDARVPROD, P.NMPRODUTO, P.SGUNIDADE FROM DEVOLUCAOITEM D, PRODUTO P "
            "WHERE D.CDPRODUTO = P.CDPRODUTO AND D.CDFILIAL = ? AND D.NRORCAEVENTO = ? "
            "ORDER BY D.CDDEPTO, P.CDARVPROD, D.CDPRODUTO",
            key);
        if (w.query("SELECT 1 FROM DEVOLUCAO WHERE CDFILIAL = ? AND NRORCAEVENTO = ?", key).rows.empty())
            throw Refusal("Não há devolução cadastrada para o " + budget_name(branch, number) + ".");
        ResultSet param = w.query("SELECT CDPRBAREPMAT FROM PARAMETRO WHERE CDFILIAL = ?", {Variant(branch)});
        if (param.rows.empty() || param.rows[0][0].is_null() || platform::trim(param.rows[0][0].as_string()).empty())
            throw Refusal(std::string(refusal::kPriceBaseReplacement));
        std::string base = param.rows[0][0].as_string();
        ResultSet desc = w.query("SELECT DSPRECOBASE FROM PRECOBASE WHERE CDPRECOBASE = ?", {Variant(base)});
        if (desc.rows.empty()) throw Refusal(std::string(refusal::kPriceBaseReplacement));
        Variant base_name = desc.rows[0][0];
        DateTime now = c.clock.now();
        std::string today = now.date().iso();

        w.execute(
            "INSERT INTO ACERTO (CDFILIAL, NRORCAEVENTO, NRSEQORCAEVE, CDDEPTO, DTACERTOOREV, "
            "CDOPERADOR, "
            "CDPRBAQUEBRA, CDPRBASOBRA, NMPRECOQUEBR, NMPRECOSOBRA, IDSITUACERTO, "
            "QTCONVEXTRAACER, "
            "VRCONVEXTRAACER, IDTPVREXTRA) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'P', 0, 0, ?)",
            {Variant(branch), Variant(number), Variant(budget->sequence),
             budget->department.empty() ? Variant() : Variant(budget->department), Variant(now), Variant(operador),
             Variant(base), Variant(base), base_name, base_name, Variant(budget->charging == "S" ? "S" : "P")});
        int nq = 0, ns = 0;
        for (const auto& r : items.rows) {
            ResultSet price = w.query(
                "SELECT VRITEPREBASE FROM ITEMPREBASE WHERE CDPRECOBASE = ? AND CDPRODUTO = ? "
                "AND DTINIVALIPB <= ? "
                "ORDER BY DTINIVALIPB DESC LIMIT 1",
                {Variant(base), r[1], Variant(today)});
            Variant vr = price.rows.empty() ? Variant(0.0) : Variant(price.rows[0][0].as_number());
            auto qty = [](const Variant& v) { return v.is_null() ? 0.0 : v.as_number(); };
            char nr[16];
            if (nq >= 9999 || ns >= 9999)
                throw Refusal("A devolução do " + budget_name(branch, number) +
                              " tem mais linhas do que um acerto comporta (9999 por aba).");
            if (qty(r[5]) > 0) {
                std::snprintf(nr, sizeof nr, "%04d", ++nq);
                w.execute(
                    "INSERT INTO ACERTOQUEBRA (CDFILIAL, NRORCAEVENTO, NRSEQORCAEVE, CDDEPTO, "
                    "CDARVPROD, NMPRODUTO, "
                    "SGUNIDADE, QTACERTOQUEB, VRACERTOQUEB, VRACREACEQUE, VRDESCACEQUE, "
                    "NRACERTOQUEB, CDPRODUTO) "
                    "VALUES (?, ?, '00', ?, ?, ?, ?, ?, ?, 0, 0, ?, ?)",
                    {Variant(branch), Variant(number), r[0], r[6], r[7], r[8], Variant(qty(r[5])), vr, Variant(nr),
                     r[1]});
            }
            if (qty(r[2]) != 0 || qty(r[3]) != 0 || qty(r[4]) != 0) {
                std::snprintf(nr, sizeof nr, "%04d", ++ns);
                w.execute(
                    "INSERT INTO ACERTOSOBRA (CDARVPROD, NMPRODUTO, SGUNIDADE, QTRESACERSOB, "
                    "QTEXTACERSOB, "
                    "QTORCACERSOB, VRACERTOSOBR, CDFILIAL, NRORCAEVENTO, NRSEQORCAEVE, "
                    "CDDEPTO, NRACERTOSOBR, CDPRODUTO) "
                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, '00', ?, ?, ?)",
                    {r[6], r[7], r[8], Variant(qty(r[2])), Variant(qty(r[3])), Variant(qty(r[4])), vr, Variant(branch),
                     Variant(number), r[0], Variant(nr), r[1]});
            }
        }
        const std::string by_budget = "CDFILIAL = ? AND NRORCAEVENTO = ?";
        Args out{as_variant(table_packet(w, table("ACERTOQUEBRA"), by_budget, key, "NRACERTOQUEB")),
                 as_variant(table_packet(w, table("ACERTOSOBRA"), by_budget, key, "NRACERTOSOBR")),
                 as_variant(table_packet(w, table("ACERTO"), by_budget, key, ""))};
        tx.commit();
        imported = Variant(std::move(out));
    });
    return imported;
}

Variant get_acerto_reti(const Call& c, const Args& args) {
    Session& s = c.db.session();
    check_args(c.method, args, {Arg::Text, Arg::TextOrNull, Arg::TextOrNull});
    return as_variant(packet_of(s, {{"NRLANCESTQ", FieldType::String, 10}},
                                "SELECT NRLANCESTQ FROM ACERTORETI WHERE CDFILIAL = ? AND NRORCAEVENTO = ? "
                                "AND NRSEQORCAEVE = ? ORDER BY NRLANCESTQ",
                                {args[0], Variant(text_arg(args[1])), Variant(text_arg(args[2]))}));
}

using Handler = Variant (*)(const Call&, const Args&);

// Where a call names the settlement (or branch) it is about.
enum class Names {
    Args,     // text arguments: the branch at `branch`, the number at `number` (-1: none)
    Packets,  // the CDFILIAL and NRORCAEVENTO of every row and change of its packet arguments
    Pairs,    // name and value pairs: the value of a name ending in CDFILIAL (report queries)
    None,     // no branch at all
};

struct Method {
    const char* name;
    Handler handler;
    bool writes;  // a write call: audited
    Names names;
    int branch = -1;     // Names::Args: the branch's argument
    int number = -1;     // Names::Args: the number's argument
    int operator_ = -1;  // an operator code the call carries, which must be the caller's
};

// The methods of the remote data module, by name.
const std::vector<Method>& method_table() {
    static const std::vector<Method> table = {
        {"GetPesqOrca", get_pesq_orca, false, Names::Args, 0},
        {"GetVdOrcaEven", get_vd_orca_even, false, Names::Args, 0, 1},
        {"GetVdEncomenda", get_vd_orca_even, false, Names::Args, 0, 1},
        {"GetOrcaEvento", get_orca_evento, false, Names::Args, 0, 1},
        {"GetDados", get_dados, false, Names::Args, 0, 1},
        {"GetOrcamento", get_orcamento, false, Names::Args, 0, 1},
        {"SetConfirmar", set_confirmar, true, Names::Packets},
        {"SetDeletar", set_deletar, true, Names::Packets},
        {"SetImportaDevolucao", set_importa_devolucao, true, Names::Args, 0, 1, 2},
        {"GetAcertoReti", get_acerto_reti, false, Names::Args, 0, 1},
        {"GetRelatorio", get_relatorio, false, Names::Pairs},
        {"Gera_Financeiro", gera_financeiro, true, Names::Packets, -1, -1, 2},
        {"Cancelar_Acerto", cancelar_acerto, true, Names::Args, 0, 1, 3},
        {"RetiraProdExtra", retira_prod_extra, true, Names::Args, 1, -1, 2},
        {"DeletaReti", deleta_reti, true, Names::Args, 0, 1, 3},
        // Reference tables only (branches, products, prices): no settlement, no branch.
        {"OpenQuery", open_query, false, Names::None},
    };
    return table;
}

std::string key_text(const Variant& v) {
    return v.is_null() ? std::string() : v.as_string();
}

// The branches a call is about (each must be the caller's) and the settlement the trail names.
struct Subject {
    std::set<std::string> branches;
    std::string branch, number;
    void add(const std::string& b, const std::string& n) {
        if (b.empty()) return;
        branches.insert(b);
        if (branch.empty()) branch = b;
        if (number.empty()) number = n;
    }
};

Subject subject_of(const Method& m, const Args& args) {
    Subject out;
    auto text_at = [&](int i) {
        return i >= 0 && static_cast<std::size_t>(i) < args.size() && args[i].is_text() ? args[i].text()
                                                                                        : std::string();
    };
    switch (m.names) {
        case Names::Args:
            out.add(text_at(m.branch), text_at(m.number));
            break;
        case Names::Packets:
            for (const auto& a : args) {
                if (!a.is_packet()) continue;
                const auto& p = *a.packet();
                int b = p.index_of("CDFILIAL"), n = p.index_of("NRORCAEVENTO");
                if (b < 0) continue;
                auto take = [&](const platform::Row& r) {
                    if (static_cast<std::size_t>(b) < r.size())
                        out.add(key_text(r[b]), n >= 0 && static_cast<std::size_t>(n) < r.size() ? key_text(r[n]) : "");
                };
                for (const auto& r : p.rows()) take(r);
                for (const auto& ch : p.changes()) {
                    take(ch.values);
                    take(ch.original);
                }
            }
            break;
        case Names::Pairs:
            for (std::size_t i = 1; i + 1 < args.size(); i += 2)
                if (args[i].is_text() && args[i].text().ends_with("CDFILIAL")) out.add(key_text(args[i + 1]), "");
            break;
        case Names::None:
            break;
    }
    // The extras packet of a withdrawal names its settlement.
    if (m.names == Names::Args && out.number.empty())
        for (const auto& a : args)
            if (a.is_packet() && !a.packet()->rows().empty())
                if (int n = a.packet()->index_of("NRORCAEVENTO"); n >= 0) {
                    out.number = key_text(a.packet()->rows().front()[n]);
                    break;
                }
    return out;
}

// Refuses a call the signed-in operator may not make: a branch not theirs, or another
// operator's code in an argument or in a header the call writes.
void authorize(const Method& m, const Args& args, const Caller& caller, const Subject& subject) {
    for (const auto& b : subject.branches)
        if (!caller.who.may_use(b))
            throw Refusal("O operador " + caller.who.code + " não tem acesso à filial " + b + ".");
    auto other = [&](const std::string& code) {
        return Refusal("O operador informado (" + code + ") não é o operador conectado (" + caller.who.code +
                       "). Entre novamente no sistema.");
    };
    if (m.operator_ >= 0 && static_cast<std::size_t>(m.operator_) < args.size()) {
        const Variant& op = args[m.operator_];
        if (!op.is_null() && !(op.is_text() && (op.text().empty() || op.text() == caller.who.code)))
            throw other(op.is_text() ? op.text() : op.as_string());
    }
    for (const auto& a : args) {
        if (!a.is_packet() || !a.packet()->is_delta()) continue;
        int o = a.packet()->index_of("CDOPERADOR");
        if (o < 0) continue;
        for (const auto& ch : a.packet()->changes()) {
            if (ch.kind == ChangeKind::Delete || static_cast<std::size_t>(o) >= ch.values.size()) continue;
            const Variant& v = ch.values[o];
            if (!v.is_null() && key_text(v) != caller.who.code) throw other(key_text(v));
        }
    }
}

}  // namespace

AcertoModule::AcertoModule(Database& db, Clock clock, ReadOptions reads)
    : db_(db), clock_(clock), reads_(std::move(reads)) {}

const std::vector<std::string>& AcertoModule::methods() {
    static const std::vector<std::string> all = [] {
        std::vector<std::string> names;
        for (const auto& m : method_table()) names.push_back(m.name);
        return names;
    }();
    return all;
}

Variant AcertoModule::call(const std::string& method, const Args& args, const Caller* caller) {
    for (const auto& m : method_table()) {
        if (method != m.name) continue;
        Subject subject = subject_of(m, args);
        if (caller) authorize(m, args, *caller, subject);
        if (!m.writes) return m.handler(Call{db_, clock_, method, reads_, caller}, args);
        AuditEntry entry{method, caller, subject.branch, subject.number, {}};
        AuditingDatabase audited(db_, clock_, entry);
        return m.handler(Call{audited, clock_, method, reads_, caller}, args);
    }
    throw Refusal("Método desconhecido: " + method + ".");
}

}  // namespace acerto::server
