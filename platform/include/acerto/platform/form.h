#pragma once
// A form: the root of its controls, their owner and registry by name, and the keeper of the
// focus. Moving the focus runs exit handlers of the control and containers being left
// (innermost first), then enter handlers of the containers and control being entered
// (outermost first). A failure in any of them returns the focus to where it was (unless a
// handler moved it itself) and reaches the caller.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "acerto/platform/controls.h"
#include "acerto/platform/errors.h"

namespace acerto::platform {

enum class WindowState { Normal, Minimized, Maximized };
enum class CloseAction { None, Hide, Free, Minimize };

class Form : public Control {
  public:
    explicit Form(std::string name);
    ~Form() override;
    const char* kind() const override { return "form"; }

    // Creates a control owned by the form, registered under its name.
    template <class T, class... Args>
    T& make(std::string name, Control* parent, Args&&... args) {
        auto c = std::make_unique<T>(*this, std::move(name), parent, std::forward<Args>(args)...);
        T& ref = *c;
        adopt(std::move(c));
        return ref;
    }
    Control* find(std::string_view name) const;
    Control& get(std::string_view name) const;  // throws Error when missing
    template <class T>
    T& get_as(std::string_view name) const {
        auto* c = dynamic_cast<T*>(&get(name));
        if (!c) throw Error("O controle " + std::string(name) + " não é do tipo esperado.");
        return *c;
    }
    const std::vector<std::unique_ptr<Control>>& controls() const { return owned_; }

    // The form's datasets, by name (a screen registers what it owns, so hosts can find them).
    // A dataset destroyed before the form is no longer found.
    void register_dataset(DataSet& ds);
    DataSet* find_dataset(std::string_view name) const;
    std::vector<DataSet*> datasets() const;

    std::string caption;
    WindowState window_state() const { return window_state_; }
    void set_window_state(WindowState s);
    bool shown() const { return shown_; }
    void show();
    // Gives the focus to `initial_focus` when nothing has it yet and it can take it.
    void focus_initial();
    Control* initial_focus = nullptr;

    // The focused control (what handlers read); null before the form is shown.
    Control* focused() const { return focused_; }
    // Moves the focus to `target`; throws FocusError when it cannot take it, or the failure
    // of an exit or enter handler.
    void focus(Control* target);
    // The next (or previous) control that can take the focus, in the order the form holds its
    // controls (Tab and Shift+Tab); null when there is none.
    Control* next_focusable(Control* from, bool forward = true) const;

    std::function<void(Form&)> on_activate;
    std::function<void(Form&, CloseAction&)> on_close;
    void activate();
    // Observers of every control of the form (front ends render from these).
    int add_form_observer(Observer o);
    void remove_form_observer(int id);
    void changed_child(Control& c, Property p);
    // Runs the close handler; returns the action it chose (Free by default).
    CloseAction close();
    bool closed() const { return closed_; }

  private:
    void adopt(std::unique_ptr<Control> c);

    std::vector<std::unique_ptr<Control>> owned_;
    std::unordered_map<std::string, Control*> by_name_;
    // Each through a source of its own, which the dataset detaches when it goes.
    std::unordered_map<std::string, std::unique_ptr<DataSource>> datasets_;
    Control* focused_ = nullptr;
    Control* walk_ = nullptr;  // the control whose enter handling is complete
    unsigned focus_moves_ = 0;
    WindowState window_state_ = WindowState::Normal;
    bool shown_ = false;
    bool closed_ = false;
    std::vector<std::pair<int, Observer>> form_observers_;
    int next_form_observer_ = 1;
};

}  // namespace acerto::platform
