#pragma once
// The settlement's financial titles: what the client owes or is owed, and the overtime payable,
// generated and cancelled in one write transaction each. Internal to the server.
#include "method_support.h"

namespace acerto::server {

// What a settlement is worth, each line valued as its grid values it: B breakage, L leftovers
// (negative when more came back than went out), H overtime, X extras. C = B + L + H + X in cents.
struct SettlementAmounts {
    double breakage = 0, leftovers = 0, overtime = 0, extras = 0;
    double owed = 0;  // C
};

// The stored lines of a budget's settlement valued and summed per grid; extras are
// `per_person` (extra persons × value per person) when given, else the extras lines.
SettlementAmounts value_settlement(Session& s, const std::string& branch, const std::string& number,
                                   std::optional<double> per_person);

// Gera_Financeiro(budget packet, situation, operator): the titles of the settlement of the
// budget the packet's first row names, all or nothing, and the situation moved on ("P" to "F",
// "E" to "T"). The situation argument is not trusted: the stored one decides. Answers the
// settlement header packet. Refusals (nothing written), in this order: the financial already
// updated (the plain catalogue text), the budget's company, the receivable's parameters, the
// client's supplier and the payable's parameters, the overtime's.
Variant gera_financeiro(const Call& c, const Args& args);

// Cancelar_Acerto(branch, number, sequence [, operator]): cancels the settlement's live titles,
// all or nothing, keeping them marked with the time and, when given, the operator; the
// situation goes back ("F" to "P", "T" to "E"). Refused when a live title is paid or its bank
// slip covers titles of other settlements (receivables first). Without live titles only the
// situation goes back. Answers the settlement header packet.
Variant cancelar_acerto(const Call& c, const Args& args);

}  // namespace acerto::server
