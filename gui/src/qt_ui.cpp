#include "qt_ui.h"

#include "acerto/host/report.h"
#include "pick_list_model.h"
#include "report_render.h"
#include "texts.h"

#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace acerto::gui {

namespace {
QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// A dataset's visible fields as a read-only list (pick lists and the product-list screen); the
// cells are read as they are drawn, so a list of any length opens at once.
QTableView* list_of(platform::DataSet& ds, QWidget* parent) {
    auto* t = new QTableView(parent);
    t->setModel(new PickListModel(ds, t));
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->verticalHeader()->setVisible(false);
    t->horizontalHeader()->setStretchLastSection(true);
    t->resizeColumnsToContents();
    if (t->model()->rowCount() > 0) t->selectRow(0);
    return t;
}

// The keys of a pick list: the arrows and page keys typed in the find box move through the
// list, and Enter in the list picks, as it does in the find box.
class PickKeys : public QObject {
  public:
    PickKeys(QLineEdit& find, QTableView& list, QDialog& dialog) : QObject(&dialog), list_(list), dialog_(dialog) {
        find.installEventFilter(this);
        list.installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (watched == &list_) {
            if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
            dialog_.accept();
            return true;
        }
        if (key != Qt::Key_Up && key != Qt::Key_Down && key != Qt::Key_PageUp && key != Qt::Key_PageDown) return false;
        QCoreApplication::sendEvent(&list_, event);
        return true;
    }

  private:
    QTableView& list_;
    QDialog& dialog_;
};
}  // namespace

namespace {
// A message box whose every button is worded in Portuguese, whatever translation Qt has.
QMessageBox::StandardButton ask(QWidget* parent, QMessageBox::Icon icon, const char* title, const QString& text,
                                QMessageBox::StandardButtons buttons, QMessageBox::StandardButton default_button) {
    QMessageBox box(icon, title, text, buttons, parent);
    static const std::pair<QMessageBox::StandardButton, const char*> words[] = {{QMessageBox::Yes, texts::Sim},
                                                                                {QMessageBox::No, texts::Nao},
                                                                                {QMessageBox::Ok, texts::Ok},
                                                                                {QMessageBox::Cancel, texts::Cancelar}};
    for (const auto& [button, word] : words)
        if (QAbstractButton* b = box.button(button)) b->setText(word);
    if (default_button != QMessageBox::NoButton) box.setDefaultButton(default_button);
    box.exec();
    return box.standardButton(box.clickedButton());
}
}  // namespace

void QtUi::show_error(const std::string& text) {
    ask(parent_, QMessageBox::Critical, texts::Erro, qs(text), QMessageBox::Ok, QMessageBox::Ok);
}

host::ModalResult QtUi::message(const std::string& text, host::MsgType type, unsigned buttons) {
    if (unattended) return (buttons & host::mbNo) ? host::ModalResult::No : host::ModalResult::OK;
    if (buttons & (host::mbYes | host::mbNo)) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        auto answer = ask(parent_, QMessageBox::Question, texts::Confirmacao, qs(text),
                          QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        QApplication::restoreOverrideCursor();
        return answer == QMessageBox::Yes ? host::ModalResult::Yes : host::ModalResult::No;
    }
    if (type == host::MsgType::Error || type == host::MsgType::Warning)
        ask(parent_, QMessageBox::Warning, texts::Aviso, qs(text), QMessageBox::Ok, QMessageBox::Ok);
    else
        ask(parent_, QMessageBox::Information, texts::Informacao, qs(text), QMessageBox::Ok, QMessageBox::Ok);
    return host::ModalResult::OK;
}

// A pick list: typing narrows to the rows that contain the text; Enter or a double click picks,
// Escape cancels.
std::optional<int> QtUi::pick_list(platform::DataSet& list, const std::string& title) {
    if (unattended) return std::nullopt;
    QDialog d(parent_);
    d.setWindowTitle(qs(title));
    auto* layout = new QVBoxLayout(&d);
    auto* find = new QLineEdit(&d);
    find->setPlaceholderText(texts::DigiteParaProcurar);
    auto* table = list_of(list, &d);
    auto* model = static_cast<PickListModel*>(table->model());
    layout->addWidget(find);
    layout->addWidget(table);
    d.resize(520, 380);
    new PickKeys(*find, *table, d);
    QObject::connect(find, &QLineEdit::textChanged, &d, [table, model](const QString& text) {
        model->set_filter(text);
        if (model->rowCount() > 0) table->selectRow(0);
    });
    QObject::connect(find, &QLineEdit::returnPressed, &d, &QDialog::accept);
    QObject::connect(table, &QTableView::doubleClicked, &d, &QDialog::accept);
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    int result = d.exec();
    QApplication::restoreOverrideCursor();
    if (result != QDialog::Accepted || !table->currentIndex().isValid()) return std::nullopt;
    int record = model->record_of(table->currentIndex().row());
    if (record < 0) return std::nullopt;
    return record;
}

