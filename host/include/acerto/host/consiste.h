#pragma once
// Consiste: the host framework's checking and text routines.
#include <string>
#include <string_view>

#include "acerto/host/net_connection.h"
#include "acerto/platform/controls.h"

namespace acerto::host::Consiste {

// Aborts the operation in progress with the text; the host shows it as an error.
[[noreturn]] void MensErro(const std::string& text, bool abort = true);
// True for an empty or all-blank text.
bool EmptyString(std::string_view text);
// The text (blanks around it removed) left-padded with "0" to `width` characters: "1" becomes
// "0001", so a number reads back as the same number. An empty text stays empty; a longer text
// is left as it is.
std::string Ajusta(std::string_view text, int width);
// Rounds half away from zero on the value's decimal form (8.126 -> 8.13).
double RoundDec(double value, int decimals);
// The text a grid column holds for the current row, also while it is being typed. `typed`
// is kept for the callers' sake: both forms read the editor's text when the column is typed.
std::string GridText(platform::DBGrid& grid, std::string_view field_name, bool typed);
// The payload of a server reply; a refusal becomes a ServerError carrying the server's text.
platform::Variant CheckResultServ(const ServerReply& reply, bool raise = true, int kind = 0);
// Enables or disables the direct children of a container (a display-only box stays disabled).
void SetChildEnabled(platform::Control& container, bool enabled);

}  // namespace acerto::host::Consiste
