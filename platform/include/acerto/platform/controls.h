#pragma once
// Controls as plain objects: the screen's handlers read and change them, front ends render
// them and forward the operator's input. Nothing here knows of any GUI toolkit.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "acerto/platform/dataset.h"
#include "acerto/platform/mask.h"

namespace acerto::platform {

class Form;

// Virtual keys (key down) and characters (key press) the screen knows.
namespace vk {
constexpr int Back = 8, Tab = 9, Return = 13, Escape = 27, Space = 32, Prior = 33, Next = 34, End = 35, Home = 36,
              Left = 37, Up = 38, Right = 39, Down = 40, Insert = 45, Delete = 46;
}
namespace ch {
constexpr char32_t Back = 8, Tab = 9, Return = 13, Escape = 27;
}

struct ShiftState {
    bool shift = false, ctrl = false, alt = false;
};

enum class Align { None, Top, Bottom, Left, Right, Client };
enum class Alignment { Left, Right, Center };

// What changed in a control, for observers.
enum class Property { Text, Enabled, Visible, Checked, Layout, Focus, Data, Items, Caption, Font };

class Control {
  public:
    Control(Form& form, std::string name, Control* parent);
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    virtual const char* kind() const = 0;
    const std::string& name() const { return name_; }
    Form& form() const { return form_; }
    Control* parent() const { return parent_; }
    const std::vector<Control*>& children() const { return children_; }
    // True when `c` is this control or lies inside it.
    bool contains(const Control* c) const;
    // Moves a child to a position among its siblings (menus: entries put ahead of others).
    void move_child(Control* child, std::size_t index);

    // Text (the caption of labels, buttons and tabs). Changing it runs on_change.
    const std::string& text() const { return text_; }
    virtual void set_text(std::string_view t);
    bool enabled() const { return enabled_; }
    void set_enabled(bool e);
    bool visible() const { return visible_; }
    void set_visible(bool v);
    Align align() const { return align_; }
    void set_align(Align a);
    int left() const { return left_; }
    int top() const { return top_; }
    int width() const { return width_; }
    int height() const { return height_; }
    void set_left(int v);
    void set_top(int v);
    void set_width(int v);
    void set_height(int v);
    void set_bounds(int left, int top, int width, int height);
    std::string hint;
    bool bold = false;
    bool required_colour = false;  // drawn in the suite's required-field colour
    bool display_only = false;     // a box that only shows: enabling its container leaves it disabled
    int tab_order = 0;

    // Whether the control itself can hold the focus (edits, grids, buttons).
    virtual bool focusable() const { return false; }
    // Enabled and visible, with every container, and on the active page of its page control.
    bool showing() const;
    bool usable() const;  // showing and enabled all the way up
    bool focused() const;
    void set_focus();  // moves the form's focus here (see Form::focus)

    // Events, as the screen binds them.
    std::function<void(Control&)> on_enter, on_exit, on_change, on_click;
    std::function<void(Control&, char32_t& key)> on_key_press;
    std::function<void(Control&, int& key, ShiftState shift)> on_key_down;

    // Operator input. A key press runs on_key_press (which may refuse the key by setting it
    // to 0), then the control takes the key. A key down runs on_key_down, then the control's
    // own handling of the key.
    virtual void press_key(char32_t key);
    virtual void key_down(int key, ShiftState shift = {});
    // A keystroke as the keyboard makes it: key down, then the character if it has one.
    void keystroke(int key, char32_t character, ShiftState shift = {});
    virtual void click();
    // Select all and delete, as the operator empties a box.
    virtual void clear_text();

    // Focus walk hooks (run by the form): internal handling, then the handler.
    virtual void do_enter();
    virtual void do_exit();

    using Observer = std::function<void(Control&, Property)>;
    int add_observer(Observer o);
    void remove_observer(int id);
    void changed(Property p);

  protected:
    // Applies a key that passed the handlers (default: edit the text).
    virtual void take_key(char32_t key);
    void set_text_silently(std::string_view t) { text_ = t; }

    std::string text_;

