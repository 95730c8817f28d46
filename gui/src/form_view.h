#pragma once
// Renders a screen model (a platform::Form) as Qt widgets and forwards the operator's input to
// it. The model decides everything: a key the model refuses never reaches a box, a focus move it
// refuses leaves the focus where it was, and every change the model makes is shown at once.
#include <QMainWindow>
#include <QMenuBar>
#include <QWidget>
#include <functional>
#include <map>
#include <vector>

#include "acerto/platform/form.h"

class QTabWidget;
class QTableView;

namespace acerto::gui {

class GridModel;

// An event filter given as a function.
class EventHook : public QObject {
  public:
    EventHook(QObject* parent, std::function<bool(QObject*, QEvent*)> hook) : QObject(parent), hook_(std::move(hook)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override { return hook_(watched, event); }

  private:
    std::function<bool(QObject*, QEvent*)> hook_;
};

class FormView : public QWidget {
  public:
    FormView(platform::Form& form, QWidget* parent = nullptr);
    ~FormView() override;

    platform::Form& form() { return form_; }
    QWidget* widget_for(const platform::Control* c) const;
    GridModel* model_for(const platform::DBGrid* g) const;
    // The form's menus, for the window that shows it.
    void fill_menu_bar(QMenuBar& bar);
    // Runs a model action; a failure is shown to the operator as an error.
    void guard(const std::function<void()>& action);
    // Gives Qt's focus to the widget of the model's focused control.
    void sync_focus();
    // The screen closed itself (its window closes with it); the operator asked for help.
    std::function<void()> on_form_closed, on_help;
    // Spreads a grid's columns over the room its view has (never narrower than their titles).
    void fit_columns(platform::DBGrid& g);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;

  private:
    QWidget* build(platform::Control& c, QWidget* parent);
    void build_children(platform::Control& c, QWidget* parent);
    void apply(platform::Control& c, platform::Property p);
    void apply_all();
    void arrange(platform::Control& container);
    void arrange_all();
    void forward_key(platform::Control& c, QKeyEvent* e);
    // Keys the host gives a meaning of its own (tabs, the product pick); true when taken.
    bool host_key(platform::Control& c, QKeyEvent* e);
    void switch_tab(bool forward);
    void arrange_toolbar();
    void sync_grid(platform::DBGrid& g);
    QString shown_text(platform::Control& c) const;

    platform::Form& form_;
    std::map<const platform::Control*, QWidget*> widgets_;
    std::map<QObject*, platform::Control*> controls_;
    std::map<const platform::DBGrid*, GridModel*> models_;
    std::map<const platform::Control*, QAction*> actions_;
    std::vector<class QMenu*> menus_;
    int observer_ = 0;
    int self_observer_ = 0;
    EventHook* ctrl_tab_ = nullptr;
    bool syncing_ = false;
    bool tab_clicked_ = false;  // a tab was clicked: Qt's own focus moves are not the operator's
    bool sync_pending_ = false;
};

}  // namespace acerto::gui
