#include "acerto/platform/form.h"

#include <algorithm>

#include "acerto/platform/errors.h"

namespace acerto::platform {

Form::Form(std::string name) : Control(*this, std::move(name), nullptr) {}

Form::~Form() {
    // Children go before their containers.
    focused_ = walk_ = nullptr;
    while (!owned_.empty()) owned_.pop_back();
}

void Form::adopt(std::unique_ptr<Control> c) {
    if (by_name_.count(c->name())) throw Error("Já existe um controle chamado " + c->name() + " em " + name() + ".");
    by_name_[c->name()] = c.get();
    owned_.push_back(std::move(c));
}

Control* Form::find(std::string_view name) const {
    auto it = by_name_.find(std::string(name));
    return it == by_name_.end() ? nullptr : it->second;
}

Control& Form::get(std::string_view name) const {
    Control* c = find(name);
    if (!c) throw Error("Controle " + std::string(name) + " não existe em " + this->name() + ".");
    return *c;
}

void Form::register_dataset(DataSet& ds) {
    auto& source = datasets_[ds.name()];
    if (!source) source = std::make_unique<DataSource>(name() + "." + ds.name());
    source->set_dataset(&ds);
}

DataSet* Form::find_dataset(std::string_view name) const {
    auto it = datasets_.find(std::string(name));
    return it == datasets_.end() ? nullptr : it->second->dataset();
}

std::vector<DataSet*> Form::datasets() const {
    std::vector<DataSet*> out;
    for (const auto& [name, source] : datasets_)
        if (source->dataset()) out.push_back(source->dataset());
    return out;
}

void Form::set_window_state(WindowState s) {
    if (window_state_ == s) return;
    window_state_ = s;
    changed(Property::Layout);
}

void Form::show() {
    shown_ = true;
    changed(Property::Visible);
}

void Form::focus_initial() {
    if (initial_focus && !focused_ && initial_focus->focusable() && initial_focus->usable()) focus(initial_focus);
}

void Form::focus(Control* target) {
    if (!target || target == this) throw FocusError("Nenhum controle para receber o foco.");
    if (&target->form() != this) throw FocusError("O controle " + target->name() + " não pertence a " + name() + ".");
    if (!target->focusable() || !target->usable())
        throw FocusError("Não é possível mover o foco para " + target->name() +
                         ": o controle está desabilitado ou invisível.");
    Control* old = focused_;
    if (old == target) return;
    focused_ = target;
    unsigned move = ++focus_moves_;
    if (old) old->changed(Property::Focus);
    target->changed(Property::Focus);
    try {
        // Exit handlers of the control and every container being left, innermost first.
        while (walk_ && walk_ != this && !walk_->contains(target)) {
            walk_->do_exit();
            if (focus_moves_ != move) return;  // a handler moved the focus itself
            walk_ = walk_->parent();
        }
        if (!walk_) walk_ = this;
        // Enter handlers of the containers being entered, outermost first, then the control.
        while (walk_ != target) {
            Control* c = target;
            while (c->parent() != walk_) c = c->parent();
            walk_ = c;
            c->do_enter();
            if (focus_moves_ != move) return;
        }
    } catch (...) {
        if (focus_moves_ == move) {
            focused_ = old;
            walk_ = old;
            target->changed(Property::Focus);
            if (old) old->changed(Property::Focus);
        }
        throw;
    }
}

namespace {
void collect(const Control& c, std::vector<Control*>& out) {
    for (Control* child : c.children()) {
        out.push_back(child);
        collect(*child, out);
    }
}
}  // namespace

Control* Form::next_focusable(Control* from, bool forward) const {
    std::vector<Control*> order;
    collect(*this, order);
    std::vector<Control*> candidates;
    for (Control* c : order)
        if (c == from || (c->focusable() && c->usable() && c->kind() != std::string("menuitem") &&
                          c->kind() != std::string("pagecontrol")))
            candidates.push_back(c);
    if (candidates.empty()) return nullptr;
    auto it = std::find(candidates.begin(), candidates.end(), from);
    std::size_t n = candidates.size();
    std::size_t i = it == candidates.end() ? 0 : static_cast<std::size_t>(it - candidates.begin());
    for (std::size_t step = 1; step <= n; ++step) {
        std::size_t k = forward ? (i + step) % n : (i + n - step) % n;
        if (candidates[k] != from) return candidates[k];
    }
    return nullptr;
}

void Form::activate() {
    if (on_activate) on_activate(*this);
}

CloseAction Form::close() {
    CloseAction action = CloseAction::Free;
    if (on_close) on_close(*this, action);
    if (action == CloseAction::Free || action == CloseAction::Hide) {
        shown_ = false;
        closed_ = action == CloseAction::Free;
        changed(Property::Visible);
    }
    return action;
}

int Form::add_form_observer(Observer o) {
    int id = next_form_observer_++;
    form_observers_.emplace_back(id, std::move(o));
    return id;
}

void Form::remove_form_observer(int id) {
    std::erase_if(form_observers_, [id](const auto& p) { return p.first == id; });
}

void Form::changed_child(Control& c, Property p) {
    for (auto& [id, o] : form_observers_) o(c, p);
}

}  // namespace acerto::platform