  private:
    friend class Form;
    Form& form_;
    std::string name_;
    Control* parent_;
    std::vector<Control*> children_;
    bool enabled_ = true, visible_ = true;
    Align align_ = Align::None;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    std::vector<std::pair<int, Observer>> observers_;
    int next_observer_ = 1;
};

class Panel : public Control {
  public:
    using Control::Control;
    const char* kind() const override { return "panel"; }
};

class Label : public Control {
  public:
    using Control::Control;
    const char* kind() const override { return "label"; }
};

// A one-line edit box: maximum length, upper-case conversion, read-only.
class Edit : public Control {
  public:
    using Control::Control;
    const char* kind() const override { return "edit"; }
    bool focusable() const override { return true; }
    int max_length = 0;
    bool upper_case = false;
    bool read_only = false;

  protected:
    void take_key(char32_t key) override;
};

// An edit box with an edit mask: text() is what the mask keeps (see EditMask::text_of),
// edit_text() what the box shows.
class MaskEdit : public Edit {
  public:
    MaskEdit(Form& form, std::string name, Control* parent, std::string_view mask = {});
    const char* kind() const override { return "maskedit"; }
    void set_edit_mask(std::string_view mask);
    const EditMask& edit_mask() const { return mask_; }
    void set_text(std::string_view t) override;
    std::string edit_text() const { return mask_.empty() ? text_ : mask_.format(inputs_); }

  protected:
    void take_key(char32_t key) override;

  private:
    EditMask mask_;
    std::string inputs_;  // the characters typed into the input positions
};

// An edit box bound to a field: shows the field's text, puts the dataset into edit when the
// operator types, and writes the text into the field when it is left or the record is posted.
class DBEdit : public Edit, public DataLink {
  public:
    DBEdit(Form& form, std::string name, Control* parent);
    const char* kind() const override { return "dbedit"; }
    void bind(DataSource* source, std::string field_name);
    const std::string& field_name() const { return field_name_; }
    Field* field() const;
    bool modified() const { return modified_; }

    void set_text(std::string_view t) override;
    void press_key(char32_t key) override;
    void clear_text() override;
    void do_exit() override;

    // DataLink
    void active_changed() override { reload(); }
    void data_changed(Field* f) override;
    void update_data() override;
    bool focus_field(Field& f) override;

  private:
    void reload();
    std::string field_name_;
    bool modified_ = false;
    bool loading_ = false;
};

// A label bound to a field (its display text).
class DBText : public Control, public DataLink {
  public:
    DBText(Form& form, std::string name, Control* parent);
    const char* kind() const override { return "dbtext"; }
    void bind(DataSource* source, std::string field_name);
    void set_data_field(std::string field_name);
    const std::string& field_name() const { return field_name_; }
    void active_changed() override { reload(); }
    void data_changed(Field*) override { reload(); }

  private:
    void reload();
    std::string field_name_;
};

// A number box: its text is a number in general format; it shows `decimals` places.
class NumberEdit : public Edit {
  public:
    using Edit::Edit;
    const char* kind() const override { return "numberedit"; }
    int decimals = 2;
    std::string display_text() const;
    double value() const;
};

class Button : public Control {
  public:
    using Control::Control;
    const char* kind() const override { return "button"; }
    bool focusable() const override { return !flat; }
    bool flat = false;  // a speed button: never takes the focus
};

class RadioButton : public Control {
  public:
    using Control::Control;
    const char* kind() const override { return "radiobutton"; }
    bool focusable() const override { return true; }
    bool checked() const { return checked_; }
    // Checking a radio button unchecks its siblings and runs on_click, as the platform does.
    void set_checked(bool c);
    void click() override;

  private:
    bool checked_ = false;
};

class MenuItem : public Control {
  public:
    using Control::Control;
    const char* kind() const override { return "menuitem"; }
    std::string shortcut;  // e.g. "Ctrl+N"
    bool separator = false;
    bool radio_item = false;  // one of a group of which one is checked: drawn with its mark
    bool checked() const { return checked_; }
    void set_checked(bool c);
    void click() override;

