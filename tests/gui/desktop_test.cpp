// The desktop window as an operator drives it: a real X display (Xvfb) with a window manager,
// keys and clicks sent by xdotool through the X server, the real module and a real server
// process. Run by desktop_test.sh, which starts the display and the window manager.
#include <gtest/gtest.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTableView>
#include <QThread>
#include <QToolButton>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "acerto/host/module_loader.h"
#include "acerto/host/services.h"
#include "acerto/platform/client_dataset.h"
#include "look.h"
#include "main_window.h"
#include "modal_responder.h"
#include "qt_ui.h"
#include "test_host.h"

using namespace acerto;

namespace {

// Lets the window take in what the X server delivered, and what it deferred.
void pump(int ms = 20) {
    QElapsedTimer t;
    t.start();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2);
    } while (t.elapsed() < ms);
}

bool wait_until(const std::function<bool()>& done, int ms = 8000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        pump(10);
    }
    return true;
}

// One xdotool command, as the operator's keyboard or mouse.
void xdo(const std::string& args) {
    const int rc = std::system(("xdotool " + args + " >/dev/null 2>&1").c_str());
    ASSERT_EQ(rc, 0) << "xdotool " << args;
}

void click_at(QWidget* w, QPoint local) {
    QPoint p = w->mapToGlobal(local);
    xdo("mousemove --sync " + std::to_string(p.x()) + " " + std::to_string(p.y()) + " click 1");
}

class Desktop : public ::testing::Test {
  protected:
    void SetUp() override {
        env = std::make_unique<test::TestHost>(ACERTO_SCENARIO_FIXTURES "/buffet.json", ui);
        module.load(ACERTO_MODULE_PATH);
        module.Initialize();
        start_window();
    }
    void TearDown() override {
        EXPECT_EQ(test::ModalResponder::instance().take_unused(), 0u);
        window.reset();
        module.Finalize();
        env.reset();
    }
    void start_window() {
        window = std::make_unique<gui::MainWindow>(module, ui);
        window->show();
        ASSERT_TRUE(wait_until([&] { return window->isActiveWindow(); })) << "the window manager gave no focus";
    }
    gui::FormView* view() const { return window->view(); }
    template <class T>
    T* widget(const char* name) {
        return view() ? dynamic_cast<T*>(view()->widget_for(&view()->form().get(name))) : nullptr;
    }
    int screens_on_show() const {
        int n = 0;
        for (QMdiSubWindow* s : window->area().subWindowList())
            if (s->isVisible()) ++n;
        return n;
    }
    // Opens the screen by its shortcut and waits for a fresh one to take the keys.
    void open_by_keyboard() {
        xdo("key --clearmodifiers ctrl+shift+a");
        ASSERT_TRUE(wait_until([&] {
            auto* box = widget<QLineEdit>("medCdFilial");
            return box && box->hasFocus();
        })) << "the screen did not open";
        EXPECT_EQ(screens_on_show(), 1);
        EXPECT_TRUE(widget<QLineEdit>("medCdFilial")->text().trimmed().isEmpty()) << "a stale screen opened";
    }
    // The branch typed into the fresh screen: it answers as a new screen does.
    void type_branch() {
        xdo("type --delay 5 1");
        xdo("key Tab");
        ASSERT_TRUE(wait_until([&] { return widget<QLineEdit>("edtNrOrcamento")->hasFocus(); }));
        EXPECT_EQ(widget<QLineEdit>("medCdFilial")->text(), "0001");
    }
    QPoint title_bar_close(QMdiSubWindow* sub) {
        QStyleOptionTitleBar opt;
        opt.initFrom(sub);
        opt.subControls = QStyle::SC_All;
        opt.titleBarFlags = sub->windowFlags();
        opt.titleBarState = static_cast<int>(sub->windowState());
        opt.rect = QRect(0, 0, sub->width(), sub->style()->pixelMetric(QStyle::PM_TitleBarHeight, &opt, sub));
        return sub->style()->subControlRect(QStyle::CC_TitleBar, &opt, QStyle::SC_TitleBarCloseButton, sub).center();
    }

