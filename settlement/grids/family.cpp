// The item-grid family's shared mechanics: product pick, numeric key filter, price-base
// panel, line numbering and product check, written once for the four members.
#include "family.h"

#include "acerto/host/consiste.h"
#include "acerto/host/services.h"
#include "acerto/platform/format.h"
#include "acerto/platform/mask.h"
#include "acerto/platform/text.h"

namespace acerto::settlement {

using host::Consiste::Ajusta;
using host::Consiste::EmptyString;
using host::Consiste::GridText;
using platform::DataSetState;

void TfrmAcertoFinal::build_grid_family() {
    using M = GridMember;
    const auto per_product = [this] { return cdsParam.field("IDTPCOBRVREXTRA").as_string() == "P"; };
    membros_[0].reset(
        new GridMember{.number = 1,
                       .tab = &tshPadrao,
                       .menu = &mnuPadrao,
                       .grid = &dbgPadrao,
                       .lines = &cdsQuebra,
                       .numbering = &cdsNrQuebra,
                       .source = &dtsPadrao,
                       .line_field = "NRACERTOQUEB",
                       .holder = &stNrQuebra,
                       .unit_field = "VRACERTOQUEB",
                       .numeric_columns = {"QTACERTOQUEB", "VRACERTOQUEB", "VRACREACEQUE", "VRDESCACEQUE"},
                       .header_code = "CDPRBAQUEBRA",
                       .header_name = "NMPRECOQUEBR",
                       .code_box = &dbePrQuebra,
                       .name_box = &dbeNmPrBase,
                       .search_button = &btnPrQuebra,
                       .name_clear_when = &cdsQuebra,
                       .price_check_when = &cdsQuebra,
                       .base_key_handler_first = true,
                       .unit_rule = M::UnitRule::WriteBack,
                       .follows_header = [] { return true; },
                       .confirm_checks =
                           [this] {
                               Vd_PrcBaseQuebra(true);
                               Vd_ProdQuebra(true);
                               Vd_QtdQuebra(true);
                               Vd_VrQuebra(true);
                           },
                       .post_checks =
                           [this] {
                               Vd_PrcBaseQuebra(true);
                               Vd_ProdQuebra(true);
                               Vd_QtdQuebra(true);
                               Vd_VrQuebra(true);
                               Vd_AcresQuebra();
                               Vd_DescQuebra();
                           },
                       .column_checks = {{"CDARVPROD", [this] { Vd_ProdQuebra(false); }},
                                         {"QTACERTOQUEB", [this] { Vd_QtdQuebra(false); }},
                                         {"VRACERTOQUEB", [this] { Vd_VrQuebra(false); }},
                                         {"VRACREACEQUE", [this] { Vd_AcresQuebra(); }},
                                         {"VRDESCACEQUE", [this] { Vd_DescQuebra(); }}},
                       .after_post = nullptr});
    membros_[1].reset(
        new GridMember{.number = 2,
                       .tab = &tshSobra,
                       .menu = &mnuSobra,
                       .grid = &dbgSobra,
                       .lines = &cdsSobra,
                       .numbering = &cdsNrSobra,
                       .source = &dtsSobra,
                       .line_field = "NRACERTOSOBR",
                       .holder = &stNrSobra,
                       .unit_field = "VRACERTOSOBR",
                       .numeric_columns = {"QTRESACERSOB", "QTEXTACERSOB", "QTORCACERSOB", "VRACERTOSOBR"},
                       .header_code = "CDPRBASOBRA",
                       .header_name = "NMPRECOSOBRA",
                       .code_box = &dbePrSobra,
                       .name_box = &dbeNmPrSobra,
                       .search_button = &btnPrSobra,
                       .name_clear_when = &cdsSobra,
                       .price_check_when = &cdsSobra,
                       .unit_rule = M::UnitRule::RememberedText,
                       .follows_header = [] { return true; },
                       .confirm_checks =
                           [this] {
                               Vd_PrcBaseSobra(true);
                               Vd_ProdSobra(true);
                               Vd_QtdSobra(true);
                               Vd_VrSobra(true);
                           },
                       .post_checks =
                           [this] {
                               Vd_PrcBaseSobra(true);
                               Vd_ProdSobra(true);
                               Vd_QtdSobra(true);
                               Vd_VrSobra(true);
                           },
                       // Leaving a quantity column checks the three quantities as they stand (blank passes).
                       .column_checks = {{"CDARVPROD", [this] { Vd_ProdSobra(false); }},
                                         {"QTRESACERSOB", [this] { Vd_QtdSobra(false); }},
                                         {"QTEXTACERSOB", [this] { Vd_QtdSobra(false); }},
                                         {"QTORCACERSOB", [this] { Vd_QtdSobra(false); }},
                                         {"VRACERTOSOBR", [this] { Vd_VrSobra(false); }}},
                       .after_post = nullptr});
    membros_[2].reset(new GridMember{.number = 3,
                                     .tab = &tshHorasExtras,
                                     .menu = &mnuHorasExtras,
                                     .grid = &dbgHorasExtras,
                                     .lines = &cdsHorasExtras,
                                     .numbering = &cdsNrHorasExtras,
                                     .source = &dtsHorasExtras,
                                     .line_field = "NRACERTOHREX",
                                     .holder = &stNrHorasExtras,
                                     .unit_field = "VRACERTOHREX",
                                     .numeric_columns = {"QTACERTOHREX", "VRACERTOHREX"},
                                     .header_code = "CDPRBAHREXTR",
                                     .header_name = "NMPRECOHORAE",
                                     .code_box = &dbeCdPrHora,
                                     .name_box = &dbeNmPrHora,
                                     .search_button = &sbtPrecoHora,
                                     .name_clear_when = &cdsAcerto,
                                     .price_check_when = &cdsHorasExtras,
                                     .copies_unit = false,
                                     .unit_rule = M::UnitRule::PriceBase,
                                     .sequence = M::Sequence::Budget,
                                     .follows_header = [] { return true; },
                                     .confirm_checks = [this] { Vd_NomeExtra(true); },
                                     // The labour item is looked up when its column is left; posting needs it
                                     // non-blank, and looks up a code typed last that does not match the line's item.
                                     .post_checks =
                                         [this] {
                                             Vd_PrcBaseHora(true);
                                             Vd_ProdHoraGravar();
                                             Vd_NomeExtra(true);
                                         },
                                     .column_checks = {{"CDARVPROD", [this] { Vd_ProdHora(false); }}},
                                     .after_post = nullptr});
    membros_[3].reset(new GridMember{.number = 4,
                                     .tab = &tshExtras,
                                     .menu = &mnuExtras,
                                     .grid = &dbgExtras,
                                     .lines = &cdsExtras,
                                     .numbering = &cdsNrExtras,
                                     .source = &dtsExtras,
                                     .line_field = "NRACERTOEXTR",
                                     .holder = &stNrExtras,
                                     .unit_field = "VRACERTOEXTR",
                                     .numeric_columns = {"QTACERTOEXTR", "VRACERTOEXTR"},
                                     .header_code = "CDPRBAEXTRA",
                                     .header_name = "NMPRECOEXTRA",
                                     .code_box = &dbePrExtra,
                                     .name_box = &dbeNmPrExtra,
                                     .search_button = &btnPrExtra,
                                     .name_clear_when = &cdsAcerto,
                                     .clears_header_field = true,
                                     .price_check_when = &cdsExtras,
                                     .price_base_to_add = false,
                                     .unit_rule = M::UnitRule::RememberedText,
                                     .insert_guard = M::InsertGuard::WithdrawalCheck,
                                     .sequence = M::Sequence::Budget,
                                     .follows_header = per_product,
                                     .confirm_checks =
                                         [this, per_product] {
                                             if (!per_product()) return;
                                             Vd_PrcBaseExtra(true);
                                             Vd_ProdExtra(true);
                                             Vd_QtdExtra(true);
                                             Vd_VrExtra(true);
                                         },
                                     .post_checks =
                                         [this] {
                                             Vd_PrcBaseExtra(true);
                                             Vd_ProdExtra(true);
                                             Vd_QtdExtra(true);
                                             Vd_VrExtra(true);
                                         },
                                     .column_checks = {{"CDARVPROD", [this] { Vd_ProdExtra(false); }},
                                                       {"QTACERTOEXTR", [this] { Vd_QtdExtra(false); }},
                                                       {"VRACERTOEXTR", [this] { Vd_VrExtra(false); }}},
                                     .after_post = [this] { Calcula_Campos(); }});

    for (auto& ptr : membros_) {
        GridMember& m = *ptr;
        m.grid->on_edit_button_click = [this, &m](DBGrid&) { ProdutoPesquisa(m); };
        if (!m.base_key_handler_first)
            m.grid->on_key_press = [this, &m](Control&, char32_t& k) { TeclaNumerica(m, k); };
        m.grid->on_col_exit = [this, &m](DBGrid& g) { ColunaSaida(m, g); };
        m.code_box->on_key_press = [this, &m](Control&, char32_t& k) {
            // Only digits and Backspace reach a price-base code; the extras code is refused
            // altogether once the extras are withdrawn from stock.
            if (k != 8 && !(k >= U'0' && k <= U'9')) k = 0;
            if (k != 0 && m.insert_guard == GridMember::InsertGuard::WithdrawalCheck) Vd_Retirada();
        };
        if (m.insert_guard == GridMember::InsertGuard::WithdrawalCheck)
            m.code_box->on_key_down = [this](Control&, int& k, platform::ShiftState) {
                if (k == platform::vk::Delete) Vd_Retirada();
            };
        m.code_box->on_change = [this, &m](Control&) {
            if (!m.name_clear_when->editing()) return;
            if (m.clears_header_field)
                cdsAcerto.field(m.header_name).clear();
            else
                m.name_box->set_text("");
        };
        m.code_box->on_exit = [this, &m](Control&) { Vd_PrcBase(m, false); };
        m.search_button->OnAfterPesq = [this, &m](host::TBtnPesquisa&) {
            if (cdsAcerto.state() == DataSetState::Browse) cdsAcerto.edit();
            cdsAcerto.field(m.header_code).set_value(qryPrecoBase.field("CDPRECOBASE").value());
            cdsAcerto.field(m.header_name).set_value(qryPrecoBase.field("DSPRECOBASE").value());
        };
        m.lines->before_insert = [this, &m](DataSet&) { NumeraLinha(m); };
        m.lines->after_insert = [this, &m](DataSet&) { GravaNumeroLinha(m); };
        if (m.insert_guard == GridMember::InsertGuard::SettlementLock) {
            m.lines->before_edit = [this](DataSet& d) { cdsQuebraBeforeEdit(d); };
            m.lines->before_delete = [this](DataSet& d) { cdsQuebraBeforeEdit(d); };
        } else {
            auto lock_then_withdrawal = [this](DataSet& d) {
                cdsQuebraBeforeEdit(d);
                Vd_Retirada();
            };
            m.lines->before_edit = lock_then_withdrawal;
            m.lines->before_delete = lock_then_withdrawal;
        }
        m.lines->before_post = [this, &m](DataSet&) { AntesGravarLinha(m); };
        m.lines->after_post = [this, &m](DataSet&) {
            if (m.after_post) m.after_post();
            sbtConfirmarClick(sbtConfirmar);
        };
    }
    // The extras: the totals follow a deleted line; a withdrawn line says so.
    cdsExtras.after_delete = [this](DataSet&) { Calcula_Campos(); };
    cdsExtras.field("NRLANCESTQ").on_get_text = [this](platform::Field& f, std::string& t, bool d) {
        cdsExtrasNRLANCESTQGetText(f, t, d);
    };
    qryPesqProduto.field("CDARVPROD").on_get_text = [this](platform::Field& f, std::string& t, bool d) {
        qryPesqProdutoCDARVPRODGetText(f, t, d);
    };
}

GridMember& TfrmAcertoFinal::Membro(const ClientDataSet& lines) {
    for (auto& m : membros_)
        if (m->lines == &lines) return *m;
    return Quebra();
}

GridMember& TfrmAcertoFinal::MembroAtivo() {
    for (auto& m : membros_)
        if (m->tab == pgcPadrao.active_page()) return *m;
    return Quebra();
}

// 10. Leaving a column runs that column's check, while a line is being edited or inserted.
void TfrmAcertoFinal::ColunaSaida(GridMember& m, DBGrid& grid) {
    if (!m.lines->editing()) return;
    platform::Field* left = grid.selected_field();
    if (!left) return;
    for (const auto& c : m.column_checks)
        if (c.field == left->name()) c.run();
}

// A quantity or value of the current line: blank fails when required, then the value must be
// above 0 (or not below it).
void TfrmAcertoFinal::Vd_Valor(GridMember& m, const char* field, bool flag, const char* blank_key,
                               const char* below_key, const ValueCheck& how) {
    if (how.only_while_editing && !m.lines->editing()) return;
    platform::Field& fld = m.lines->field(field);
    const char* key = nullptr;
    try {
        if (how.from_grid) {
            std::string typed = GridText(*m.grid, field, false);
            if (m.lines->editing()) TakeCellText(fld, typed);
        }
        if (EmptyString(fld.text())) {
            if (flag) key = blank_key;
        } else if (how.below_zero_only ? fld.as_float() < 0 : fld.as_float() <= 0) {
            key = below_key;
        }
    } catch (...) {
        key = nullptr;
        if (how.activates_tab) pgcPadrao.set_active_page(m.tab);
        if (how.focuses) fld.focus_control();
        throw;
    }
    if (!key || !*key) return;
    if (how.activates_tab) pgcPadrao.set_active_page(m.tab);
    if (how.focuses) fld.focus_control();
    Falha(key);
}

// 10. Posting a line: the member's checks in order, then the key fields.
void TfrmAcertoFinal::AntesGravarLinha(GridMember& m) {
    m.post_checks();
    m.lines->field("CDFILIAL").set_as_string(medCdFilial.text());
    m.lines->field("NRORCAEVENTO").set_as_string(edtNrOrcamento.text());
    m.lines->field("NRSEQORCAEVE")
        .set_value(m.sequence == GridMember::Sequence::Zeros ? platform::Variant("00")
                                                             : cdsOrcamento.field("NRSEQORCAEVE").value());
}

// 1. The product pick by the ellipsis button.
void TfrmAcertoFinal::ProdutoPesquisa(GridMember& m) {
    platform::Field* selected = m.grid->selected_field();
    if (!selected || selected->name() != "CDARVPROD") return;
    qryPesqProduto.close();
    qryPesqProduto.param_by_name("P_CDPRECOBASE").set_as_variant(cdsAcerto.field(m.header_code).value());
    qryPesqProduto.param_by_name("P_CDNVPRODUTO").set_as_integer(host::Vantiro::DBPictObj(0).GetTtNiveis());
    qryPesqProduto.param_by_name("P_DTINIVALIPB").set_as_date_time(host::Vantiro::Date());
    qryPesqProduto.open();
    if (EmptyString(m.code_box->text())) {
        m.code_box->set_focus();
        Falha("PRECOBASE_N_INF");
    }
    if (!host::Pesquisa::Pesquisar(dtsPesqProduto, Msg("PRODUTO"), false, true)) return;
    if (m.lines->state() == DataSetState::Browse) m.lines->edit();
    // A pick always brings the price-base price as the unit value.
    m.lines->field("CDARVPROD").set_value(qryPesqProduto.field("CDARVPROD").value());
    m.lines->field("CDPRODUTO").set_value(qryPesqProduto.field("CDPRODUTO").value());
    m.lines->field("NMPRODUTO").set_value(qryPesqProduto.field("NMPRODUTO").value());
    if (m.copies_unit) m.lines->field("SGUNIDADE").set_value(qryPesqProduto.field("SGUNIDADE").value());
    m.lines->field(m.unit_field).set_value(qryPesqProduto.field("VRITEPREBASE").value());
}

// 2. The product code in the pick list, through the product-code mask.
void TfrmAcertoFinal::qryPesqProdutoCDARVPRODGetText(platform::Field& sender, std::string& text, bool) {
    text = platform::FormatMaskText(host::Vantiro::DBPict(0), sender.as_string());
}

// 3. The numeric key filter of a grid.
void TfrmAcertoFinal::TeclaNumerica(GridMember& m, char32_t& key) {
    platform::Field* selected = m.grid->selected_field();
    for (const auto& column : m.numeric_columns)
        if (selected && selected->name() == column) Vd_Virgula(*m.grid, column, key);
    DataSetState padrao = dtsPadrao.state();
    if ((key == U'e' || key == U'E') &&
        (padrao == DataSetState::Browse || padrao == DataSetState::Edit || padrao == DataSetState::Insert))
        key = 0;
    if (key == U'+' || key == U'-') key = 0;
}

namespace {
// A digit that would take the value past nine nines is refused.
bool over_ceiling(const std::string& candidate) {
    double v;
    return platform::try_str_to_float(candidate, v) && v > 999999999.0;
}
}  // namespace

// 4. One keystroke of a numeric grid column: one decimal separator, after a digit; no value
//    beyond 999999999.
void TfrmAcertoFinal::Vd_Virgula(DBGrid& grid, const std::string& field, char32_t& key) {
    platform::Field* selected = grid.selected_field();
    const char32_t sep = static_cast<char32_t>(platform::format_settings().decimal_separator);
    if (selected && selected->name() == field && key == sep) {
        std::string text = GridText(grid, field, false);
        if (text.empty()) {
            key = 0;
            return;
        }
        if (text.find(static_cast<char>(sep)) != std::string::npos) key = 0;
    }
    if (key >= U'0' && key <= U'9' && over_ceiling(GridText(grid, field, true) + static_cast<char>(key))) key = 0;
}

// 5. The same filter for a plain box.
void TfrmAcertoFinal::Vd_EditVirgula(const std::string& text, char32_t& key) {
    const char32_t sep = static_cast<char32_t>(platform::format_settings().decimal_separator);
    if (key == sep && (text.empty() || text.find(static_cast<char>(sep)) != std::string::npos)) {
        key = 0;
        return;
    }
    if (key >= U'0' && key <= U'9' && over_ceiling(text + static_cast<char>(key))) key = 0;
}

void TfrmAcertoFinal::Vd_InfPreco(const std::string& code, DBEdit& box) {
    if (EmptyString(code)) {
        box.set_focus();
        Falha("PRECOBASE_N_INF");
    }
}

// 6.5 The price-base check: given, padded to two characters, registered.
void TfrmAcertoFinal::Vd_PrcBase(GridMember& m, bool) {
    if (!m.price_check_when->editing()) return;
    try {
        if (EmptyString(m.code_box->text())) Falha("PRECOBASE_N_INF");
        m.code_box->set_text(Ajusta(m.code_box->text(), 2));
        qryVdPreco.close();
        qryVdPreco.param_by_name("P_CDPRECOBASE").set_as_string(m.code_box->text());
        qryVdPreco.open();
        if (qryVdPreco.is_empty()) Falha("PRECOBASE_N_CAD");
        m.name_box->set_text(qryVdPreco.field("DSPRECOBASE").as_string());
        // The header takes the padded code and its description now, so that a product pick
        // made next is priced from the price base the boxes show.
        if (cdsAcerto.editing()) {
            m.code_box->update_data();
            m.name_box->update_data();
        }
    } catch (...) {
        if (m.code_box->usable() && !m.code_box->focused()) m.code_box->set_focus();
        throw;
    }
}

// 7. Line numbering: the numbering copy takes the grid's whole content, pending changes
//    included; the next number is the largest plus one.
void TfrmAcertoFinal::NumeraLinha(GridMember& m) {
    if (m.insert_guard == GridMember::InsertGuard::SettlementLock)
        cdsQuebraBeforeEdit(*m.lines);
    else
        Vd_Retirada();
    m.numbering->set_data_from(*m.lines);
    long long largest = 0;
    if (!m.numbering->is_empty()) {
        platform::Field& nr = m.numbering->field(m.line_field);
        for (m.numbering->first(); !m.numbering->eof(); m.numbering->next()) {
            long long n = 0;
            platform::try_str_to_int(nr.as_string(), n);
            largest = std::max(largest, n);
        }
    }
    // Line numbers are four characters: a fifth digit would not fit the stored key.
    if (largest >= 9999) host::Consiste::MensErro(msgAcerto.Msg("LINHA_MAX"), true);
    *m.holder = Ajusta(std::to_string(largest + 1), 4);
}

void TfrmAcertoFinal::GravaNumeroLinha(GridMember& m) {
    m.lines->field(m.line_field).set_as_string(*m.holder);
    // A line added straight in the overtime grid creates the header it is saved with.
    if (&m == &Horas() && cdsAcerto.is_empty() && !cdsAcerto.editing()) cdsAcerto.insert();
}

// 8. The product check: a last-level product of the tree, its stored code, key, name and unit.
void TfrmAcertoFinal::Vd_Prod(GridMember& m, bool flag) {
    if (!m.source->dataset() || !m.source->dataset()->editing()) return;
    platform::Field& code = m.lines->field("CDARVPROD");
    try {
        if (EmptyString(code.as_string()) && flag) Falha("Prod_Inf");
        std::string remembered;
        if (m.unit_rule == GridMember::UnitRule::RememberedText) remembered = GridText(*m.grid, m.unit_field, false);
        if (!EmptyString(code.as_string())) {
            qryVd_Produto.close();
            qryVd_Produto.param_by_name("P_CDARVPROD").set_as_string(code.as_string());
            qryVd_Produto.param_by_name("P_CDNVPRODUTO")
                .set_as_string(std::to_string(host::Vantiro::DBPictObj(0).GetTtNiveis()));
            qryVd_Produto.open();
            if (qryVd_Produto.is_empty()) Falha("Prod_Nao_Cad");
            code.set_value(qryVd_Produto.field("CDARVPROD").value());
            m.lines->field("CDPRODUTO").set_value(qryVd_Produto.field("CDPRODUTO").value());
            m.lines->field("NMPRODUTO").set_value(qryVd_Produto.field("NMPRODUTO").value());
            if (m.copies_unit) m.lines->field("SGUNIDADE").set_value(qryVd_Produto.field("SGUNIDADE").value());
        }
        platform::Field& unit = m.lines->field(m.unit_field);
        switch (m.unit_rule) {
            case GridMember::UnitRule::WriteBack:
                unit.set_as_float(unit.as_float());  // an empty value becomes 0
                break;
            case GridMember::UnitRule::RememberedText:
                // The value the cell shows stays; an empty cell stays empty, so that the
                // unit-value check can name it.
                TakeCellText(unit, remembered);
                break;
            case GridMember::UnitRule::PriceBase: {
                qryPreco.close();
                qryPreco.param_by_name("P_CDPRECOBASE").set_as_string(m.code_box->text());
                qryPreco.param_by_name("P_CDARVPROD").set_as_string(code.as_string());
                qryPreco.param_by_name("P_DTINIVALIPB").set_as_date_time(host::Vantiro::Date());
                qryPreco.open();
                unit.set_as_float(qryPreco.is_empty() ? 0.0 : qryPreco.field("VRITEPREBASE").as_float());
                break;
            }
        }
    } catch (...) {
        pgcPadrao.set_active_page(m.tab);
        code.focus_control();
        throw;
    }
}

}  // namespace acerto::settlement
