#pragma once
// Fields: a dataset's typed, named columns, read and written on the dataset's active record.
#include <functional>
#include <string>
#include <string_view>

#include "acerto/platform/mask.h"
#include "acerto/platform/packet.h"
#include "acerto/platform/variant.h"

namespace acerto::platform {

class DataSet;

class Field {
  public:
    Field(DataSet& dataset, FieldDef def, bool calculated, int index);

    DataSet& dataset() const { return dataset_; }
    const std::string& name() const { return def_.name; }
    FieldType type() const { return def_.type; }
    int size() const { return def_.size; }
    const FieldDef& def() const { return def_; }
    bool calculated() const { return calculated_; }
    int index() const { return index_; }
    bool is_numeric() const { return def_.type == FieldType::Float || def_.type == FieldType::Integer; }
    bool is_text() const { return def_.type == FieldType::String || def_.type == FieldType::FixedChar; }

    // Presentation properties.
    std::string display_label;  // empty: the name
    const std::string& label() const { return display_label.empty() ? def_.name : display_label; }
    bool visible = true;
    bool read_only = false;
    bool required = false;
    int display_width = 0;
    int tag = 0;
    std::string display_format;  // e.g. "#,##0.00"
    std::string edit_format;     // e.g. "0.00"
    void set_edit_mask(std::string_view mask) { edit_mask_ = EditMask(mask); }
    const EditMask& edit_mask() const { return edit_mask_; }

    // Replaces the text shown for the value (display true) or edited (display false).
    std::function<void(Field&, std::string& text, bool display)> on_get_text;
    // Runs after the value changed through this field.
    std::function<void(Field&)> on_change;

    // Value of the dataset's active record; Null when there is none.
    const Variant& value() const;
    bool is_null() const { return value().is_null(); }
    // Writes the active record; the dataset must be editing or inserting (or computing
    // calculated fields, for a calculated field). The value is converted to the field's type.
    void set_value(const Variant& v);
    void clear() { set_value(Variant()); }

    std::string as_string() const;
    void set_as_string(std::string_view s);
    double as_float() const;
    void set_as_float(double d) { set_value(Variant(d)); }
    long long as_integer() const;
    DateTime as_date_time() const;
    void set_as_date_time(DateTime t) { set_value(Variant(t)); }

    // Text as shown (display format) and as edited (edit format), get-text event applied.
    std::string display_text() const;
    std::string text() const;
    // Reads an edited text: "" clears a number or date; a number uses the host's separators.
    void set_text(std::string_view text);

    // Asks the controls bound to this field to take the focus (grid column or edit box).
    void focus_control();

    // Converts a value to this field's type (throws ConversionError).
    Variant coerce(const Variant& v) const;
    // The same, taking the value over when it is already of the field's kind (a query's rows).
    Variant coerce(Variant&& v) const;

  private:
    std::string format_value(bool display) const;

    DataSet& dataset_;
    FieldDef def_;
    bool calculated_;
    int index_;
    EditMask edit_mask_;
};

}  // namespace acerto::platform