void QtUi::find_dialog(platform::DataSet& ds) {
    QInputDialog d(parent_);
    d.setWindowTitle(texts::Procurar);
    d.setLabelText(texts::ProcurarPor);
    d.setOkButtonText(texts::Ok);
    d.setCancelButtonText(texts::Cancelar);
    if (d.exec() != QDialog::Accepted) return;
    QString text = d.textValue();
    if (text.isEmpty()) return;
    for (int r = 0; r < ds.record_count(); ++r) {
        ds.set_display_record(r);
        bool match = false;
        for (const auto& f : ds.fields())
            if (f->visible && qs(f->display_text()).contains(text, Qt::CaseInsensitive)) match = true;
        ds.set_display_record(-1);
        if (match) {
            ds.move_to(r + 1);
            return;
        }
    }
    ask(parent_, QMessageBox::Information, texts::Procurar, texts::NadaEncontrado, QMessageBox::Ok, QMessageBox::Ok);
}

void QtUi::busy(bool on) {
    if (on) {
        ++busy_;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busy_ > 0) {
        --busy_;
        QApplication::restoreOverrideCursor();
    }
}

void QtUi::set_cursor(host::Cursor c) {
    if (c == host::Cursor::HourGlass)
        busy(true);
    else
        busy(false);
}

// The suite's product-list screen "QLM00610": the list and its text.
void QtUi::open_screen(const std::string& code, const platform::Variant::Array& params) {
    QDialog d(parent_);
    d.setWindowTitle(qs(code));
    auto* layout = new QVBoxLayout(&d);
    if (code == "QLM00610" && params.size() >= 2) {
        auto* label = new QLabel(qs(params[1].as_string()), &d);
        label->setWordWrap(true);
        layout->addWidget(label);
        if (platform::DataSet* ds = host::dataset_from_handle(params[0])) layout->addWidget(list_of(*ds, &d));
    } else {
        layout->addWidget(new QLabel(QString(texts::TelaIndisponivel).arg(qs(code)), &d));
    }
    d.resize(520, 320);
    d.exec();
}

// A report screen: its codes, Print and Close; an error of the report is shown, the screen stays.
void QtUi::show_modal(platform::Form& form) {
    if (unattended) return;
    QDialog d(parent_);
    d.setWindowTitle(qs(form.caption));
    auto* layout = new QVBoxLayout(&d);
    for (const char* name : {"lblCodTela", "lblCodRel"})
        if (platform::Control* c = form.find(name)) layout->addWidget(new QLabel(qs(c->text()), &d));
    auto* print = new QPushButton("Imprimir", &d);
    auto* close = new QPushButton("Fechar", &d);
    layout->addWidget(print);
    layout->addWidget(close);
    QObject::connect(print, &QPushButton::clicked, &d, [&] {
        try {
            if (platform::Control* c = form.find("sbtImprimir")) c->click();
        } catch (const std::exception& e) {
            show_error(e.what());
        }
    });
    QObject::connect(close, &QPushButton::clicked, &d, &QDialog::accept);
    d.resize(320, 160);
    d.exec();
}

std::vector<std::string> QtUi::report_parameters(const std::string& report) {
    return host::report::declared_parameters(report);
}

// The report laid out headless, then shown in the print preview (print, PDF, CSV from there).
void QtUi::run_report(const std::string& report, platform::Params& params) {
    host::report::Produced r;
    {
        busy(true);
        struct Done {
            QtUi& ui;
            ~Done() { ui.busy(false); }
        } done{*this};
        r = host::report::produce(report, params);
    }
    last_report = host::report::text_of(r.document);
    if (!unattended) preview_report(parent_, r);
}

}  // namespace acerto::gui
