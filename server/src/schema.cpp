#include "acerto/server/schema.h"

#include <stdexcept>

#include "acerto/platform/text.h"

namespace acerto::server {

using platform::FieldType;

namespace {

ColumnDef S(const char* n, int size, bool key = false) {
    return {n, FieldType::String, size, key};
}
ColumnDef F(const char* n) {
    return {n, FieldType::Float, 0, false};
}
ColumnDef D(const char* n, bool key = false) {
    return {n, FieldType::DateTime, 0, key};
}

std::vector<TableDef> build() {
    std::vector<TableDef> t;
    t.push_back({"FILIAL", {S("CDFILIAL", 4, true), S("NMFILIAL", 50), S("CDEMPRESA", 2), S("CDSERIE", 5)}, {}});
    t.push_back({"PRECOBASE", {S("CDPRECOBASE", 2, true), S("DSPRECOBASE", 30)}, {}});
    t.push_back({"PRODUTO",
                 {S("CDPRODUTO", 10, true), S("CDARVPROD", 20), S("CDPRODESTO", 10), S("NMPRODUTO", 50),
                  S("SGUNIDADE", 10), S("CDNVPRODUTO", 1), S("IDATIVO", 1)},
                 {}});
    t.push_back({"ITEMPREBASE",
                 {S("CDPRECOBASE", 2, true), S("CDPRODUTO", 10, true), D("DTINIVALIPB", true), F("VRITEPREBASE")},
                 {"FOREIGN KEY (CDPRECOBASE) REFERENCES PRECOBASE (CDPRECOBASE)",
                  "FOREIGN KEY (CDPRODUTO) REFERENCES PRODUTO (CDPRODUTO)"}});
    // Budgets and orders: the fields of cdsOrcamento, the origin and the extras parameters.
    t.push_back(
        {"ORCAMENTO",
         {S("CDFILIAL", 4, true), S("NRORCAEVENTO", 10, true), S("NRSEQORCAEVE", 2), S("NMCLIEORCEVE", 50),
          S("IDSITCLIOREV", 1), S("CDCLIENTE", 21), S("NMFANTCLIE", 50), S("CDTPSERVEVEN", 3), S("NMTPSERVEVEN", 30),
          S("CDTIPOEVENTO", 3), S("NMTIPOEVENTO", 30), D("DTEVENTO"), S("DSENDENTOREV", 50), S("CDDEPTO", 3),
          S("CDPRECOBASE", 2), S("IDTPORCAEVEN", 1), F("QTCONVORCEVE"), S("IDTPCOBRVREXTRA", 1), S("CDEMPRESA", 2)},
         {"FOREIGN KEY (CDFILIAL) REFERENCES FILIAL (CDFILIAL)"}});
    // The financial registers the settlement's titles name. A code that names nothing here is
    // refused by the financial update as missing, so these carry no references of their own.
    t.push_back({"EMPRESA", {S("CDEMPRESA", 2, true), S("NMEMPRESA", 50), S("NRINSCESTA", 20)}, {}});
    t.push_back({"FORNECEDOR", {S("CDFORNECEDOR", 10, true), S("NMFORNECEDOR", 50)}, {}});
    // CDFORNECEDOR: the client's own supplier registration, for what the caterer owes it.
    t.push_back({"CLIENTE", {S("CDCLIENTE", 21, true), S("NMCLIENTE", 50), S("CDFORNECEDOR", 10)}, {}});
    t.push_back(
        {"TIPOOPER", {S("CDTIPOOPER", 3, true), S("NMTIPOOPER", 30), S("CDTPCTREC", 3), S("CDTPCTPAG", 3)}, {}});
    // The caterer's parameters, per branch: the price base for material replacement, the
    // operation types, entry series and suppliers of the financial update, the withdrawal type.
    // The receivable and payable types are the operation type's, the receivable series the
    // branch's.
    t.push_back({"PARAMETRO",
                 {S("CDFILIAL", 4, true), S("CDPRBAREPMAT", 2), S("CDTIPOOPER", 3), S("CDTIPOOPERPAG", 3),
                  S("CDSERIEENTR", 5), S("CDFORNPADORC", 10), S("CDTIPORETI", 3), S("CDAJCTRECSOB", 3)},
                 {"FOREIGN KEY (CDFILIAL) REFERENCES FILIAL (CDFILIAL)"}});
    t.push_back({"DEVOLUCAO",
                 {S("CDFILIAL", 4, true), S("NRORCAEVENTO", 10, true), S("NRSEQORCAEVE", 2, true),
                  S("CDDEPTO", 3, true), S("NMDEPTO", 30)},
                 {"FOREIGN KEY (CDFILIAL, NRORCAEVENTO) REFERENCES ORCAMENTO (CDFILIAL, NRORCAEVENTO)"}});
    // The product lines of the returns: what was reserved, added, returned and broken.
    t.push_back(
        {"DEVOLUCAOITEM",
         {S("CDFILIAL", 4, true), S("NRORCAEVENTO", 10, true), S("NRSEQORCAEVE", 2, true), S("CDDEPTO", 3, true),
          S("CDPRODUTO", 10, true), F("QTRESERVADA"), F("QTACRESCIMO"), F("QTRETORNO"), F("QTQUEBRA")},
         {"FOREIGN KEY (CDFILIAL, NRORCAEVENTO, NRSEQORCAEVE, CDDEPTO) REFERENCES DEVOLUCAO "
          "(CDFILIAL, NRORCAEVENTO, NRSEQORCAEVE, CDDEPTO)",
          "FOREIGN KEY (CDPRODUTO) REFERENCES PRODUTO (CDPRODUTO)"}});
    // The settlement header: the fields of cdsAcerto. One settlement per budget.
    t.push_back(
        {"ACERTO",
         {S("CDFILIAL", 4, true), S("NRORCAEVENTO", 10, true), S("NRSEQORCAEVE", 2, true), S("CDDEPTO", 3),
          D("DTACERTOOREV"), S("CDOPERADOR", 12), S("CDPRBAQUEBRA", 2), S("CDPRBASOBRA", 2), S("CDPRBAHREXTR", 2),
          S("CDPRBAEXTRA", 2), S("NMPRECOQUEBR", 30), S("NMPRECOSOBRA", 30), S("NMPRECOHORAE", 30),
          S("NMPRECOEXTRA", 30), S("IDSITUACERTO", 1), F("QTCONVEXTRAACER"), F("VRCONVEXTRAACER"), S("IDTPVREXTRA", 1)},
         {"UNIQUE (CDFILIAL, NRORCAEVENTO)",
          "FOREIGN KEY (CDFILIAL, NRORCAEVENTO) REFERENCES ORCAMENTO (CDFILIAL, NRORCAEVENTO)"}});
    // The four kinds of lines: the stored fields of cdsQuebra, cdsSobra, cdsHorasExtras and
    // cdsExtras. A line belongs to its budget's settlement by branch and number.
    const char* fk = "FOREIGN KEY (CDFILIAL, NRORCAEVENTO) REFERENCES ORCAMENTO (CDFILIAL, NRORCAEVENTO)";
    t.push_back({"ACERTOQUEBRA",
                 {S("CDFILIAL", 4, true), S("NRORCAEVENTO", 10, true), S("NRSEQORCAEVE", 2), S("CDDEPTO", 3),
                  S("CDARVPROD", 20), S("NMPRODUTO", 50), S("SGUNIDADE", 10), F("QTACERTOQUEB"), F("VRACERTOQUEB"),
                  F("VRACREACEQUE"), F("VRDESCACEQUE"), S("NRACERTOQUEB", 4, true), S("CDPRODUTO", 10)},
                 {fk}});
    t.push_back({"ACERTOSOBRA",
                 {S("CDARVPROD", 20), S("NMPRODUTO", 50), S("SGUNIDADE", 10), F("QTRESACERSOB"), F("QTEXTACERSOB"),
                  F("QTORCACERSOB"), F("VRACERTOSOBR"), S("CDFILIAL", 4, true), S("NRORCAEVENTO", 10, true),
                  S("NRSEQORCAEVE", 2), S("CDDEPTO", 3), S("NRACERTOSOBR", 4, true), S("CDPRODUTO", 10)},
                 {fk}});
    t.push_back({"ACERTOHREXTRA",
                 {S("CDFILIAL", 4, true), S("NRORCAEVENTO", 10, true), S("NRSEQORCAEVE", 2), S("CDDEPTO", 3),
                  S("CDARVPROD", 20), S("NMPRODUTO", 50), S("NRACERTOHREX", 4, true), F("QTACERTOHREX"),
                  F("VRACERTOHREX"), S("CDPRODUTO", 10)},
                 {fk}});
    t.push_back({"ACERTOEXTRA",
                 {S("CDFILIAL", 4, true), S("NRORCAEVENTO", 10, true), S("NRSEQORCAEVE", 2), S("CDDEPTO", 3),
                  S("NRACERTOEXTR", 4, true), S("CDARVPROD", 20), S("NMPRODUTO", 50), S("SGUNIDADE", 10),
                  S("DSACERTOEXTR", 50), F("QTACERTOEXTR"), F("VRACERTOEXTR"), S("CDPRODUTO", 10), S("CDFILIALEST", 4),
                  S("NRLANCESTQ", 10), S("NRSEQUITEM", 4)},
                 {fk}});
    // Stock withdrawals recorded for a settlement (written by the withdrawal command).
    t.push_back(
        {"ACERTORETI",
         {S("CDFILIAL", 4, true), S("NRORCAEVENTO", 10, true), S("NRSEQORCAEVE", 2, true), S("NRLANCESTQ", 10, true)},
         {fk}});
    // Stock: storerooms of a branch, the storeroom each product is dispatched from, the
    // positions, and the postings that move them (numbered per branch). A posting made for a
    // settlement names its budget (CDFILIALORC its branch); its own branch is where the stock
    // was taken. A cancelled posting is kept: DTCANCEL and CDOPERCANC say when and by whom.
    t.push_back({"ALMOXARIFADO",
                 {S("CDFILIAL", 4, true), S("CDALMOXARIFE", 4, true), S("NMALMOXARIFE", 50)},
                 {"FOREIGN KEY (CDFILIAL) REFERENCES FILIAL (CDFILIAL)"}});
    t.push_back({"PRODUTOALMOX",
                 {S("CDFILIAL", 4, true), S("CDPRODUTO", 10, true), S("CDALMOXARIFE", 4)},
                 {"FOREIGN KEY (CDFILIAL, CDALMOXARIFE) REFERENCES ALMOXARIFADO (CDFILIAL, CDALMOXARIFE)",
                  "FOREIGN KEY (CDPRODUTO) REFERENCES PRODUTO (CDPRODUTO)"}});
    t.push_back({"ESTOQUE",
                 {S("CDFILIAL", 4, true), S("CDALMOXARIFE", 4, true), S("CDPRODUTO", 10, true), F("QTPOSESTPROD")},
                 {"FOREIGN KEY (CDFILIAL, CDALMOXARIFE) REFERENCES ALMOXARIFADO (CDFILIAL, CDALMOXARIFE)",
                  "FOREIGN KEY (CDPRODUTO) REFERENCES PRODUTO (CDPRODUTO)"}});
    t.push_back(
        {"LANCESTQ",
         {S("CDFILIAL", 4, true), S("NRLANCESTQ", 10, true), S("CDTIPORETI", 3), D("DTLANCESTQ"), S("CDOPERADOR", 12),
          S("NRORCAEVENTO", 10), S("NRSEQORCAEVE", 2), D("DTCANCEL"), S("CDFILIALORC", 4), S("CDOPERCANC", 12)},
         {"FOREIGN KEY (CDFILIAL) REFERENCES FILIAL (CDFILIAL)"}});
    // A posting's lines name it by key without a reference: a checked reference costs a lookup
    // per line (thousands per withdrawal), and the server writes a posting and its lines in one
    // transaction and never deletes a posting.
    t.push_back({"ITEMLANCESTQ",
                 {S("CDFILIAL", 4, true), S("NRLANCESTQ", 10, true), S("NRSEQUITEM", 4, true), S("CDPRODUTO", 10),
                  S("CDALMOXARIFE", 4), F("QTLANCESTQ")},
                 {}});
    // The settlement's titles, numbered per branch. A cancelled title is kept: DTCANCEL and
    // CDOPERCANC say when and by whom; live titles are those without DTCANCEL.
    t.push_back({"CONTARECEBER",
                 {S("CDFILIAL", 4, true), S("NRTITULO", 10, true), S("CDCLIENTE", 21), S("NRORCAEVENTO", 10),
                  S("NRSEQORCAEVE", 2), S("CDTIPOOPER", 3), S("CDTPCTREC", 3), S("CDSERIE", 5), F("VRTITULO"),
                  S("CDAJUSTE", 3), F("VRAJUSTE"), D("DTEMISSAO"), D("DTBAIXA"), S("NRBOLETO", 20), S("CDOPERADOR", 12),
                  D("DTCANCEL"), S("CDOPERCANC", 12)},
                 {"FOREIGN KEY (CDFILIAL) REFERENCES FILIAL (CDFILIAL)"}});
    t.push_back(
        {"CONTAPAGAR",
         {S("CDFILIAL", 4, true), S("NRTITULO", 10, true), S("CDFORNECEDOR", 10), S("NRORCAEVENTO", 10),
          S("NRSEQORCAEVE", 2), S("CDTIPOOPER", 3), S("CDTPCTPAG", 3), S("CDSERIE", 5), F("VRTITULO"), D("DTEMISSAO"),
          D("DTBAIXA"), S("NRBOLETO", 20), S("CDOPERADOR", 12), D("DTCANCEL"), S("CDOPERCANC", 12)},
         {"FOREIGN KEY (CDFILIAL) REFERENCES FILIAL (CDFILIAL)"}});
    // Operators who may sign in: the password as a memory-hard hash, never as typed.
    t.push_back({"OPERADOR", {S("CDOPERADOR", 12, true), S("NMOPERADOR", 50), S("DSSENHA", 128), S("IDATIVO", 1)}, {}});
    // The branches an operator may work in; "*" is every branch.
    t.push_back({"OPERADORFILIAL",
                 {S("CDOPERADOR", 12, true), S("CDFILIAL", 4, true)},
                 {"FOREIGN KEY (CDOPERADOR) REFERENCES OPERADOR (CDOPERADOR)"}});
    // One row per write call, in the call's own transaction: who, when, from where, on which
    // settlement, and every statement the call wrote with its values.
    t.push_back({"AUDITORIA",
                 {S("NRAUDITORIA", 32, true), D("DTREGISTRO"), S("CDOPERADOR", 12), S("DSENDERECO", 64),
                  S("NMMETODO", 30), S("CDFILIAL", 4), S("NRORCAEVENTO", 10), S("DSALTERACAO", -1)},
                 {}});
    return t;
}

std::string sql_type(const ColumnDef& c, Dialect d) {
    switch (c.type) {
        case FieldType::Float:
            return d == Dialect::Sqlite ? "REAL" : "DOUBLE PRECISION";
        case FieldType::Integer:
            return "INTEGER";
        case FieldType::DateTime:
            return "VARCHAR(23)";  // ISO text, compared as text
        case FieldType::Boolean:
            return "INTEGER";
        default:
            if (c.size < 0) return "TEXT";  // unbounded (the audit trail's detail)
            return "VARCHAR(" + std::to_string(c.size > 0 ? c.size : 255) + ")";
    }
}

}  // namespace

const ColumnDef* TableDef::column(std::string_view n) const {
    for (const auto& c : columns)
        if (platform::iequals(c.name, n)) return &c;
    return nullptr;
}

int TableDef::index_of(std::string_view n) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (platform::iequals(columns[i].name, n)) return static_cast<int>(i);
    return -1;
}

