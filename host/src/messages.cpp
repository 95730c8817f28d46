#include "acerto/host/messages.h"

#include "acerto/host/services.h"
#include "acerto/platform/text.h"

namespace acerto::host {

TMessages::TMessages(std::string name, std::vector<std::string> lines)
    : name_(std::move(name)), lines_(std::move(lines)) {}

void TMessages::add(std::string line) {
    lines_.push_back(std::move(line));
}

std::string TMessages::key_at(std::size_t i) const {
    const std::string& l = lines_.at(i);
    return l.substr(0, l.find('|'));
}

std::string TMessages::text_at(std::size_t i) const {
    const std::string& l = lines_.at(i);
    auto bar = l.find('|');
    return bar == std::string::npos ? std::string() : l.substr(bar + 1);
}

bool TMessages::contains(std::string_view key) const {
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (platform::iequals(key_at(i), key)) return true;
    return false;
}

std::string TMessages::Msg(std::string_view key) const {
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (platform::iequals(key_at(i), key)) return text_at(i);
    return std::string(key);
}

ModalResult TMessages::ShowMsg(std::string_view key, MsgType type, unsigned buttons, int) const {
    return ui().message(Msg(key), type, buttons);
}

}  // namespace acerto::host
