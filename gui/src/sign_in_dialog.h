#pragma once
// The operator's sign-in at start: code and password, checked by the application server; the
// server's refusal is shown in the dialog and the operator tries again or gives up.
#include <QDialog>

#include "acerto/host/services.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace acerto::gui {

class SignInDialog : public QDialog {
  public:
    // Signs in on `config`'s server; on success `config` holds the operator and the token.
    explicit SignInDialog(host::HostConfig& config, QWidget* parent = nullptr);

    QLineEdit* operator_box() const { return operator_; }
    QLineEdit* password_box() const { return password_; }
    QPushButton* sign_in_button() const { return enter_; }
    QLabel* message() const { return message_; }

    // Tries the typed code and password: true when signed in (the dialog is then accepted).
    bool try_sign_in();

  private:
    host::HostConfig& config_;
    QLineEdit* operator_;
    QLineEdit* password_;
    QPushButton* enter_;
    QLabel* message_;
};

}  // namespace acerto::gui
