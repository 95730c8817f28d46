#include "acerto/platform/controls.h"

#include <algorithm>

#include "acerto/platform/errors.h"
#include "acerto/platform/form.h"
#include "acerto/platform/format.h"
#include "acerto/platform/text.h"

namespace acerto::platform {

// ---------------------------------------------------------------------------------- Control

Control::Control(Form& form, std::string name, Control* parent) : form_(form), name_(std::move(name)), parent_(parent) {
    if (parent_) parent_->children_.push_back(this);
}

Control::~Control() {
    if (parent_) std::erase(parent_->children_, this);
}

bool Control::contains(const Control* c) const {
    for (; c; c = c->parent_)
        if (c == this) return true;
    return false;
}

void Control::move_child(Control* child, std::size_t index) {
    auto it = std::find(children_.begin(), children_.end(), child);
    if (it == children_.end()) return;
    children_.erase(it);
    children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(std::min(index, children_.size())), child);
    changed(Property::Layout);
}

void Control::set_text(std::string_view t) {
    if (text_ == t) return;
    text_ = t;
    changed(Property::Text);
    if (on_change) {
        if (tracing()) trace("  " + name_ + ".OnChange");
        on_change(*this);
    }
}

void Control::set_enabled(bool e) {
    if (enabled_ == e) return;
    enabled_ = e;
    changed(Property::Enabled);
}

void Control::set_visible(bool v) {
    if (visible_ == v) return;
    visible_ = v;
    changed(Property::Visible);
}

void Control::set_align(Align a) {
    if (align_ == a) return;
    align_ = a;
    changed(Property::Layout);
}

void Control::set_left(int v) {
    if (left_ == v) return;
    left_ = v;
    changed(Property::Layout);
}

void Control::set_top(int v) {
    if (top_ == v) return;
    top_ = v;
    changed(Property::Layout);
}

void Control::set_width(int v) {
    if (width_ == v) return;
    width_ = v;
    changed(Property::Layout);
}

void Control::set_height(int v) {
    if (height_ == v) return;
    height_ = v;
    changed(Property::Layout);
}

void Control::set_bounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    changed(Property::Layout);
}

bool Control::showing() const {
    for (const Control* c = this; c; c = c->parent_) {
        if (!c->visible_) return false;
        if (auto* tab = dynamic_cast<const TabSheet*>(c); tab && !tab->is_active()) return false;
    }
    return true;
}

bool Control::usable() const {
    if (!showing()) return false;
    for (const Control* c = this; c; c = c->parent_)
        if (!c->enabled_) return false;
    return true;
}

bool Control::focused() const {
    return form_.focused() == this;
}

void Control::set_focus() {
    form_.focus(this);
}

void Control::press_key(char32_t key) {
    if (on_key_press) {
        if (tracing()) trace("  " + name_ + ".OnKeyPress");
        on_key_press(*this, key);
    }
    if (key != 0) take_key(key);
}

void Control::key_down(int key, ShiftState shift) {
    if (on_key_down) on_key_down(*this, key, shift);
}

void Control::keystroke(int key, char32_t character, ShiftState shift) {
    key_down(key, shift);
    if (character != 0) press_key(character);
}

void Control::click() {
    if (on_click) {
        if (tracing()) trace("  " + name_ + ".OnClick");
        on_click(*this);
    }
}

void Control::clear_text() {
    set_text("");
}

void Control::take_key(char32_t) {}

void Control::do_enter() {
    if (on_enter) {
        if (tracing()) trace("  " + name_ + ".OnEnter");
        on_enter(*this);
    }
}

void Control::do_exit() {
    if (on_exit) {
        if (tracing()) trace("  " + name_ + ".OnExit");
        on_exit(*this);
    }
}

int Control::add_observer(Observer o) {
    int id = next_observer_++;
    observers_.emplace_back(id, std::move(o));
    return id;
}

void Control::remove_observer(int id) {
    std::erase_if(observers_, [id](const auto& p) { return p.first == id; });
}

void Control::changed(Property p) {
    for (auto& [id, o] : observers_) o(*this, p);
    if (&form_ != this) form_.changed_child(*this, p);
}

// ------------------------------------------------------------------------------------- Edit

void Edit::take_key(char32_t key) {
    if (read_only) return;
    if (key == ch::Back) {
        set_text(utf8_drop_last(text_));
        return;
    }
    if (key < 32) return;  // Enter, Tab, Escape: no text
    if (max_length > 0 && utf8_length(text_) >= static_cast<std::size_t>(max_length)) return;
    if (upper_case) key = to_upper(key);
    set_text(text_ + utf8_encode(key));
}

