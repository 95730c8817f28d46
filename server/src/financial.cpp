// Gera_Financeiro and Cancelar_Acerto: the settlement's receivable and payables. Both re-read
// the stored settlement, budget and parameters inside one write transaction; what the screen
// sends only names the settlement.
#include "financial.h"

#include <cstdio>

#include "acerto/platform/format.h"
#include "acerto/platform/refusal_keys.h"
#include "acerto/platform/text.h"

namespace acerto::server {

namespace {

// The operator code as the settlement header stores it.
constexpr std::size_t kOperatorSize = 12;
// Title numbers: ten digits, per branch and per kind of title.
constexpr long long kLastTitle = 9999999999LL;

double number_of(const Variant& v) {
    return v.is_null() ? 0.0 : v.as_number();
}

std::string code_of(const Variant& v) {
    return v.is_null() ? std::string() : platform::trim(v.as_string());
}

// Cents, as the screen's RoundDec rounds (half away from zero on the decimal form); never -0.
double cents(double v) {
    double r = platform::round_decimal(v, 2);
    return r == 0 ? 0.0 : r;
}

Refusal refused(std::string_view key) {
    return Refusal(std::string(key));
}

Refusal refused(std::string_view key, const std::string& argument) {
    return Refusal(refusal::with_argument(key, argument));
}

// The stored settlement header, locked against every other writer until the transaction
// ends (SQLite: the one writer already holds the database).
struct StoredSettlement {
    std::string sequence, situation;
};

std::optional<StoredSettlement> lock_settlement(Session& s, const std::string& branch, const std::string& number) {
    std::string sql = "SELECT NRSEQORCAEVE, IDSITUACERTO FROM ACERTO WHERE CDFILIAL = ? AND NRORCAEVENTO = ?";
    if (s.dialect() == Dialect::Postgres) sql += " FOR UPDATE";
    ResultSet rs = s.query(sql, {Variant(branch), Variant(number)});
    if (rs.rows.empty()) return std::nullopt;
    return StoredSettlement{code_of(rs.rows[0][0]), code_of(rs.rows[0][1])};
}

Refusal no_settlement(const std::string& branch, const std::string& number) {
    return Refusal("O acerto do " + budget_name(branch, number) + " não está gravado. Recarregue o orçamento.");
}

// The next free number of a kind of title in a branch. Numbers are handed out one writer at a
// time per branch (PostgreSQL: a lock held to the end of the transaction), so two settlements
// of a branch updated at once never draw the same number.
long long next_title(Session& s, const std::string& table, const std::string& branch) {
    if (s.dialect() == Dialect::Postgres)
        s.query("SELECT pg_advisory_xact_lock(8213, hashtext(?))", {Variant(table + "/" + branch)});
    const char* digits = s.dialect() == Dialect::Postgres ? "NRTITULO ~ '^[0-9]+$'" : "NRTITULO NOT GLOB '*[^0-9]*'";
    ResultSet rs =
        s.query("SELECT MAX(NRTITULO) FROM " + table + " WHERE CDFILIAL = ? AND LENGTH(NRTITULO) = 10 AND " + digits,
                {Variant(branch)});
    long long last = rs.rows.empty() || rs.rows[0][0].is_null() ? 0 : std::stoll(rs.rows[0][0].as_string());
    if (last >= kLastTitle)
        throw Refusal("A numeração de " + table + " da filial " + branch + " chegou a " + std::to_string(kLastTitle) +
                      "; não há número para um novo título.");
    return last + 1;
}

std::string title_number(long long n) {
    char b[16];
    std::snprintf(b, sizeof b, "%010lld", n);
    return b;
}

// What a payable needs from the branch's parameters.
struct PayableParameters {
    std::string operation, type, series;
};

// A settlement's live titles in one table: the key of each, whether it is paid, its slip.
struct LiveTitle {
    std::string number, slip;
    bool paid = false;
};

std::vector<LiveTitle> live_titles(Session& s, const std::string& table, const std::string& branch,
                                   const std::string& number) {
    ResultSet rs = s.query("SELECT NRTITULO, DTBAIXA, NRBOLETO FROM " + table +
                               " WHERE CDFILIAL = ? AND NRORCAEVENTO = ? AND DTCANCEL IS NULL "
                               "ORDER BY NRTITULO",
                           {Variant(branch), Variant(number)});
    std::vector<LiveTitle> out;
    for (const auto& r : rs.rows) out.push_back({code_of(r[0]), code_of(r[2]), !r[1].is_null()});
    return out;
}

// Refuses cancelling a table's live titles when one is paid, or when its bank slip also
// covers live titles that are not this settlement's.
void check_cancellable(Session& s, const std::string& table, const std::vector<LiveTitle>& titles,
                       const std::string& branch, const std::string& number, std::string_view paid_key,
                       std::string_view shared_key) {
    for (const auto& t : titles)
        if (t.paid) throw refused(paid_key);
    for (const auto& t : titles) {
        if (t.slip.empty()) continue;
        ResultSet rs = s.query("SELECT 1 FROM " + table +
                                   " WHERE CDFILIAL = ? AND NRBOLETO = ? AND DTCANCEL IS NULL AND "
                                   "(NRORCAEVENTO IS NULL OR NRORCAEVENTO <> ?) LIMIT 1",
                               {Variant(branch), Variant(t.slip), Variant(number)});
        if (!rs.rows.empty()) throw refused(shared_key);
    }
}

PacketPtr header_packet(Session& s, const std::string& branch, const std::string& number) {
    return table_packet(s, table("ACERTO"), "CDFILIAL = ? AND NRORCAEVENTO = ?", {Variant(branch), Variant(number)},
                        "");
}

// The settlement a Gera_Financeiro packet names: CDFILIAL and NRORCAEVENTO of its first row.
std::pair<std::string, std::string> settlement_named(const Call& c, const Variant& arg) {
    const auto& p = *arg.packet();
    int branch = p.index_of("CDFILIAL"), number = p.index_of("NRORCAEVENTO");
    if (branch < 0 || number < 0 || p.rows().empty())
        throw Refusal(c.method + ": o pacote do orçamento deve trazer uma linha com CDFILIAL e NRORCAEVENTO.");
    const auto& row = p.rows().front();
    const Variant& b_value = row[static_cast<std::size_t>(branch)];
    const Variant& n_value = row[static_cast<std::size_t>(number)];
    std::string b = b_value.is_null() ? "" : b_value.as_string();
    std::string n = n_value.is_null() ? "" : n_value.as_string();
    if (platform::trim(b).empty() || platform::trim(n).empty())
        throw Refusal(c.method + ": o pacote do orçamento chegou sem a filial e o número.");
    return {b, n};
}

std::string operator_arg(const Call& c, const Variant& v) {
    std::string op = text_arg(v);
    if (platform::utf8_length(op) > kOperatorSize)
        throw Refusal(c.method + ": código de operador longo demais: " + op + ".");
    return op;
}

}  // namespace

SettlementAmounts value_settlement(Session& s, const std::string& branch, const std::string& number,
                                   std::optional<double> per_person) {
    // One query for the four grids. Lines of one unit value are summed together: each is
    // still valued at its own unit value, rounded where its grid rounds it.
    const std::string where = " WHERE CDFILIAL = ? AND NRORCAEVENTO = ?";
    const Variant b(branch), n(number);
    ResultSet rs = s.query(
        "SELECT 1, VRACERTOQUEB, SUM(QTACERTOQUEB), SUM(COALESCE(VRACREACEQUE, 0) - "
        "COALESCE(VRDESCACEQUE, 0)) FROM ACERTOQUEBRA" +
            where +
            " GROUP BY VRACERTOQUEB "
            "UNION ALL SELECT 2, NULL, SUM((COALESCE(QTRESACERSOB, 0) + COALESCE(QTEXTACERSOB, 0) - "
            "COALESCE(QTORCACERSOB, 0)) * COALESCE(VRACERTOSOBR, 0)), NULL FROM ACERTOSOBRA" +
            where + " UNION ALL SELECT 3, VRACERTOHREX, SUM(QTACERTOHREX), NULL FROM ACERTOHREXTRA" + where +
            " GROUP BY VRACERTOHREX "
            "UNION ALL SELECT 4, VRACERTOEXTR, SUM(QTACERTOEXTR), NULL FROM ACERTOEXTRA" +
            where + " GROUP BY VRACERTOEXTR",
        {b, n, b, n, b, n, b, n});
    SettlementAmounts a;
    for (const auto& r : rs.rows) {
        // Breakage, overtime and extras lines: the unit value rounded before the
        // multiplication (breakage then adds surcharge less discount); leftovers unrounded.
        const double units = platform::round_decimal(number_of(r[1]), 2) * number_of(r[2]);
        switch (static_cast<int>(number_of(r[0]))) {
            case 1:
                a.breakage += units + number_of(r[3]);
                break;
            case 2:
                a.leftovers += number_of(r[2]);
                break;
            case 3:
                a.overtime += units;
                break;
            default:
                if (!per_person) a.extras += units;
        }
    }
    if (per_person) a.extras = *per_person;
    a.owed = cents(a.breakage + a.leftovers + a.overtime + a.extras);
    return a;
}

Variant gera_financeiro(const Call& c, const Args& args) {
    check_args(c.method, args, {Arg::Packet, Arg::TextOrNull, Arg::TextOrNull});
    // Plain names, not structured bindings: the lambdas below capture them.
    const auto named = settlement_named(c, args[0]);
    const std::string& branch = named.first;
    const std::string& number = named.second;
    const std::string operador = operator_arg(c, args[2]);
    Variant answer;
    c.db.run_write([&](Session& w) {
        Transaction tx(w);
        // 1. The settlement as stored with its budget and branch, its header locked; a second
        //    call finds it updated.
        std::string sql =
            "SELECT A.NRSEQORCAEVE, A.IDSITUACERTO, A.IDTPVREXTRA, A.QTCONVEXTRAACER, "
            "A.VRCONVEXTRAACER, O.NRSEQORCAEVE, O.IDTPCOBRVREXTRA, O.CDEMPRESA, O.CDCLIENTE, "
            "F.CDEMPRESA, F.CDSERIE FROM ACERTO A, ORCAMENTO O, FILIAL F WHERE O.CDFILIAL = "
            "A.CDFILIAL AND O.NRORCAEVENTO = A.NRORCAEVENTO AND F.CDFILIAL = A.CDFILIAL AND "
            "A.CDFILIAL = ? AND A.NRORCAEVENTO = ?";
        if (w.dialect() == Dialect::Postgres) sql += " FOR UPDATE OF A";
        ResultSet head = w.query(sql, {Variant(branch), Variant(number)});
        if (head.rows.empty()) {
            if (!find_budget(w, branch, number))
                throw Refusal("O " + budget_name(branch, number) + " não está cadastrado.");
            throw no_settlement(branch, number);
        }
        const Row& h = head.rows[0];
        const std::string situation = code_of(h[1]);
        if (situation == "F" || situation == "T") throw Refusal(std::string(refusal::kFinancialAlreadyUpdatedText));

        // 2. The budget's company: recorded, the branch's, with its state registration. The
        //    registers the titles name come with it, each blank when missing.
        const std::string company = code_of(h[7]), client = code_of(h[8]), series = code_of(h[10]);
        ResultSet regs = w.query(
            "SELECT E.NRINSCESTA, P.CDTIPOOPER, P.CDTIPOOPERPAG, P.CDSERIEENTR, P.CDAJCTRECSOB, "
            "TR.CDTPCTREC, TP.CDTPCTPAG, C.CDCLIENTE, FC.CDFORNECEDOR, FH.CDFORNECEDOR "
            "FROM FILIAL F LEFT JOIN EMPRESA E ON E.CDEMPRESA = ? "
            "LEFT JOIN PARAMETRO P ON P.CDFILIAL = F.CDFILIAL "
            "LEFT JOIN TIPOOPER TR ON TR.CDTIPOOPER = P.CDTIPOOPER "
            "LEFT JOIN TIPOOPER TP ON TP.CDTIPOOPER = P.CDTIPOOPERPAG "
            "LEFT JOIN CLIENTE C ON C.CDCLIENTE = ? "
            "LEFT JOIN FORNECEDOR FC ON FC.CDFORNECEDOR = C.CDFORNECEDOR "
            "LEFT JOIN FORNECEDOR FH ON FH.CDFORNECEDOR = P.CDFORNPADORC "
            "WHERE F.CDFILIAL = ?",
            {Variant(company), Variant(client), Variant(branch)});
        const Row& g = regs.rows.at(0);
        auto reg = [&](std::size_t i) { return code_of(g[i]); };
        if (company.empty()) throw refused(refusal::kCompanyNotRecorded);
        if (company != code_of(h[9])) throw refused(refusal::kCompanyNotOfBranch);
        if (reg(0).empty()) throw refused(refusal::kNoStateRegistration);

        // 3. What the settlement is worth. A budget configured for one way of charging extras
        //    charges that way whatever the header records (its radio buttons are hidden).
        const std::string charging = code_of(h[6]);
        const bool per_person = charging == "S" || (charging != "P" && code_of(h[2]) == "S");
        const SettlementAmounts a = value_settlement(
            w, branch, number, per_person ? std::optional<double>(number_of(h[3]) * number_of(h[4])) : std::nullopt);
        const double overtime = cents(a.overtime);
        std::string operation, receivable_type, adjustment;
        if (a.owed > 0) {
            operation = reg(1);
            if (operation.empty()) throw refused(refusal::kNoOperationType);
            receivable_type = reg(5);
            if (receivable_type.empty()) throw refused(refusal::kNoReceivableType, operation);
            if (series.empty()) throw refused(refusal::kNoSeries, branch);
            if (a.leftovers < 0) {
                adjustment = reg(4);
                if (adjustment.empty()) throw refused(refusal::kNoLeftoverAdjustment);
            }
            if (client.empty() || reg(7).empty())
                throw Refusal("O cliente do " + budget_name(branch, number) +
                              " não está cadastrado; a conta a receber não pode ser gerada.");
        }
        // What a payable needs: the entry operation type, its payable type, the entry series.
        PayableParameters payable{reg(2), reg(6), reg(3)};
        auto check_payable = [&] {
            if (payable.operation.empty()) throw refused(refusal::kNoEntryOperationType);
            if (payable.type.empty()) throw refused(refusal::kNoPayableType, payable.operation);
            if (payable.series.empty()) throw refused(refusal::kNoEntrySeries);
        };
        // 4. The client owed: its own (registered) supplier, then the payable's parameters.
        const std::string client_supplier = reg(8);
        if (a.owed < 0) {
            if (client_supplier.empty()) throw refused(refusal::kClientWithoutSupplier);
            check_payable();
        }
        // 5. Overtime: the default (registered) supplier, then the payable's parameters.
        const std::string overtime_supplier = reg(9);
        if (overtime > 0) {
            if (overtime_supplier.empty()) throw refused(refusal::kNoOvertimeSupplier);
            check_payable();
        }

        // 6. The titles. The receivable carries the leftovers it owes; leftovers owed to the
        //    client come off it as an adjustment, so that it nets to C.
        const Variant now(c.clock.now());
        const Variant op = operador.empty() ? Variant() : Variant(operador);
        const Variant seq(code_of(h[0]).empty() ? code_of(h[5]) : code_of(h[0]));
        if (a.owed > 0) {
            double title = a.leftovers < 0 ? cents(a.breakage + a.overtime + a.extras) : a.owed;
            Variant adj_code, adj_value;
            if (a.leftovers < 0) {
                adj_code = Variant(adjustment);
                adj_value = Variant(cents(a.owed - title));
            }
            w.execute(
                "INSERT INTO CONTARECEBER (CDFILIAL, NRTITULO, CDCLIENTE, NRORCAEVENTO, "
                "NRSEQORCAEVE, CDTIPOOPER, CDTPCTREC, CDSERIE, VRTITULO, CDAJUSTE, VRAJUSTE, "
                "DTEMISSAO, CDOPERADOR) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                {Variant(branch), Variant(title_number(next_title(w, "CONTARECEBER", branch))), Variant(client),
                 Variant(number), seq, Variant(operation), Variant(receivable_type), Variant(series), Variant(title),
                 adj_code, adj_value, now, op});
        }
        auto pay = [&](long long nr, const std::string& supplier, double value) {
            w.execute(
                "INSERT INTO CONTAPAGAR (CDFILIAL, NRTITULO, CDFORNECEDOR, NRORCAEVENTO, "
                "NRSEQORCAEVE, CDTIPOOPER, CDTPCTPAG, CDSERIE, VRTITULO, DTEMISSAO, CDOPERADOR) "
                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                {Variant(branch), Variant(title_number(nr)), Variant(supplier), Variant(number), seq,
                 Variant(payable.operation), Variant(payable.type), Variant(payable.series), Variant(value), now, op});
        };
        if (a.owed < 0 || overtime > 0) {
            long long nr = next_title(w, "CONTAPAGAR", branch);
            if (a.owed < 0) pay(nr++, client_supplier, -a.owed);
            if (overtime > 0) pay(nr, overtime_supplier, overtime);
        }

        // 7. The situation moves on, with or without titles: "E" (stock updated) becomes "T"
        //    (both), anything else "F".
        w.execute("UPDATE ACERTO SET IDSITUACERTO = ? WHERE CDFILIAL = ? AND NRORCAEVENTO = ?",
                  {Variant(situation == "E" ? "T" : "F"), Variant(branch), Variant(number)});
        answer = as_variant(header_packet(w, branch, number));
        tx.commit();
    });
    return answer;
}

