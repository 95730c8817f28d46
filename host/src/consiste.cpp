#include "acerto/host/consiste.h"

#include "acerto/host/errors.h"
#include "acerto/platform/format.h"
#include "acerto/platform/text.h"

namespace acerto::host::Consiste {

void MensErro(const std::string& text, bool) {
    throw OperatorError(text);
}

bool EmptyString(std::string_view text) {
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    return true;
}

std::string Ajusta(std::string_view text, int width) {
    std::string t = platform::trim(text);
    if (t.empty()) return t;
    std::size_t len = platform::utf8_length(t);
    if (len >= static_cast<std::size_t>(width)) return t;
    return std::string(static_cast<std::size_t>(width) - len, '0') + t;
}

double RoundDec(double value, int decimals) {
    return platform::round_decimal(value, decimals);
}

std::string GridText(platform::DBGrid& grid, std::string_view field_name, bool) {
    return grid.column_text(field_name);
}

platform::Variant CheckResultServ(const ServerReply& reply, bool raise, int) {
    if (!reply.ok && raise) throw ServerError(reply.error);
    return reply.payload;
}

void SetChildEnabled(platform::Control& container, bool enabled) {
    for (platform::Control* c : container.children()) c->set_enabled(enabled && !c->display_only);
}

}  // namespace acerto::host::Consiste
