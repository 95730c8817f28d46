#include "main_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>

#include "acerto/host/services.h"

namespace acerto::gui {

namespace {
// The sub-window that holds a screen: closing it asks the screen to close.
class ScreenWindow : public QMdiSubWindow {
  public:
    explicit ScreenWindow(FormView* view) : view_(view) {}

  protected:
    void closeEvent(QCloseEvent* e) override {
        platform::CloseAction action = platform::CloseAction::Free;
        view_->guard([&] { action = view_->form().close(); });
        if (action == platform::CloseAction::None)
            e->ignore();
        else
            e->accept();
    }

  private:
    FormView* view_;
};
}  // namespace

MainWindow::MainWindow(host::ScreenModule& module, QtUi& ui) : module_(module), ui_(ui), mdi_(new QMdiArea(this)) {
    setWindowTitle("Sistema de Eventos");
    setCentralWidget(mdi_);
    resize(1024, 720);
    ui_.set_parent(this);
    const auto& cfg = host::services().config;
    statusBar()->addWidget(new QLabel(QString("Operador: %1").arg(QString::fromStdString(cfg.operator_code))));
    statusBar()->addWidget(new QLabel(QString("Filial: %1").arg(QString::fromStdString(cfg.branch))));
    statusBar()->addWidget(
        new QLabel(QString("Servidor: %1:%2").arg(QString::fromStdString(cfg.server_host)).arg(cfg.server_port)));
    rebuild_menus();
}

MainWindow::~MainWindow() {
    if (sub_) disconnect(sub_, nullptr, this, nullptr);
}

void MainWindow::rebuild_menus() {
    menuBar()->clear();
    QMenu* sistema = menuBar()->addMenu("&Sistema");
    QAction* acerto = sistema->addAction("Acerto Final");
    acerto->setShortcut(QKeySequence("Ctrl+Shift+A"));
    connect(acerto, &QAction::triggered, this, [this] { open_acerto_final(); });
    sistema->addSeparator();
    connect(sistema->addAction("Sair"), &QAction::triggered, this, &QWidget::close);
    if (view_) view_->fill_menu_bar(*menuBar());
}

void MainWindow::open_acerto_final() {
    try {
        module_.CriaAcertoFinal();
    } catch (const std::exception& e) {
        QMessageBox::critical(this, "Acerto Final", QString::fromStdString(e.what()));
        return;
    }
    platform::Form* form = module_.screen();
    if (!form) return;
    if (!view_ || &view_->form() != form) {
        view_ = new FormView(*form);
        auto* sub = new ScreenWindow(view_);
        sub->setWidget(view_);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->setWindowTitle(QString::fromStdString(form->caption));
        mdi_->addSubWindow(sub);
        sub_ = sub;
        connect(sub, &QObject::destroyed, this, [this] {
            view_ = nullptr;
            sub_ = nullptr;
            rebuild_menus();
        });
        rebuild_menus();
    }
    if (form->window_state() == platform::WindowState::Maximized)
        sub_->showMaximized();
    else
        sub_->showNormal();
    sub_->resize(form->width() + 12, form->height() + 36);
    mdi_->setActiveSubWindow(sub_);
    view_->sync_focus();
}

void MainWindow::closeEvent(QCloseEvent* e) {
    mdi_->closeAllSubWindows();
    e->accept();
}

}  // namespace acerto::gui
