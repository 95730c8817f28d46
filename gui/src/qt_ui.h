#pragma once
// The operator interface of the desktop host: Qt dialogs in Portuguese.
#include <QWidget>

#include "acerto/host/ui.h"

namespace acerto::gui {

class QtUi : public host::OperatorUi {
  public:
    explicit QtUi(QWidget* parent = nullptr) : parent_(parent) {}
    void set_parent(QWidget* p) { parent_ = p; }

    void show_error(const std::string& text) override;
    host::ModalResult message(const std::string& text, host::MsgType type, unsigned buttons) override;
    std::optional<int> pick_list(platform::DataSet& list, const std::string& title) override;
    void find_dialog(platform::DataSet& dataset) override;
    void busy(bool on) override;
    void set_cursor(host::Cursor c) override;
    void open_screen(const std::string& code, const platform::Variant::Array& params) override;
    void show_modal(platform::Form& form) override;
    std::vector<std::string> report_parameters(const std::string& report) override;
    void run_report(const std::string& report, platform::Params& params) override;

    int busy_depth() const { return busy_; }
    // Unattended (pictures for the documentation): questions are answered No, nothing waits.
    bool unattended = false;
    // The text of the last report produced (what the preview showed).
    std::string last_report;

  private:
    QWidget* parent_;
    int busy_ = 0;
};

}  // namespace acerto::gui
