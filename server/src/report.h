#pragma once
// The read-only report method. Internal to the server.
#include "method_support.h"

namespace acerto::server {

// GetRelatorio(query, name, value, ...): the rows of one of the server's report queries, its
// declared parameters bound from the values given (a declared parameter not given reads as an
// empty text). Refused: an unknown query, a parameter it does not declare or given twice, a
// value that is not a text. Answers [[dataset name, packet], ...].
Variant get_relatorio(const Call& c, const Args& args);

}  // namespace acerto::server
