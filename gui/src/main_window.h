#pragma once
// The suite's main window: a multiple-document area, the menu that opens "Acerto Final", and a
// status bar with the operator, the branch and the server.
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <memory>
#include <vector>

#include "acerto/host/module_loader.h"
#include "form_view.h"
#include "qt_ui.h"

namespace acerto::gui {

class MainWindow : public QMainWindow {
  public:
    MainWindow(host::ScreenModule& module, QtUi& ui);
    ~MainWindow() override;
    // Opens the settlement screen (loading the module's entry) and shows its view.
    void open_acerto_final();
    FormView* view() const { return view_; }
    QMdiSubWindow* screen_window() const { return sub_; }
    QMdiArea& area() const { return *mdi_; }
    // The operator's guide, in a window of its own beside the screen.
    void open_help();
    QMdiSubWindow* help_window() const { return help_; }

  protected:
    void closeEvent(QCloseEvent* e) override;

  private:
    void fit_to_screen();
    // The screen closed itself (its Fechar, its menu, Ctrl+F4): its window goes with it.
    void screen_closed();
    // Destroys now the windows of closed screens, so no view outlives the screen it draws.
    void drop_closed_windows();
    host::ScreenModule& module_;
    QtUi& ui_;
    QMdiArea* mdi_;
    FormView* view_ = nullptr;
    QMdiSubWindow* sub_ = nullptr;
    QPointer<QMdiSubWindow> help_;
    std::vector<QPointer<QMdiSubWindow>> closed_;
};

}  // namespace acerto::gui