std::vector<platform::FieldDef> TableDef::field_defs() const {
    std::vector<platform::FieldDef> out;
    for (const auto& c : columns) out.push_back({c.name, c.type, c.size});
    return out;
}

std::vector<std::string> TableDef::key_columns() const {
    std::vector<std::string> out;
    for (const auto& c : columns)
        if (c.key) out.push_back(c.name);
    return out;
}

const std::vector<TableDef>& tables() {
    static const std::vector<TableDef> all = build();
    return all;
}

const TableDef* find_table(std::string_view name) {
    for (const auto& t : tables())
        if (platform::iequals(t.name, name)) return &t;
    return nullptr;
}

const TableDef& table(std::string_view name) {
    if (const TableDef* t = find_table(name)) return *t;
    throw std::out_of_range("unknown table " + std::string(name));
}

std::vector<std::string> create_statements(Dialect d) {
    std::vector<std::string> out;
    out.push_back("CREATE TABLE IF NOT EXISTS SCHEMA_VERSION (VERSAO INTEGER NOT NULL)");
    for (const auto& t : tables()) {
        std::string s = "CREATE TABLE IF NOT EXISTS " + t.name + " (";
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
            const auto& c = t.columns[i];
            s += (i ? ", " : "") + c.name + " " + sql_type(c, d);
            if (c.key) s += " NOT NULL";
        }
        s += ", PRIMARY KEY (";
        auto keys = t.key_columns();
        for (std::size_t i = 0; i < keys.size(); ++i) s += (i ? ", " : "") + keys[i];
        s += ")";
        for (const auto& k : t.constraints) s += ", " + k;
        s += ")";
        out.push_back(s);
    }
    out.push_back("CREATE INDEX IF NOT EXISTS IX_AUDITORIA_ORCA ON AUDITORIA (CDFILIAL, NRORCAEVENTO, DTREGISTRO)");
    out.push_back("CREATE INDEX IF NOT EXISTS IX_ITEMPREBASE_PRODUTO ON ITEMPREBASE (CDPRODUTO)");
    out.push_back("CREATE INDEX IF NOT EXISTS IX_PRODUTO_ARV ON PRODUTO (CDARVPROD, CDNVPRODUTO)");
    // A product's positions in a branch, whichever storeroom holds them.
    out.push_back("CREATE INDEX IF NOT EXISTS IX_ESTOQUE_PRODUTO ON ESTOQUE (CDFILIAL, CDPRODUTO)");
    // A settlement's titles, and the titles that share a bank slip.
    for (const char* t : {"CONTARECEBER", "CONTAPAGAR"}) {
        out.push_back(std::string("CREATE INDEX IF NOT EXISTS IX_") + t + "_ORCA ON " + t +
                      " (CDFILIAL, NRORCAEVENTO)");
        out.push_back(std::string("CREATE INDEX IF NOT EXISTS IX_") + t + "_BOLETO ON " + t + " (CDFILIAL, NRBOLETO)");
    }
    return out;
}

