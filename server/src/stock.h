#pragma once
// The stock withdrawal of a settlement's extra products, and its cancellation. Internal to the
// server; the methods are registered in the module's method table.
#include <string>

#include "method_support.h"

namespace acerto::server {

// The screen's texts for a settlement with and without a recorded withdrawal.
extern const std::string kWithdrawalExists;
extern const std::string kNoWithdrawal;

// RetiraProdExtra(extras packet, branch, operator, processing branch) → [short of stock,
// without storeroom, "S"/"N" withdrawal type set, inactive, extras packet or Null].
Variant retira_prod_extra(const Call& c, const Args& args);

// DeletaReti(branch, number, sequence[, operator]) → the extras packet.
Variant deleta_reti(const Call& c, const Args& args);

// Inside a write that changes the settlement's extras lines: refuses it with
// kWithdrawalExists while a withdrawal is recorded. On PostgreSQL it first takes a shared lock
// of the settlement's header, so it waits for a withdrawal of that settlement in progress.
void refuse_extras_change_while_withdrawn(Session& s, const std::string& branch, const std::string& number);

}  // namespace acerto::server
