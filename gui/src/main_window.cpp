#include "main_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QTextBrowser>
#include <algorithm>

#include "acerto/host/services.h"
#include "look.h"
#include "texts.h"

// The guide's resource lives in a static library: registered by hand, or the linker drops it.
// Outside any namespace, as the resource's own symbol is.
static void init_guide_resource() {
    Q_INIT_RESOURCE(operator_guide);
}

namespace acerto::gui {

namespace {
// The least room the screen needs for its fixed-position boxes and a few grid lines; below it
// the screen scrolls instead of hiding controls.
constexpr int kMinScreenWidth = 740, kMinScreenHeight = 420;

// The sub-window that holds a screen: closing it asks the screen to close; the screen's own
// closing (its Fechar, its menu) closes it too, through MainWindow::screen_closed.
class ScreenWindow : public QMdiSubWindow {
  public:
    explicit ScreenWindow(FormView* view) : view_(view) {
        // Ctrl+F4 is the screen's own menu entry "Fechar"; the sub-window's copy would make the
        // key ambiguous, and then nothing would close.
        if (QMenu* menu = systemMenu())
            for (QAction* a : menu->actions())
                if (a->shortcuts().contains(QKeySequence("Ctrl+F4"))) a->setShortcuts({});
    }

  protected:
    void closeEvent(QCloseEvent* e) override {
        platform::Form& form = view_->form();
        if (form.shown()) {
            platform::CloseAction action = platform::CloseAction::Free;
            view_->guard([&] { action = form.close(); });
            if (action == platform::CloseAction::None || form.shown()) {
                e->ignore();
                return;
            }
        }
        QMdiSubWindow::closeEvent(e);
    }

  private:
    FormView* view_;
};

QString tr_arg(const char* text, const QString& a) {
    return QString(text).arg(a);
}
}  // namespace

MainWindow::MainWindow(host::ScreenModule& module, QtUi& ui) : module_(module), ui_(ui), mdi_(new QMdiArea(this)) {
    setWindowTitle(texts::TituloPrincipal);
    setCentralWidget(mdi_);
    // A window made smaller than its screen scrolls to what it hides.
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ui_.set_parent(this);
    const auto& cfg = host::services().config;
    statusBar()->addWidget(new QLabel(tr_arg(texts::Operador, QString::fromStdString(cfg.operator_code))));
    statusBar()->addWidget(new QLabel(tr_arg(texts::Filial, QString::fromStdString(cfg.branch))));
    statusBar()->addWidget(new QLabel(QString(texts::Servidor).arg(QString::fromStdString(cfg.server_address()))));
    QMenu* sistema = menuBar()->addMenu(texts::Sistema);
    QAction* acerto = sistema->addAction(texts::AcertoFinal);
    acerto->setShortcut(QKeySequence("Ctrl+Shift+A"));
    connect(acerto, &QAction::triggered, this, [this] { open_acerto_final(); });
    sistema->addSeparator();
    connect(sistema->addAction(texts::Sair), &QAction::triggered, this, &QWidget::close);
    fit_to_screen();
}

MainWindow::~MainWindow() {
    // The views go now, while the screens they draw still exist.
    delete sub_;
    sub_ = nullptr;
    view_ = nullptr;
    drop_closed_windows();
}

// 1024 x 720 where there is room; on a smaller display the whole of what is available.
void MainWindow::fit_to_screen() {
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s) {
        resize(1024, 720);
        return;
    }
    QRect avail = s->availableGeometry();
    const QSize wanted(1024, 720), frame(16, 40);  // room for a window manager's frame
    if (avail.width() < wanted.width() + frame.width() || avail.height() < wanted.height() + frame.height()) {
        resize(avail.size() - frame);
        move(avail.topLeft());
        setWindowState(windowState() | Qt::WindowMaximized);
    } else {
        resize(wanted);
        move(avail.center() - QPoint(wanted.width() / 2, wanted.height() / 2));
    }
}

void MainWindow::drop_closed_windows() {
    for (auto& w : closed_) delete w.data();
    closed_.clear();
}

void MainWindow::screen_closed() {
    if (!sub_) return;
    QMdiSubWindow* sub = sub_;
    sub_ = nullptr;
    view_ = nullptr;
    closed_.emplace_back(sub);
    sub->close();  // inside its own close this returns at once; it is deleted either way
    sub->deleteLater();
}

void MainWindow::open_acerto_final() {
    // A closed screen is released by the module's next creation: its window goes first.
    drop_closed_windows();
    try {
        module_.CriaAcertoFinal();
    } catch (const std::exception& e) {
        QMessageBox::critical(this, "Acerto Final", QString::fromStdString(e.what()));
        return;
    }
    platform::Form* form = module_.screen();
    if (!form) return;
    if (!view_ || &view_->form() != form) {
        delete sub_;  // a view of another screen never stays
        view_ = new FormView(*form);
        view_->setMinimumSize(kMinScreenWidth, kMinScreenHeight);
        view_->on_form_closed = [this] { screen_closed(); };
        view_->on_help = [this] { open_help(); };
        auto* scroll = new QScrollArea();
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setFocusPolicy(Qt::NoFocus);
        scroll->setWidget(view_);
        auto* sub = new ScreenWindow(view_);
        sub->setWidget(scroll);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->setWindowTitle(QString::fromStdString(form->caption));
        mdi_->addSubWindow(sub);
        sub_ = sub;
        view_->fill_menu_bar(*menuBar());
    }
    if (form->window_state() == platform::WindowState::Maximized)
        sub_->showMaximized();
    else
        sub_->showNormal();
    // The screen's own size where the area has room; never more than the area.
    QSize room = mdi_->viewport()->size();
    QSize frame = sub_->size() - sub_->widget()->size();
    if (frame.width() <= 0 || frame.height() <= 0) frame = QSize(12, 36);
    QSize want(form->width() + frame.width(), form->height() + frame.height());
    if (form->window_state() != platform::WindowState::Maximized) {
        sub_->resize(want.boundedTo(room.expandedTo(QSize(200, 200))));
        if (!QRect(QPoint(0, 0), room).contains(sub_->geometry())) sub_->move(0, 0);
    }
    mdi_->setActiveSubWindow(sub_);
    view_->sync_focus();
}

void MainWindow::open_help() {
    if (help_) {
        mdi_->setActiveSubWindow(help_);
        return;
    }
    init_guide_resource();
    auto* text = new QTextBrowser();
    QFile guide(":/docs/guia-do-operador.md");
    if (guide.open(QIODevice::ReadOnly))
        text->setMarkdown(QString::fromUtf8(guide.readAll()));
    else
        text->setPlainText(texts::AjudaAusente);
    auto* sub = new QMdiSubWindow();
    sub->setWidget(text);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowTitle(texts::Ajuda);
    sub->setObjectName("ajuda");
    mdi_->addSubWindow(sub);
    QSize room = mdi_->viewport()->size();
    sub->resize(QSize(640, 560).boundedTo(room));
    sub->move(std::max(0, room.width() - sub->width()), 0);  // beside the screen, whole
    sub->show();
    mdi_->setActiveSubWindow(sub);
    help_ = sub;
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (sub_) sub_->close();
    if (sub_) {  // the screen refused to close
        e->ignore();
        return;
    }
    if (help_) help_->close();
    e->accept();
}

}  // namespace acerto::gui