std::vector<std::string> upgrade_statements(int from, Dialect) {
    std::vector<std::string> out;
    if (from < 2) {
        // Version 2: the budget records its company; the receivable and payable types move from
        // the branch's parameters to the operation types, the receivable series to the branch.
        out.push_back("ALTER TABLE ORCAMENTO ADD COLUMN CDEMPRESA VARCHAR(2)");
        out.push_back(
            "INSERT INTO TIPOOPER (CDTIPOOPER, CDTPCTREC) SELECT CDTIPOOPER, MAX(CDTPCTREC) FROM PARAMETRO "
            "WHERE CDTIPOOPER IS NOT NULL AND NOT EXISTS (SELECT 1 FROM TIPOOPER T WHERE T.CDTIPOOPER = "
            "PARAMETRO.CDTIPOOPER) GROUP BY CDTIPOOPER");
        out.push_back(
            "INSERT INTO TIPOOPER (CDTIPOOPER, CDTPCTPAG) SELECT CDTIPOOPERPAG, MAX(CDTPCTPAG) FROM PARAMETRO "
            "WHERE CDTIPOOPERPAG IS NOT NULL AND NOT EXISTS (SELECT 1 FROM TIPOOPER T WHERE T.CDTIPOOPER = "
            "PARAMETRO.CDTIPOOPERPAG) GROUP BY CDTIPOOPERPAG");
        out.push_back(
            "UPDATE TIPOOPER SET CDTPCTPAG = (SELECT MAX(P.CDTPCTPAG) FROM PARAMETRO P WHERE P.CDTIPOOPERPAG = "
            "TIPOOPER.CDTIPOOPER) WHERE CDTPCTPAG IS NULL");
        out.push_back(
            "UPDATE FILIAL SET CDSERIE = (SELECT P.CDSERIE FROM PARAMETRO P WHERE P.CDFILIAL = FILIAL.CDFILIAL) "
            "WHERE CDSERIE IS NULL");
        for (const char* c : {"CDTPCTREC", "CDTPCTPAG", "CDSERIE"})
            out.push_back(std::string("ALTER TABLE PARAMETRO DROP COLUMN ") + c);
    }
    return out;
}

}  // namespace acerto::server
