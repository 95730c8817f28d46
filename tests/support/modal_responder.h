#pragma once
// Every dialog a GUI test opens is answered: with the button the test queued for it, or, when
// nothing was queued, the dialog is closed at once and the test fails naming it. No test waits
// for a click that never comes. A test may instead hand the next dialog to a handler of its own
// (a print preview, a file dialog), which must close it.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>
#include <QTimer>

#include <deque>
#include <functional>
#include <string>

namespace acerto::test {

class ModalResponder : public QObject {
  public:
    // One per test program, made after the application object and installed on it.
    explicit ModalResponder(QApplication& app) {
        current() = this;
        app.installEventFilter(this);
    }
    ~ModalResponder() override { current() = nullptr; }
    static ModalResponder& instance() { return *current(); }

    using Handler = std::function<void(QDialog&)>;
    // The next dialog, whatever it is, goes to `h` (ahead of any queued answer). A dialog that
    // `h` opens goes to the handler after it.
    void handle_next(Handler h) { handlers_.push_back(std::move(h)); }
    // The next message box is answered with `button`.
    void answer_next_box(QMessageBox::StandardButton button) { queued_.push_back(button); }
    // The next dialog that is not a message box (a pick list, the find dialog) is expected: it is
    // closed without a choice, and the test goes on.
    void close_next_dialog() { ++dialogs_expected_; }
    // How many queued answers no box took; forgets them.
    std::size_t take_unused() {
        std::size_t n = queued_.size() + handlers_.size() + static_cast<std::size_t>(dialogs_expected_);
        queued_.clear();
        handlers_.clear();
        dialogs_expected_ = 0;
        return n;
    }
    const std::deque<std::string>& seen() const { return seen_; }
    // The captions of each box's buttons, as the operator read them ("&Sim|&Não").
    const std::deque<std::string>& seen_buttons() const { return seen_buttons_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            if (auto* dialog = qobject_cast<QDialog*>(watched))
                // Answered once its own event loop runs, as an operator's click would be.
                QTimer::singleShot(0, dialog, [this, dialog] { respond(dialog); });
        return false;
    }

  private:
    static ModalResponder*& current() {
        static ModalResponder* r = nullptr;
        return r;
    }

    void respond(QDialog* dialog) {
        if (!dialog->isVisible()) return;
        auto* box = qobject_cast<QMessageBox*>(dialog);
        std::string text = (dialog->windowTitle() + ": " + (box ? box->text() : QString())).toStdString();
        seen_.push_back(text);
        if (box) {
            std::string captions;
            for (QAbstractButton* b : box->buttons())
                captions += (captions.empty() ? "" : "|") + b->text().toStdString();
            seen_buttons_.push_back(captions);
        }
        if (!handlers_.empty()) {
            // Taken before it runs: a dialog it opens gets the next handler.
            Handler h = std::move(handlers_.front());
            handlers_.pop_front();
            h(*dialog);
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the handler left \"" << text << "\" open";
                dialog->reject();
            }
            return;
        }
        if (!box && dialogs_expected_ > 0) {
            --dialogs_expected_;
            dialog->reject();
            return;
        }
        if (box && !queued_.empty()) {
            QMessageBox::StandardButton button = queued_.front();
            queued_.pop_front();
            if (QAbstractButton* b = box->button(button)) {
                b->click();
                return;
            }
            ADD_FAILURE() << "the box \"" << text << "\" has no button " << button;
        } else {
            ADD_FAILURE() << "a dialog opened with no answer queued: \"" << text << "\"";
        }
        dialog->reject();
    }

    std::deque<Handler> handlers_;
    std::deque<QMessageBox::StandardButton> queued_;
    std::deque<std::string> seen_;
    std::deque<std::string> seen_buttons_;
    int dialogs_expected_ = 0;
};

}  // namespace acerto::test