// --------------------------------------------------------------------------------- MaskEdit

MaskEdit::MaskEdit(Form& form, std::string name, Control* parent, std::string_view mask)
    : Edit(form, std::move(name), parent), mask_(mask) {}

void MaskEdit::set_edit_mask(std::string_view mask) {
    mask_ = EditMask(mask);
    inputs_ = mask_.strip(text_);
    set_text_silently(mask_.text_of(inputs_));
    changed(Property::Text);
}

void MaskEdit::set_text(std::string_view t) {
    if (mask_.empty()) {
        Edit::set_text(t);
        return;
    }
    inputs_ = mask_.strip(t);
    if (inputs_.size() > mask_.input_length())
        inputs_ = utf8_encode(utf8_decode(inputs_).substr(0, mask_.input_length()));
    Edit::set_text(mask_.text_of(inputs_));
}

void MaskEdit::take_key(char32_t key) {
    if (mask_.empty()) {
        Edit::take_key(key);
        return;
    }
    if (read_only) return;
    std::u32string in = utf8_decode(inputs_);
    if (key == ch::Back) {
        if (!in.empty()) in.pop_back();
    } else if (key < 32) {
        return;
    } else {
        if (in.size() >= mask_.input_length()) return;
        if (mask_.is_literal_after(in.size(), key)) return;  // typing a literal moves on
        char32_t c = mask_.accept(in.size(), key);
        if (c == 0) return;
        in.push_back(c);
    }
    inputs_ = utf8_encode(in);
    Edit::set_text(mask_.text_of(inputs_));
}

// ----------------------------------------------------------------------------------- DBEdit

DBEdit::DBEdit(Form& form, std::string name, Control* parent) : Edit(form, std::move(name), parent) {}

void DBEdit::bind(DataSource* source, std::string field_name) {
    link_to(source);
    field_name_ = std::move(field_name);
    reload();
}

Field* DBEdit::field() const {
    if (!data_source() || !data_source()->dataset()) return nullptr;
    return data_source()->dataset()->find_field(field_name_);
}

void DBEdit::reload() {
    Field* f = field();
    std::string t;
    if (f && f->dataset().active()) t = focused() ? f->text() : f->display_text();
    loading_ = true;
    try {
        Edit::set_text(t);
    } catch (...) {
        loading_ = false;
        modified_ = false;
        throw;
    }
    loading_ = false;
    modified_ = false;
}

void DBEdit::set_text(std::string_view t) {
    Edit::set_text(t);
    if (!loading_) modified_ = true;
}

void DBEdit::press_key(char32_t key) {
    if (on_key_press) on_key_press(*this, key);
    if (key == 0 || read_only) return;
    Field* f = field();
    if (!f || !f->dataset().active()) return;
    if (key >= 32 && f->is_numeric()) {
        const char dec = format_settings().decimal_separator;
        bool valid = is_digit(key) || key == U'+' || key == U'-' || key == U'e' || key == U'E' ||
                     key == static_cast<char32_t>(dec);
        if (!valid) return;
    }
    if (key == ch::Back || key >= 32) {
        // Typing puts the bound dataset into edit first; a refusal there keeps the key out.
        if (data_source()) data_source()->edit();
        if (!f->dataset().editing()) return;
    }
    take_key(key);
}

void DBEdit::clear_text() {
    if (read_only) return;
    if (data_source()) data_source()->edit();
    Field* f = field();
    if (!f || !f->dataset().editing()) return;
    set_text("");
}

void DBEdit::do_exit() {
    // Leaving the box writes what it holds into the field; a bad value keeps the focus here.
    if (modified_) {
        Field* f = field();
        if (f && f->dataset().editing()) update_data();
    }
    Edit::do_exit();
    Field* f = field();
    if (f && !modified_) {
        loading_ = true;
        Edit::set_text(f->dataset().active() ? f->display_text() : std::string());
        loading_ = false;
    }
}

void DBEdit::data_changed(Field* f) {
    if (f == nullptr || f == field()) reload();
}

void DBEdit::update_data() {
    if (!modified_) return;
    Field* f = field();
    if (!f || !f->dataset().editing()) return;
    std::string t = text_;
    modified_ = false;
    try {
        f->set_text(t);
    } catch (...) {
        modified_ = true;
        throw;
    }
}

bool DBEdit::focus_field(Field& f) {
    if (&f != field()) return false;
    if (usable()) set_focus();
    return true;
}

// ----------------------------------------------------------------------------------- DBText

