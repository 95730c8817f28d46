#include "sign_in_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "acerto/host/sign_in.h"

namespace acerto::gui {

SignInDialog::SignInDialog(host::HostConfig& config, QWidget* parent) : QDialog(parent), config_(config) {
    setWindowTitle(QStringLiteral("Entrada do operador"));
    auto* layout = new QVBoxLayout(this);
    auto* where =
        new QLabel(QStringLiteral("Servidor de aplicação: %1").arg(QString::fromStdString(config.server_address())));
    layout->addWidget(where);
    auto* form = new QFormLayout;
    operator_ = new QLineEdit(QString::fromStdString(config.operator_code == "OPERADOR" ? "" : config.operator_code));
    operator_->setMaxLength(12);
    password_ = new QLineEdit;
    password_->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("&Operador:"), operator_);
    form->addRow(QStringLiteral("&Senha:"), password_);
    layout->addLayout(form);
    message_ = new QLabel;
    message_->setWordWrap(true);
    message_->setStyleSheet(QStringLiteral("color: #a00000;"));
    layout->addWidget(message_);
    auto* buttons = new QDialogButtonBox;
    enter_ = buttons->addButton(QStringLiteral("&Entrar"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("&Cancelar"), QDialogButtonBox::RejectRole);
    enter_->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { try_sign_in(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    (operator_->text().isEmpty() ? operator_ : password_)->setFocus();
    setMinimumWidth(360);
}

bool SignInDialog::try_sign_in() {
    const std::string code = operator_->text().trimmed().toStdString();
    if (code.empty()) {
        message_->setText(QStringLiteral("Informe o operador."));
        operator_->setFocus();
        return false;
    }
    try {
        host::sign_in(config_, code, password_->text().toStdString());
    } catch (const std::exception& e) {
        message_->setText(QString::fromStdString(e.what()));
        password_->clear();
        password_->setFocus();
        return false;
    }
    accept();
    return true;
}

}  // namespace acerto::gui
