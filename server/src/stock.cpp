// The stock withdrawal of a settlement's extra products and its cancellation. Each is one write
// transaction over the extras lines as they are stored: the packet the screen sends only names
// the settlement. Both lock the settlement's header first and the stock positions after it, in
// one fixed order, so that concurrent withdrawals wait for each other instead of deadlocking.
#include "stock.h"

#include <cmath>
#include <map>
#include <optional>
#include <vector>

#include "acerto/platform/format.h"
#include "acerto/platform/refusal_keys.h"
#include "acerto/platform/text.h"

namespace acerto::server {

using platform::DataPacket;
using platform::DateTime;
using platform::FieldDef;
using platform::FieldType;

const std::string kWithdrawalExists(refusal::kWithdrawalExistsText);
const std::string kNoWithdrawal(refusal::kNoWithdrawalText);

namespace {

bool postgres(const Session& s) {
    return s.dialect() == Dialect::Postgres;
}

std::string text_of(const Variant& v) {
    return v.is_null() ? std::string() : v.as_string();
}

bool blank(const Variant& v) {
    return platform::trim(text_of(v)).empty();
}

void check_operator(const std::string& method, const std::string& op) {
    if (platform::trim(op).empty()) throw Refusal(method + ": o operador deve ser informado.");
    if (platform::utf8_length(op) > 12) throw Refusal("Código de operador longo demais: " + op + ".");
}

// Holds the settlement's header until the transaction ends (SQLite's one writer is alone
// already): a withdrawal or cancellation (exclusive) waits for another one and for saves of
// the extras lines; the shared hold is for a caller that only reads (a save already holds the
// header for update since its settlement check). The header's sequence, or nullopt when the
// settlement is not stored.
std::optional<std::string> lock_settlement(Session& s, const std::string& branch, const std::string& number,
                                           bool exclusive = true) {
    std::string sql = "SELECT NRSEQORCAEVE FROM ACERTO WHERE CDFILIAL = ? AND NRORCAEVENTO = ?";
    if (postgres(s)) sql += exclusive ? " FOR UPDATE" : " FOR SHARE";
    ResultSet rs = s.query(sql, {Variant(branch), Variant(number)});
    if (rs.rows.empty()) return std::nullopt;
    return text_of(rs.rows[0][0]);
}

bool withdrawn(Session& s, const std::string& branch, const std::string& number) {
    return !s.query("SELECT 1 FROM ACERTORETI WHERE CDFILIAL = ? AND NRORCAEVENTO = ?",
                    {Variant(branch), Variant(number)})
                .rows.empty();
}

PacketPtr extras_packet(Session& s, const std::string& branch, const std::string& number) {
    return table_packet(s, table("ACERTOEXTRA"), "CDFILIAL = ? AND NRORCAEVENTO = ?",
                        {Variant(branch), Variant(number)}, "NRACERTOEXTR");
}

// The settlement the screen's extras packet is about: every row of one branch (the one the
// call names) and one number.
std::string settlement_number(const std::string& method, const DataPacket& p, const std::string& branch) {
    if (p.index_of("CDFILIAL") < 0 || p.index_of("NRORCAEVENTO") < 0)
        throw Refusal(method +
                      ": o pacote dos extras não traz CDFILIAL e NRORCAEVENTO; não identifica o "
                      "acerto.");
    if (p.rows().empty()) throw Refusal(method + ": o pacote dos extras não traz linhas; não identifica o acerto.");
    std::string number;
    for (const auto& row : p.rows()) {
        std::string b = text_of(p.value(row, "CDFILIAL")), n = text_of(p.value(row, "NRORCAEVENTO"));
        if (b != branch)
            throw Refusal(method + ": o pacote dos extras traz uma linha da filial '" + b +
                          "', e a filial informada é '" + branch + "'.");
        if (platform::trim(n).empty())
            throw Refusal(method + ": o pacote dos extras traz uma linha sem o número do orçamento.");
        if (!number.empty() && n != number)
            throw Refusal(method + ": o pacote dos extras traz linhas de mais de um orçamento (" + number + " e " + n +
                          ").");
        number = n;
    }
    return number;
}

// A product of the extras lines, with its lines' quantities added up.
struct Product {
    std::string code, tree, name;  // the product's, or the first line's when it is unknown
    double quantity = 0;
    bool known = false, active = true;
    std::string storeroom;  // its dispatch storeroom in the processing branch; "" when none
    double position = 0;    // its position there (no position stored is none in stock)
};

// The next posting number of a branch: ten digits, one above the highest. PostgreSQL: under a
// lock of the branch's numbering held to the end of the transaction (taken after the
// positions, so it is always the last lock a withdrawal waits for).
std::string next_posting_number(Session& s, const std::string& branch) {
    if (postgres(s)) s.query("SELECT pg_advisory_xact_lock(8212, hashtext(CAST(? AS TEXT)))", {Variant(branch)});
    ResultSet rs = s.query(
        "SELECT NRLANCESTQ FROM LANCESTQ WHERE CDFILIAL = ? AND LENGTH(NRLANCESTQ) = 10 AND "
        "NRLANCESTQ BETWEEN '0000000000' AND '9999999999' ORDER BY NRLANCESTQ DESC LIMIT 1",
        {Variant(branch)});
    long long last = 0;
    if (!rs.rows.empty()) {
        const std::string top = text_of(rs.rows[0][0]);
        for (char ch : top) {
            if (ch < '0' || ch > '9')
                throw Refusal("A numeração dos lançamentos de estoque da filial " + branch + " está corrompida (" +
                              top + "); nada foi gravado.");
            last = last * 10 + (ch - '0');
        }
    }
    if (last >= 9999999999LL)
        throw Refusal("A numeração dos lançamentos de estoque da filial " + branch + " se esgotou; nada foi gravado.");
    char nr[16];
    std::snprintf(nr, sizeof nr, "%010lld", last + 1);
    return nr;
}

// A posting's quantities per storeroom and product (two parameters: branch and number).
const char* const kPostingSums =
    "SELECT CDALMOXARIFE, CDPRODUTO, SUM(QTLANCESTQ) AS QT FROM ITEMLANCESTQ WHERE CDFILIAL = ? "
    "AND NRLANCESTQ = ? AND CDALMOXARIFE IS NOT NULL AND CDPRODUTO IS NOT NULL AND QTLANCESTQ IS "
    "NOT NULL GROUP BY CDALMOXARIFE, CDPRODUTO";
const std::string kPostingTotals = std::string("(") + kPostingSums + ") AS V";

// Puts back what a posting took: positions gone meanwhile are stored again.
void restore_positions(Session& s, const std::string& branch, const std::string& nr) {
    Variant b(branch), n(nr);
    if (postgres(s))
        s.query(
            "SELECT 1 FROM ESTOQUE E WHERE E.CDFILIAL = ? AND EXISTS (SELECT 1 FROM ITEMLANCESTQ "
            "I WHERE I.CDFILIAL = E.CDFILIAL AND I.NRLANCESTQ = ? AND I.CDALMOXARIFE = "
            "E.CDALMOXARIFE AND I.CDPRODUTO = E.CDPRODUTO) ORDER BY E.CDALMOXARIFE, E.CDPRODUTO "
            "FOR UPDATE",
            {b, n});
    const std::size_t sums = s.query(kPostingSums, {b, n}).rows.size();
    long long updated =
        s.execute("UPDATE ESTOQUE SET QTPOSESTPROD = COALESCE(ESTOQUE.QTPOSESTPROD, 0) + V.QT FROM " + kPostingTotals +
                      " WHERE ESTOQUE.CDFILIAL = ? AND ESTOQUE.CDALMOXARIFE = V.CDALMOXARIFE AND "
                      "ESTOQUE.CDPRODUTO = V.CDPRODUTO",
                  {b, n, b});
    if (updated >= static_cast<long long>(sums)) return;
    try {
        s.execute(
            "INSERT INTO ESTOQUE (CDFILIAL, CDALMOXARIFE, CDPRODUTO, QTPOSESTPROD) SELECT "
            "CAST(? AS VARCHAR(4)), V.CDALMOXARIFE, V.CDPRODUTO, V.QT FROM " +
                kPostingTotals +
                " WHERE NOT EXISTS (SELECT 1 FROM ESTOQUE E WHERE E.CDFILIAL = ? AND "
                "E.CDALMOXARIFE = V.CDALMOXARIFE AND E.CDPRODUTO = V.CDPRODUTO)",
            {b, b, n, b});
    } catch (const ConstraintViolation&) {
        throw Refusal("O lançamento de estoque " + nr + " da filial " + branch +
                      " cita um almoxarifado ou produto que não existe mais; a retirada não pode "
                      "ser cancelada. Nada foi gravado.");
    }
}

}  // namespace

void refuse_extras_change_while_withdrawn(Session& s, const std::string& branch, const std::string& number) {
    lock_settlement(s, branch, number, false);
    if (withdrawn(s, branch, number)) throw Refusal(kWithdrawalExists);
}

Variant retira_prod_extra(const Call& c, const Args& args) {
    check_args(c.method, args, {Arg::Packet, Arg::Text, Arg::Text, Arg::Text});
    const std::string branch = args[1].text(), op = args[2].text(), proc = args[3].text();
    check_operator(c.method, op);
    const std::string number = settlement_number(c.method, *args[0].packet(), branch);
    const std::string who = budget_name(branch, number);
    const std::vector<Variant> key{Variant(branch), Variant(number)};

    auto inactive = std::make_shared<DataPacket>(std::vector<FieldDef>{{"CDPRODUTO", FieldType::String, 10},
                                                                       {"CDARVPROD", FieldType::String, 20},
                                                                       {"NMPRODUTO", FieldType::String, 50}});
    auto unstored = std::make_shared<DataPacket>(
        std::vector<FieldDef>{{"CDARVPROD", FieldType::String, 20}, {"NMPRODUTO", FieldType::String, 50}});
    auto short_of = std::make_shared<DataPacket>(std::vector<FieldDef>{{"CDPRODUTO", FieldType::String, 10},
                                                                       {"CDARVPROD", FieldType::String, 20},
                                                                       {"NMPRODUTO", FieldType::String, 50},
                                                                       {"QTPOSESTPROD", FieldType::Float, 0}});
    bool has_type = false;
    Variant extras;

    c.db.run_write([&](Session& w) {
        Transaction tx(w);
        // 1. The budget charges extras per product, its settlement is stored and not withdrawn,
        //    and the stock is taken in a branch that exists.
        auto budget = find_budget(w, branch, number);
        if (!budget) throw Refusal("O " + who + " não está cadastrado.");
        if (budget->charging != "P" && budget->charging != "D")
            throw Refusal("O " + who +
                          " não cobra extras por produto; não há produtos extras a retirar do "
                          "estoque.");
        auto sequence = lock_settlement(w, branch, number);
        if (!sequence)
            throw Refusal("O acerto do " + who + " não está gravado; grave-o antes de retirar os produtos extras.");
        if (withdrawn(w, branch, number)) throw Refusal(kWithdrawalExists);
        if (w.query("SELECT 1 FROM FILIAL WHERE CDFILIAL = ?", {Variant(proc)}).rows.empty())
            throw Refusal("A filial de processamento '" + proc + "' não está cadastrada.");

        // 2. The stored lines, each product once with its quantities added up, in the order of
        //    its first line.
        ResultSet lines = w.query(
            "SELECT NRACERTOEXTR, CDPRODUTO, CDARVPROD, NMPRODUTO, QTACERTOEXTR FROM ACERTOEXTRA "
            "WHERE CDFILIAL = ? AND NRORCAEVENTO = ? ORDER BY NRACERTOEXTR",
            key);
        if (lines.rows.empty()) throw Refusal("O acerto do " + who + " não tem produtos extras gravados para retirar.");
        std::vector<Product> products;
        std::map<std::string, std::size_t> index;
        for (const auto& r : lines.rows) {
            double q = r[4].is_null() ? 0 : r[4].as_number();
            if (!std::isfinite(q) || q <= 0)
                throw Refusal("A linha " + text_of(r[0]) + " dos extras do " + who + " tem quantidade " +
                              (r[4].is_null() ? "vazia" : platform::float_to_str(q)) +
                              "; só se retira do estoque uma quantidade maior que zero.");
            auto [it, added] = index.emplace(text_of(r[1]), products.size());
            if (added) {
                Product p;
                p.code = text_of(r[1]);
                p.tree = text_of(r[2]);
                p.name = text_of(r[3]);
                products.push_back(std::move(p));
            }
            products[it->second].quantity += q;
        }

        // 3. What is known of each product in the processing branch; the positions locked,
        //    always in the same order.
        ResultSet known = w.query(
            "SELECT P.CDPRODUTO, P.CDARVPROD, P.NMPRODUTO, P.IDATIVO, A.CDALMOXARIFE FROM PRODUTO "
            "P LEFT JOIN PRODUTOALMOX A ON A.CDFILIAL = ? AND A.CDPRODUTO = P.CDPRODUTO WHERE "
            "P.CDPRODUTO IN (SELECT CDPRODUTO FROM ACERTOEXTRA WHERE CDFILIAL = ? AND "
            "NRORCAEVENTO = ?)",
            {Variant(proc), Variant(branch), Variant(number)});
        for (const auto& r : known.rows) {
            auto it = index.find(text_of(r[0]));
            if (it == index.end()) continue;
            Product& p = products[it->second];
            p.known = true;
            p.tree = text_of(r[1]);
            p.name = text_of(r[2]);
            p.active = blank(r[3]) || platform::trim(text_of(r[3])) == "S";
            p.storeroom = text_of(r[4]);
        }
        std::string positions =
            "SELECT E.CDPRODUTO, E.QTPOSESTPROD FROM ESTOQUE E JOIN PRODUTOALMOX A ON A.CDFILIAL "
            "= E.CDFILIAL AND A.CDPRODUTO = E.CDPRODUTO AND A.CDALMOXARIFE = E.CDALMOXARIFE "
            "WHERE E.CDFILIAL = ? AND E.CDPRODUTO IN (SELECT CDPRODUTO FROM ACERTOEXTRA WHERE "
            "CDFILIAL = ? AND NRORCAEVENTO = ?) ORDER BY E.CDALMOXARIFE, E.CDPRODUTO";
        if (postgres(w)) positions += " FOR UPDATE OF E";
        for (const auto& r : w.query(positions, {Variant(proc), Variant(branch), Variant(number)}).rows) {
            auto it = index.find(text_of(r[0]));
            if (it != index.end() && !r[1].is_null()) products[it->second].position = r[1].as_number();
        }

        // 4. Each product lands in at most one list: inactive, without a dispatch storeroom,
        //    short of stock (with its position). Sums of fractional quantities carry a rounding
        //    error that is not a shortage.
        for (const Product& p : products) {
            if (p.known && !p.active) {
                inactive->rows().push_back({Variant(p.code), Variant(p.tree), Variant(p.name)});
            } else if (!p.known || p.storeroom.empty()) {
                unstored->rows().push_back({Variant(p.tree), Variant(p.name)});
            } else if (p.position + 1e-9 + 1e-12 * p.quantity < p.quantity) {
                short_of->rows().push_back({Variant(p.code), Variant(p.tree), Variant(p.name), Variant(p.position)});
            }
        }
        ResultSet type = w.query("SELECT CDTIPORETI FROM PARAMETRO WHERE CDFILIAL = ?", {Variant(branch)});
        has_type = !type.rows.empty() && !blank(type.rows[0][0]);
        // All or nothing: a partial withdrawal could not be completed without cancelling it.
        if (!has_type || !inactive->rows().empty() || !unstored->rows().empty() || !short_of->rows().empty()) return;

        // 5. One posting in the processing branch, one posting line per extras line (numbered
        //    as the line), the positions taken down, the lines linked, the withdrawal recorded.
        const std::string nr = next_posting_number(w, proc);
        w.execute(
            "INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, CDTIPORETI, DTLANCESTQ, CDOPERADOR, "
            "NRORCAEVENTO, NRSEQORCAEVE, CDFILIALORC) VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
            {Variant(proc), Variant(nr), type.rows[0][0], Variant(c.clock.now()), Variant(op), Variant(number),
             Variant(*sequence), Variant(branch)});
        long long items = w.execute(
            "INSERT INTO ITEMLANCESTQ (CDFILIAL, NRLANCESTQ, NRSEQUITEM, CDPRODUTO, CDALMOXARIFE, "
            "QTLANCESTQ) SELECT CAST(? AS VARCHAR(4)), CAST(? AS VARCHAR(10)), X.NRACERTOEXTR, "
            "X.CDPRODUTO, A.CDALMOXARIFE, X.QTACERTOEXTR FROM ACERTOEXTRA X JOIN PRODUTOALMOX A "
            "ON A.CDFILIAL = ? AND A.CDPRODUTO = X.CDPRODUTO WHERE X.CDFILIAL = ? AND "
            "X.NRORCAEVENTO = ?",
            {Variant(proc), Variant(nr), Variant(proc), Variant(branch), Variant(number)});
        // The positions were checked under their locks: what is left below zero is rounding.
        long long moved = w.execute(
            "UPDATE ESTOQUE SET QTPOSESTPROD = CASE WHEN ESTOQUE.QTPOSESTPROD - V.QT < 0 THEN 0 "
            "ELSE ESTOQUE.QTPOSESTPROD - V.QT END FROM " +
                kPostingTotals +
                " WHERE ESTOQUE.CDFILIAL = ? AND ESTOQUE.CDALMOXARIFE = V.CDALMOXARIFE AND "
                "ESTOQUE.CDPRODUTO = V.CDPRODUTO",
            {Variant(proc), Variant(nr), Variant(proc)});
        long long linked = w.execute(
            "UPDATE ACERTOEXTRA SET CDFILIALEST = ?, NRLANCESTQ = ?, NRSEQUITEM = NRACERTOEXTR "
            "WHERE CDFILIAL = ? AND NRORCAEVENTO = ?",
            {Variant(proc), Variant(nr), Variant(branch), Variant(number)});
        if (items != static_cast<long long>(lines.rows.size()) || moved != static_cast<long long>(products.size()) ||
            linked != static_cast<long long>(lines.rows.size()))
            throw StorageError("A retirada do " + who + " não gravou o que conferiu (" + std::to_string(items) +
                               " itens, " + std::to_string(moved) + " posições, " + std::to_string(linked) +
                               " linhas).");
        w.execute(
            "INSERT INTO ACERTORETI (CDFILIAL, NRORCAEVENTO, NRSEQORCAEVE, NRLANCESTQ) VALUES (?, "
            "?, ?, ?)",
            {Variant(branch), Variant(number), Variant(*sequence), Variant(nr)});
        extras = as_variant(extras_packet(w, branch, number));
        tx.commit();
    });
    return Variant(
        Args{as_variant(short_of), as_variant(unstored), Variant(has_type ? "S" : "N"), as_variant(inactive), extras});
}

Variant deleta_reti(const Call& c, const Args& args) {
    // The screen names the settlement as it asks for its records; an operator may follow, for
    // the cancelled posting's record.
    if (args.size() == 4)
        check_args(c.method, args, {Arg::Text, Arg::TextOrNull, Arg::TextOrNull, Arg::Text});
    else
        check_args(c.method, args, {Arg::Text, Arg::TextOrNull, Arg::TextOrNull});
    const std::string branch = args[0].text(), number = text_arg(args[1]), sequence = text_arg(args[2]);
    const std::string op = args.size() == 4 ? args[3].text() : std::string();
    if (!op.empty()) check_operator(c.method, op);
    Variant extras;
    c.db.run_write([&](Session& w) {
        Transaction tx(w);
        lock_settlement(w, branch, number);
        const std::vector<Variant> record{Variant(branch), Variant(number), Variant(sequence)};
        ResultSet records = w.query(
            "SELECT NRLANCESTQ FROM ACERTORETI WHERE CDFILIAL = ? AND NRORCAEVENTO = ? AND "
            "NRSEQORCAEVE = ? ORDER BY NRLANCESTQ",
            record);
        if (records.rows.empty()) throw Refusal(kNoWithdrawal);
        const DateTime now = c.clock.now();
        for (const auto& r : records.rows) {
            const std::string nr = text_of(r[0]);
            // Where the stock was taken: the branch the linked lines carry; for a record whose
            // lines were never linked, the live posting of that number made for this budget.
            ResultSet where = w.query(
                "SELECT CDFILIALEST FROM ACERTOEXTRA WHERE CDFILIAL = ? AND NRORCAEVENTO = ? AND "
                "NRLANCESTQ = ? AND CDFILIALEST IS NOT NULL LIMIT 1",
                {Variant(branch), Variant(number), Variant(nr)});
            if (where.rows.empty())
                where = w.query(
                    "SELECT CDFILIAL FROM LANCESTQ WHERE NRLANCESTQ = ? AND NRORCAEVENTO = ? AND "
                    "COALESCE(CDFILIALORC, CDFILIAL) = ? AND DTCANCEL IS NULL ORDER BY CDFILIAL",
                    {Variant(nr), Variant(number), Variant(branch)});
            for (const auto& b : where.rows) {
                const std::string stock_branch = text_of(b[0]);
                // Only a live posting gives back what it took, and only once.
                long long live = w.execute(
                    "UPDATE LANCESTQ SET DTCANCEL = ?, CDOPERCANC = ? WHERE CDFILIAL = ? AND "
                    "NRLANCESTQ = ? AND DTCANCEL IS NULL",
                    {Variant(now), op.empty() ? Variant() : Variant(op), Variant(stock_branch), Variant(nr)});
                if (live > 0) restore_positions(w, stock_branch, nr);
            }
            w.execute(
                "UPDATE ACERTOEXTRA SET CDFILIALEST = NULL, NRLANCESTQ = NULL, NRSEQUITEM = NULL "
                "WHERE CDFILIAL = ? AND NRORCAEVENTO = ? AND NRLANCESTQ = ?",
                {Variant(branch), Variant(number), Variant(nr)});
        }
        w.execute("DELETE FROM ACERTORETI WHERE CDFILIAL = ? AND NRORCAEVENTO = ? AND NRSEQORCAEVE = ?", record);
        extras = as_variant(extras_packet(w, branch, number));
        tx.commit();
    });
    return extras;
}

}  // namespace acerto::server