DBText::DBText(Form& form, std::string name, Control* parent) : Control(form, std::move(name), parent) {}

void DBText::bind(DataSource* source, std::string field_name) {
    link_to(source);
    field_name_ = std::move(field_name);
    reload();
}

void DBText::set_data_field(std::string field_name) {
    field_name_ = std::move(field_name);
    reload();
}

void DBText::reload() {
    std::string t;
    if (data_source() && data_source()->dataset() && data_source()->dataset()->active())
        if (Field* f = data_source()->dataset()->find_field(field_name_)) t = f->display_text();
    set_text(t);
}

// ------------------------------------------------------------------------------- NumberEdit

std::string NumberEdit::display_text() const {
    double v;
    if (!try_str_to_float(text_, v)) return text_;
    std::string pic = "0";
    if (decimals > 0) pic += "." + std::string(static_cast<std::size_t>(decimals), '0');
    return format_float(pic, v);
}

double NumberEdit::value() const {
    double v = 0;
    try_str_to_float(text_, v);
    return v;
}

// ------------------------------------------------------------------------------ RadioButton

void RadioButton::set_checked(bool c) {
    if (checked_ == c) return;
    checked_ = c;
    changed(Property::Checked);
    if (c) {
        if (parent())
            for (Control* sib : parent()->children())
                if (auto* rb = dynamic_cast<RadioButton*>(sib); rb && rb != this && rb->checked_) {
                    rb->checked_ = false;
                    rb->changed(Property::Checked);
                }
        if (on_click) on_click(*this);
    }
}

void RadioButton::click() {
    if (!checked_)
        set_checked(true);  // runs on_click
    else if (on_click)
        on_click(*this);
}

// --------------------------------------------------------------------------------- MenuItem

void MenuItem::set_checked(bool c) {
    if (checked_ == c) return;
    checked_ = c;
    changed(Property::Checked);
}

void MenuItem::click() {
    if (on_click) {
        if (tracing()) trace("  " + name() + ".OnClick");
        on_click(*this);
    }
}

// ------------------------------------------------------------------------- PageControl, Tab

TabSheet::TabSheet(Form& form, std::string name, Control* parent) : Control(form, std::move(name), parent) {
    if (!dynamic_cast<PageControl*>(parent))
        throw Error("A aba " + this->name() + " precisa estar num controle de páginas.");
}

std::vector<TabSheet*> PageControl::pages() const {
    std::vector<TabSheet*> out;
    for (Control* c : children())
        if (auto* t = dynamic_cast<TabSheet*>(c)) out.push_back(t);
    return out;
}

void PageControl::set_active_page(TabSheet* page) {
    if (active_ == page) return;
    Control* f = form().focused();
    active_ = page;
    changed(Property::Data);
    // The focus cannot stay on a page that is no longer shown.
    if (f && contains(f) && !f->showing()) form().focus(this);
}

void PageControl::select_page(TabSheet* page) {
    if (on_changing_check) on_changing_check(*this);
    if (active_ == page) return;
    set_active_page(page);
    if (on_change) on_change(*this);
}

// ----------------------------------------------------------------------------------- DBGrid

DBGrid::DBGrid(Form& form, std::string name, Control* parent) : Control(form, std::move(name), parent) {}

void DBGrid::bind(DataSource* source) {
    link_to(source);
    reset_editor();
}

GridColumn& DBGrid::add_column(std::string field_name, int width) {
    GridColumn c;
    c.field_name = std::move(field_name);
    c.width = width;
    columns.push_back(std::move(c));
    return columns.back();
}

int DBGrid::column_index(std::string_view field_name) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (iequals(columns[i].field_name, field_name)) return static_cast<int>(i);
    return -1;
}

Field* DBGrid::column_field(int index) const {
    if (index < 0 || index >= static_cast<int>(columns.size()) || !dataset()) return nullptr;
    return dataset()->find_field(columns[static_cast<std::size_t>(index)].field_name);
}

std::string DBGrid::column_title(int index) const {
    const GridColumn& c = columns.at(static_cast<std::size_t>(index));
    if (!c.title.empty()) return c.title;
    if (Field* f = column_field(index)) return f->label();
    return c.field_name;
}

void DBGrid::select_column(int index) {
    if (index < 0 || index >= static_cast<int>(columns.size()))
        throw Error(name() + ": coluna " + std::to_string(index + 1) + " não existe.");
    if (index == selected_) return;
    commit_editor();
    if (on_col_exit) {
        if (tracing()) trace("  " + name() + ".OnColExit");
        on_col_exit(*this);
    }
    selected_ = index;
    reset_editor();
    changed(Property::Focus);
}