    gui::QtUi ui;
    std::unique_ptr<test::TestHost> env;
    host::ScreenModule module;
    std::unique_ptr<gui::MainWindow> window;
};

}  // namespace

// Twenty rounds of opening and closing by every way: the toolbar's Fechar, the menu by its
// accelerators, Ctrl+F4, the sub-window's title bar, and the main window closed by the window
// manager (then started again). No crash, no stale window, no second window.
TEST_F(Desktop, OpensAndClosesByEveryWayTwentyTimes) {
    const std::vector<std::pair<std::string, std::function<void()>>> ways = {
        {"toolbar",
         [&] {
             auto* b = widget<QToolButton>("sbtFechar");
             click_at(b, b->rect().center());
         }},
        {"menu", [&] { xdo("key --clearmodifiers --delay 150 alt+m f"); }},
        {"Ctrl+F4", [&] { xdo("key --clearmodifiers ctrl+F4"); }},
        {"title bar", [&] { click_at(window->screen_window(), title_bar_close(window->screen_window())); }},
        {"main window", [&] { xdo("key --clearmodifiers alt+F4"); }},
    };
    for (int round = 0; round < 20; ++round)
        for (const auto& [way, close] : ways) {
            SCOPED_TRACE(way + ", round " + std::to_string(round));
            if (!view()) open_by_keyboard();
            ASSERT_NE(view(), nullptr);
            type_branch();
            close();
            if (way == "main window") {
                ASSERT_TRUE(wait_until([&] { return !window->isVisible(); })) << "the main window stayed";
                EXPECT_EQ(view(), nullptr);
                start_window();  // the program started again, on the same loaded module
                continue;
            }
            ASSERT_TRUE(wait_until([&] { return view() == nullptr && screens_on_show() == 0; }))
                << "the screen did not close";
            EXPECT_TRUE(window->isVisible());
        }
}

// A breakage line typed with the keyboard alone is saved on the server: closing and opening the
// screen again shows it.
TEST_F(Desktop, ABreakageLineTypedByKeyboardIsSaved) {
    open_by_keyboard();
    type_branch();
    xdo("type --delay 5 43");
    xdo("key Tab");
    ASSERT_TRUE(wait_until([&] { return widget<QLineEdit>("dbePrQuebra")->hasFocus(); }));
    xdo("type --delay 5 1");
    xdo("key Tab");
    ASSERT_TRUE(wait_until([&] { return widget<QTableView>("dbgPadrao")->hasFocus(); }));
    for (const char* cell : {"101001", "3", "1,25"}) {
        xdo(std::string("type --delay 5 ") + cell);
        xdo("key Tab");
        pump(50);
    }
    xdo("key Tab Tab");  // past the last cell: the line is posted and saved
    auto* lines = dynamic_cast<platform::ClientDataSet*>(view()->form().find_dataset("cdsQuebra"));
    ASSERT_NE(lines, nullptr);
    ASSERT_TRUE(wait_until([&] { return lines->record_count() >= 1 && lines->change_count() == 0; }));
    xdo("key --clearmodifiers ctrl+F4");
    ASSERT_TRUE(wait_until([&] { return view() == nullptr; }));
    open_by_keyboard();
    type_branch();
    xdo("type --delay 5 43");
    xdo("key Tab");
    ASSERT_TRUE(wait_until([&] { return widget<QTableView>("dbgPadrao")->model()->rowCount() >= 1; }));
    auto* grid = widget<QTableView>("dbgPadrao");
    EXPECT_EQ(grid->model()->data(grid->model()->index(0, 1)).toString(), "Taça de vinho");
    EXPECT_EQ(grid->model()->data(grid->model()->index(0, 3)).toString(), "3,00");
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    gui::install_portuguese(app);
    gui::apply_look(app);
    test::ModalResponder responder(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
