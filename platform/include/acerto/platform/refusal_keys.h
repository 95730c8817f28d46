#pragma once
// The refusals the application server words for the screen to translate: catalogue keys of the
// screen's "N_PARAM_" entries, sent as the key alone or as "KEY|argument" when the catalogue's
// text has a "%s". Both ends include this header, so a key is spelled in one place.
#include <string>
#include <string_view>

namespace acerto::refusal {

// What marks a refusal the screen translates through its catalogue.
inline constexpr std::string_view kPrefix = "N_PARAM_";
// Between a key and its one argument.
inline constexpr char kArgumentSeparator = '|';

// Import of returns.
inline constexpr std::string_view kPriceBaseReplacement = "N_PARAM_PRECOMAT";

// Update financial: the budget's company.
inline constexpr std::string_view kCompanyNotRecorded = "N_PARAM_CDEMPRESAORCA";
inline constexpr std::string_view kCompanyNotOfBranch = "N_PARAM_EMPRESARELAC";
inline constexpr std::string_view kNoStateRegistration = "N_PARAM_NRINSCESTA";
// Update financial: a receivable.
inline constexpr std::string_view kNoOperationType = "N_PARAM_TIPOOPER";
inline constexpr std::string_view kNoReceivableType = "N_PARAM_TPCTREC";  // |operation type
inline constexpr std::string_view kNoSeries = "N_PARAM_SERIE";            // |branch
inline constexpr std::string_view kNoLeftoverAdjustment = "N_PARAM_AJCTRECSOB";
// Update financial: a payable (to the client, or for overtime).
inline constexpr std::string_view kClientWithoutSupplier = "N_PARAM_FORN_N_CLIE";
inline constexpr std::string_view kNoOvertimeSupplier = "N_PARAM_CDFORNPADORC";
inline constexpr std::string_view kNoEntryOperationType = "N_PARAM_TIPOOPERPAG";
inline constexpr std::string_view kNoPayableType = "N_PARAM_TPCTPAG";  // |entry operation type
inline constexpr std::string_view kNoEntrySeries = "N_PARAM_SERIEENTR";

// Cancel financial.
inline constexpr std::string_view kReceivablePaid = "N_PARAM_CONTARECBAIXADA";
inline constexpr std::string_view kReceivableSlipShared = "N_PARAM_BOLREC_N_CONTAS";
inline constexpr std::string_view kPayablePaid = "N_PARAM_CONTABAIXADA";
inline constexpr std::string_view kPayableSlipShared = "N_PARAM_BOL_N_CONTAS";

// Refusals that travel as the catalogue's plain text (no "N_PARAM_"), keyed here by the
// catalogue key whose text they are.
inline constexpr std::string_view kFinancialAlreadyUpdatedKey = "FINANC_JA_CAD";
inline constexpr std::string_view kFinancialAlreadyUpdatedText = "Operação bloqueada. Financeiro já foi atualizado.";
// Stock withdrawal: one already recorded (also a change to withdrawn extras lines), none to cancel.
inline constexpr std::string_view kWithdrawalExistsKey = "EXISTE_RETIRADA";
inline constexpr std::string_view kWithdrawalExistsText =
    "Já existe retirada para o orçamento informado. Operação Bloqueada.";
inline constexpr std::string_view kNoWithdrawalKey = "SEM_RETIRADA";
inline constexpr std::string_view kNoWithdrawalText =
    "Não existe retirada para o orçamento informado. Operação bloqueada.";

// "KEY|argument", as the screen's translation reads it back.
inline std::string with_argument(std::string_view key, std::string_view argument) {
    std::string out(key);
    out += kArgumentSeparator;
    out += argument;
    return out;
}

// True when a server's text names a catalogue key to translate.
inline bool is_catalogue_refusal(std::string_view text) {
    return text.find(kPrefix) != std::string_view::npos;
}

}  // namespace acerto::refusal