void DBGrid::select_field(std::string_view field_name) {
    int i = column_index(field_name);
    if (i < 0) throw Error(name() + ": não há coluna para o campo " + std::string(field_name) + ".");
    select_column(i);
}

int DBGrid::row_count() const {
    DataSet* ds = dataset();
    if (!ds || !ds->active()) return 0;
    return ds->record_count() + (ds->state() == DataSetState::Insert ? 1 : 0);
}

int DBGrid::current_row() const {
    DataSet* ds = dataset();
    if (!ds || !ds->active()) return -1;
    return ds->rec_no() - 1;
}

void DBGrid::set_row(int index) {
    DataSet* ds = dataset();
    if (!ds || !ds->active()) throw Error(name() + ": a grade não tem dados.");
    if (index == current_row()) return;
    commit_editor();
    ds->check_browse_mode();
    ds->move_to(index + 1);
}

std::string DBGrid::cell_text(int row, int column) const {
    DataSet* ds = dataset();
    Field* f = column_field(column);
    if (!ds || !f || !ds->active()) return {};
    int cur = current_row();
    if (row == cur) {
        if (column == selected_ && editor_active_) return editor_display();
        return f->display_text();
    }
    int rec = row;
    if (ds->state() == DataSetState::Insert && row > cur) --rec;
    ds->set_display_record(rec);
    std::string t;
    try {
        t = f->display_text();
    } catch (...) {
        ds->set_display_record(-1);
        throw;
    }
    ds->set_display_record(-1);
    return t;
}

std::string DBGrid::editor_text() const {
    Field* f = selected_field();
    if (!editor_active_) return f ? f->text() : std::string();
    if (f && !f->edit_mask().empty()) return f->edit_mask().text_of(editor_inputs_);
    return editor_inputs_;
}

std::string DBGrid::editor_display() const {
    Field* f = selected_field();
    if (!editor_active_) return f ? f->display_text() : std::string();
    if (f && !f->edit_mask().empty()) return f->edit_mask().format(editor_inputs_);
    return editor_inputs_;
}

std::string DBGrid::column_text(std::string_view field_name) const {
    int i = column_index(field_name);
    if (i >= 0 && i == selected_ && editor_active_) return editor_text();
    DataSet* ds = dataset();
    if (!ds) return {};
    Field* f = ds->find_field(field_name);
    return f ? f->text() : std::string();
}

bool DBGrid::begin_edit() {
    DataSet* ds = dataset();
    Field* f = selected_field();
    if (!ds || !ds->active() || !f || read_only) return false;
    const GridColumn& col = columns[static_cast<std::size_t>(selected_)];
    if (col.read_only || f->read_only || f->calculated()) return false;
    // Typing into a cell puts the dataset into edit first (the before-edit checks run).
    if (!ds->editing()) data_source()->edit();
    if (!ds->editing()) return false;
    if (!editor_active_) {
        editor_active_ = true;
        editor_inputs_ = f->edit_mask().empty() ? f->text() : f->edit_mask().strip(f->text());
    }
    return true;
}

void DBGrid::reset_editor() {
    editor_active_ = false;
    editor_modified_ = false;
    editor_inputs_.clear();
}

void DBGrid::press_key(char32_t key) {
    if (on_key_press) on_key_press(*this, key);
    if (key == 0) return;
    if (key == ch::Return) {
        commit_editor();
        return;
    }
    if (key == ch::Tab || key == ch::Escape) return;
    Field* f = selected_field();
    if (!f) return;
    if (key >= 32 && f->is_numeric()) {
        const char dec = format_settings().decimal_separator;
        bool valid = is_digit(key) || key == U'+' || key == U'-' || key == U'e' || key == U'E' ||
                     key == static_cast<char32_t>(dec);
        if (!valid) return;
    }
    bool was_active = editor_active_;
    if (!begin_edit()) return;
    std::u32string in = utf8_decode(editor_inputs_);
    const EditMask& mask = f->edit_mask();
    if (key == ch::Back) {
        if (!in.empty()) in.pop_back();
    } else {
        // The first key typed into a cell replaces what it showed.
        if (!was_active) in.clear();
        if (!mask.empty()) {
            if (in.size() >= mask.input_length() || mask.is_literal_after(in.size(), key)) {
                editor_inputs_ = utf8_encode(in);
                changed(Property::Text);
                return;
            }
            char32_t c = mask.accept(in.size(), key);
            if (c == 0) return;
            in.push_back(c);
        } else {
            if (f->is_text() && f->size() > 0 && in.size() >= static_cast<std::size_t>(f->size())) return;
            in.push_back(key);
        }
    }
    editor_inputs_ = utf8_encode(in);
    editor_modified_ = true;
    changed(Property::Text);
}