  private:
    bool checked_ = false;
};

class TabSheet;

// A page control: its tab sheets are its children; one is active. Setting the active page
// from code raises no change event; an operator's tab click does.
class PageControl : public Control {
  public:
    using Control::Control;
    const char* kind() const override { return "pagecontrol"; }
    // The tabs themselves take the focus (the arrow keys move between them).
    bool focusable() const override { return true; }
    TabSheet* active_page() const { return active_; }
    void set_active_page(TabSheet* page);
    std::vector<TabSheet*> pages() const;
    void select_page(TabSheet* page);  // as the operator's click: on_change runs
    std::function<void(Control&)> on_changing_check;

  private:
    TabSheet* active_ = nullptr;
};

class TabSheet : public Control {
  public:
    TabSheet(Form& form, std::string name, Control* parent);  // parent: a PageControl
    const char* kind() const override { return "tabsheet"; }
    PageControl& page_control() const { return *static_cast<PageControl*>(parent()); }
    bool is_active() const { return page_control().active_page() == this; }
    void click() override { page_control().select_page(this); }
};

class Navigator : public Control {
  public:
    using Control::Control;
    const char* kind() const override { return "navigator"; }
    DataSourceRef data_source;
};

struct GridColumn {
    std::string field_name;
    std::string title;  // empty: the field's label
    int width = 64;
    bool read_only = false;
    bool ellipsis = false;  // an edit button that runs the grid's on_edit_button_click
    bool visible = true;
    Alignment alignment = Alignment::Left;
    Alignment title_alignment = Alignment::Left;
};

// A data grid over a data source: columns bound to fields, a selected column, the dataset's
// current row, and an in-place editor whose typed text is readable before it reaches the field.
class DBGrid : public Control, public DataLink {
  public:
    DBGrid(Form& form, std::string name, Control* parent);
    const char* kind() const override { return "dbgrid"; }
    bool focusable() const override { return true; }

    void bind(DataSource* source);
    DataSet* dataset() const { return data_source() ? data_source()->dataset() : nullptr; }
    std::vector<GridColumn> columns;
    GridColumn& add_column(std::string field_name, int width = 64);
    int column_index(std::string_view field_name) const;
    Field* column_field(int index) const;
    std::string column_title(int index) const;
    bool read_only = false;

    int selected_index() const { return selected_; }
    Field* selected_field() const { return column_field(selected_); }
    // Moves the selected column as the operator does: the editor's text goes to the field,
    // then on_col_exit runs; a failure in either keeps the column.
    void select_column(int index);
    void select_field(std::string_view field_name);
    // Rows as shown: the records, plus a record being inserted.
    int row_count() const;
    int current_row() const;  // 0-based, -1 when none
    // Moves the current row as the arrow keys do (a pending line is posted first).
    void set_row(int index);
    // Text of a cell as painted (display text; the editor's text for the cell being edited).
    std::string cell_text(int row, int column) const;

    // The in-place editor.
    bool editor_active() const { return editor_active_; }
    bool editor_modified() const { return editor_modified_; }
    // What the editor holds for the selected cell: the typed text, or the field's edit text.
    std::string editor_text() const;
    std::string editor_display() const;
    // Text of a column for the current row, the editor's when that column is being typed.
    std::string column_text(std::string_view field_name) const;

    std::function<void(DBGrid&)> on_col_exit, on_edit_button_click;

    void press_key(char32_t key) override;
    void key_down(int key, ShiftState shift = {}) override;
    void clear_text() override;
    void edit_button_click();
    void do_exit() override;
    // Writes the editor's text into the field (when typed); throws on a bad value.
    void commit_editor();

    // DataLink
    void active_changed() override;
    void state_changed() override;
    void data_changed(Field* f) override;
    void update_data() override { commit_editor(); }
    bool focus_field(Field& f) override;
    void source_destroyed() override { reset_editor(); }

  private:
    bool begin_edit();
    void reset_editor();
    int selected_ = 0;
    bool editor_active_ = false;
    bool editor_modified_ = false;
    std::string editor_inputs_;
    bool committing_ = false;
};

}  // namespace acerto::platform
