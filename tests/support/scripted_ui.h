#pragma once
// An operator interface for tests: questions and pick lists are answered from queues, and
// everything shown is recorded.
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "acerto/host/ui.h"

namespace acerto::test {

class ScriptedUi : public host::OperatorUi {
  public:
    std::deque<host::ModalResult> answers;
    std::deque<std::optional<int>> picks;
    std::vector<std::string> errors, messages, titles, screens;
    int busy_depth = 0, busy_calls = 0;
    host::Cursor cursor = host::Cursor::Default;

    void show_error(const std::string& text) override { errors.push_back(text); }
    host::ModalResult message(const std::string& text, host::MsgType, unsigned) override {
        messages.push_back(text);
        if (answers.empty()) return host::ModalResult::OK;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<int> pick_list(platform::DataSet&, const std::string& title) override {
        titles.push_back(title);
        if (picks.empty()) return std::nullopt;
        auto p = picks.front();
        picks.pop_front();
        return p;
    }
    void find_dialog(platform::DataSet&) override {}
    void busy(bool on) override {
        busy_depth += on ? 1 : -1;
        ++busy_calls;
    }
    void set_cursor(host::Cursor c) override { cursor = c; }
    void open_screen(const std::string& code, const platform::Variant::Array&) override { screens.push_back(code); }
    void show_modal(platform::Form& f) override { screens.push_back(f.name()); }
    std::vector<std::string> report_parameters(const std::string&) override { return {}; }
    void run_report(const std::string&, platform::Params&) override {}
};

}  // namespace acerto::test
