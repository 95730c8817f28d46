#include "acerto/platform/field.h"

#include <cmath>

#include "acerto/platform/dataset.h"
#include "acerto/platform/errors.h"
#include "acerto/platform/format.h"
#include "acerto/platform/text.h"

namespace acerto::platform {

Field::Field(DataSet& dataset, FieldDef def, bool calculated, int index)
    : dataset_(dataset), def_(std::move(def)), calculated_(calculated), index_(index) {}

const Variant& Field::value() const {
    static const Variant null;
    const Row* row = dataset_.active_row();
    if (!row || static_cast<std::size_t>(index_) >= row->size()) return null;
    return (*row)[static_cast<std::size_t>(index_)];
}

Variant Field::coerce(const Variant& v) const {
    if (v.is_null()) return v;
    switch (def_.type) {
        case FieldType::String:
        case FieldType::FixedChar:
            return v.is_text() ? v : Variant(v.as_string());
        case FieldType::Float:
            return v.is_number() ? v : Variant(v.as_number());
        case FieldType::Integer: {
            double d = v.as_number();
            if (d != std::trunc(d)) throw ConversionError("'" + v.as_string() + "' não é um número inteiro válido.");
            return Variant(d);
        }
        case FieldType::DateTime:
            return v.kind() == Variant::Kind::DateTime ? v : Variant(v.as_date_time());
        case FieldType::Boolean:
            return v.kind() == Variant::Kind::Boolean ? v : Variant(v.as_bool());
    }
    return v;
}

Variant Field::coerce(Variant&& v) const {
    bool same = false;
    switch (def_.type) {
        case FieldType::String:
        case FieldType::FixedChar:
            same = v.is_text();
            break;
        case FieldType::Float:
            same = v.is_number();
            break;
        case FieldType::DateTime:
            same = v.kind() == Variant::Kind::DateTime;
            break;
        case FieldType::Boolean:
            same = v.kind() == Variant::Kind::Boolean;
            break;
        case FieldType::Integer:
            break;
    }
    if (v.is_null() || same) return std::move(v);
    return coerce(static_cast<const Variant&>(v));
}

void Field::set_value(const Variant& v) {
    Row* row = dataset_.active_row_mut();
    if (calculated_) {
        if (dataset_.state() != DataSetState::CalcFields || !row)
            throw DataSetError("O campo calculado " + name() + " só é preenchido pelo cálculo.");
    } else if (!dataset_.editing() || !row) {
        throw DataSetError("O conjunto de dados " + dataset_.name() + " não está em modo de edição ou inclusão.");
    }
    Variant c = coerce(v);
    if (is_text() && def_.size > 0 && c.is_text() && utf8_length(c.text()) > static_cast<std::size_t>(def_.size))
        throw ConversionError("O valor '" + c.text() + "' excede o tamanho do campo " + label() + " (" +
                              std::to_string(def_.size) + " caracteres).");
    (*row)[static_cast<std::size_t>(index_)] = std::move(c);
    if (!calculated_) dataset_.field_changed(*this);
}

std::string Field::as_string() const {
    const Variant& v = value();
    if (v.is_null()) return {};
    if (def_.type == FieldType::Integer) return std::to_string(static_cast<long long>(v.as_number()));
    return v.as_string();
}

void Field::set_as_string(std::string_view s) {
    if (is_text()) {
        set_value(Variant(std::string(s)));
        return;
    }
    if (trim(s).empty()) {
        set_value(Variant());
        return;
    }
    switch (def_.type) {
        case FieldType::Float:
            set_value(Variant(str_to_float(s)));
            break;
        case FieldType::Integer:
            set_value(Variant(static_cast<double>(str_to_int(s))));
            break;
        case FieldType::DateTime:
            set_value(Variant(str_to_date_time(s)));
            break;
        default:
            set_value(Variant(std::string(s)));
    }
}

double Field::as_float() const {
    return value().as_number();
}

long long Field::as_integer() const {
    return static_cast<long long>(std::llround(value().as_number()));
}

DateTime Field::as_date_time() const {
    return value().as_date_time();
}

std::string Field::format_value(bool display) const {
    const Variant& v = value();
    if (v.is_null()) return {};
    switch (def_.type) {
        case FieldType::Float:
        case FieldType::Integer: {
            const std::string& pic = (display || edit_format.empty()) ? display_format : edit_format;
            if (!pic.empty()) return format_float(pic, v.as_number());
            return def_.type == FieldType::Integer ? std::to_string(static_cast<long long>(v.as_number()))
                                                   : float_to_str(v.as_number());
        }
        case FieldType::DateTime:
            return date_time_to_str(v.as_date_time());
        default: {
            // A masked text is shown through its mask (a product code as 1.01.001) while the
            // value keeps no literals; a value the mask cannot hold is shown as it is.
            std::string text = v.as_string();
            if (display && !edit_mask_.empty() && !edit_mask_.save_literals() &&
                utf8_length(text) <= edit_mask_.input_length())
                return edit_mask_.format(text);
            return text;
        }
    }
}

std::string Field::display_text() const {
    std::string t = format_value(true);
    if (on_get_text) on_get_text(const_cast<Field&>(*this), t, true);
    return t;
}

std::string Field::text() const {
    std::string t = format_value(false);
    if (on_get_text) on_get_text(const_cast<Field&>(*this), t, false);
    return t;
}

void Field::set_text(std::string_view text) {
    set_as_string(text);
}

void Field::focus_control() {
    dataset_.focus_field(*this);
}

}  // namespace acerto::platform