Variant cancelar_acerto(const Call& c, const Args& args) {
    if (args.size() == 4)
        check_args(c.method, args, {Arg::Text, Arg::Text, Arg::TextOrNull, Arg::TextOrNull});
    else
        check_args(c.method, args, {Arg::Text, Arg::Text, Arg::TextOrNull});
    const std::string& branch = args[0].text();
    const std::string& number = args[1].text();
    const std::string operador = args.size() == 4 ? operator_arg(c, args[3]) : std::string();
    Variant answer;
    c.db.run_write([&](Session& w) {
        Transaction tx(w);
        // 1. The settlement as stored, locked against an update or a cancel running with it.
        auto stored = lock_settlement(w, branch, number);
        if (!stored) throw no_settlement(branch, number);
        // 2. Every live title may be cancelled: receivables first, paid then slip.
        auto receivables = live_titles(w, "CONTARECEBER", branch, number);
        auto payables = live_titles(w, "CONTAPAGAR", branch, number);
        check_cancellable(w, "CONTARECEBER", receivables, branch, number, refusal::kReceivablePaid,
                          refusal::kReceivableSlipShared);
        check_cancellable(w, "CONTAPAGAR", payables, branch, number, refusal::kPayablePaid,
                          refusal::kPayableSlipShared);
        // 3. Kept, marked cancelled: when and by whom.
        const Variant now(c.clock.now());
        const Variant op = operador.empty() ? Variant() : Variant(operador);
        for (const char* t : {"CONTARECEBER", "CONTAPAGAR"})
            w.execute(std::string("UPDATE ") + t +
                          " SET DTCANCEL = ?, CDOPERCANC = ? WHERE CDFILIAL = ? AND "
                          "NRORCAEVENTO = ? AND DTCANCEL IS NULL",
                      {now, op, Variant(branch), Variant(number)});
        // 4. The situation goes back, also for a settlement that produced no title (else it
        //    would stay locked for good).
        if (stored->situation == "F" || stored->situation == "T")
            w.execute("UPDATE ACERTO SET IDSITUACERTO = ? WHERE CDFILIAL = ? AND NRORCAEVENTO = ?",
                      {Variant(stored->situation == "F" ? "P" : "E"), Variant(branch), Variant(number)});
        answer = as_variant(header_packet(w, branch, number));
        tx.commit();
    });
    return answer;
}

}  // namespace acerto::server
