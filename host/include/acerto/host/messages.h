#pragma once
// TMessages: a screen's message catalogue, lines of "key|text". Keys are unique regardless of
// letter case; a key that is not in the catalogue reads as the key itself, so the operator
// sees something to report rather than an empty box.
#include <string>
#include <string_view>
#include <vector>

#include "acerto/host/ui.h"

namespace acerto::host {

class TMessages {
  public:
    explicit TMessages(std::string name, std::vector<std::string> lines = {});
    const std::string& name() const { return name_; }

    void add(std::string line);
    const std::vector<std::string>& lines() const { return lines_; }
    std::size_t size() const { return lines_.size(); }
    std::string key_at(std::size_t i) const;
    std::string text_at(std::size_t i) const;
    bool contains(std::string_view key) const;

    // The text of the entry whose key matches, ignoring letter case; the key when none does.
    std::string Msg(std::string_view key) const;
    // Shows the key's text as a dialog with the given buttons; returns the button pressed.
    ModalResult ShowMsg(std::string_view key, MsgType type, unsigned buttons, int help = 0) const;

  private:
    std::string name_;
    std::vector<std::string> lines_;
};

}  // namespace acerto::host
