#pragma once
// The suite's main window: a multiple-document area, the menu that opens "Acerto Final", and a
// status bar with the operator, the branch and the server.
#include <QMainWindow>
#include <QMdiArea>
#include <memory>

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

  protected:
    void closeEvent(QCloseEvent* e) override;

  private:
    void rebuild_menus();
    host::ScreenModule& module_;
    QtUi& ui_;
    QMdiArea* mdi_;
    FormView* view_ = nullptr;
    class QMdiSubWindow* sub_ = nullptr;
};

}  // namespace acerto::gui