void DBGrid::clear_text() {
    if (!begin_edit()) return;
    editor_inputs_.clear();
    editor_modified_ = true;
    changed(Property::Text);
}

void DBGrid::key_down(int key, ShiftState shift) {
    if (on_key_down) on_key_down(*this, key, shift);
    DataSet* ds = dataset();
    if (key == 0 || !ds || !ds->active()) return;
    switch (key) {
        case vk::Up:
            if (current_row() > 0) {
                set_row(current_row() - 1);
            } else if (ds->editing()) {
                // On the first line Up moves like any row move: what was typed is posted, an
                // untouched new line is dropped.
                commit_editor();
                ds->check_browse_mode();
            }
            break;
        case vk::Down:
            if (ds->state() == DataSetState::Insert && !ds->modified() && !editor_modified_) break;
            if (current_row() + 1 < row_count()) {
                set_row(current_row() + 1);
            } else if (!read_only) {
                commit_editor();
                ds->append();
            }
            break;
        case vk::Insert:
            if (!read_only) {
                commit_editor();
                ds->insert();
            }
            break;
        case vk::Escape:
            if (editor_modified_) {
                reset_editor();
                changed(Property::Text);
            } else {
                ds->cancel();
            }
            break;
        case vk::Tab: {
            // Tab moves to the next cell the operator can type into.
            int step = shift.shift ? -1 : 1;
            int i = selected_ + step;
            auto typable = [&](int c) {
                const GridColumn& col = columns[static_cast<std::size_t>(c)];
                Field* f = column_field(c);
                return col.visible && !col.read_only && f && !f->calculated() && !f->read_only;
            };
            while (i >= 0 && i < static_cast<int>(columns.size()) && !typable(i)) i += step;
            if (i >= 0 && i < static_cast<int>(columns.size())) {
                select_column(i);
                break;
            }
            // Past the last cell of a line: the next line (a new one after the last), first
            // cell; before the first: the previous line, last cell.
            int first = 0, last = static_cast<int>(columns.size()) - 1;
            while (first <= last && !typable(first)) ++first;
            while (last >= first && !typable(last)) --last;
            if (first > last) break;
            if (step > 0) {
                if (current_row() + 1 < row_count()) {
                    set_row(current_row() + 1);
                } else if (!read_only) {
                    commit_editor();
                    if (on_col_exit) on_col_exit(*this);
                    ds->append();
                }
                if (selected_ != first) {
                    selected_ = first;
                    reset_editor();
                    changed(Property::Focus);
                }
            } else if (current_row() > 0) {
                set_row(current_row() - 1);
                selected_ = last;
                reset_editor();
                changed(Property::Focus);
            }
            break;
        }
        default:
            break;
    }
}

void DBGrid::edit_button_click() {
    if (on_edit_button_click) {
        if (tracing()) trace("  " + name() + ".OnEditButtonClick");
        on_edit_button_click(*this);
    }
}

void DBGrid::do_exit() {
    commit_editor();
    Control::do_exit();
}

void DBGrid::commit_editor() {
    if (!editor_modified_ || committing_) return;
    DataSet* ds = dataset();
    Field* f = selected_field();
    if (!ds || !f || !ds->editing()) return;
    committing_ = true;
    std::string t = editor_text();
    try {
        f->set_text(t);
    } catch (...) {
        committing_ = false;
        throw;
    }
    committing_ = false;
    reset_editor();
}

void DBGrid::active_changed() {
    reset_editor();
    changed(Property::Items);
}

void DBGrid::state_changed() {
    DataSet* ds = dataset();
    if (!ds || !ds->editing()) reset_editor();
    changed(Property::Items);
}

void DBGrid::data_changed(Field* f) {
    if (!committing_ && (f == nullptr || f == selected_field())) {
        if (f != nullptr || !editor_modified_ || !dataset() || !dataset()->editing()) reset_editor();
    }
    changed(Property::Items);
}

bool DBGrid::focus_field(Field& f) {
    int i = column_index(f.name());
    if (i < 0) return false;
    // Programs move to a column directly, without the exit handling of the column left.
    if (i != selected_) {
        selected_ = i;
        reset_editor();
        changed(Property::Focus);
    }
    if (usable() && !focused()) set_focus();
    return true;
}

}  // namespace acerto::platform
