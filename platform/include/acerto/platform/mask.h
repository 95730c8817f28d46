#pragma once
// Edit masks in the notation the screen uses: "<mask>;<save literals 0|1>;<blank char>".
// Mask characters: > upper case, < lower case, <> no case, \ next char literal, L l letter,
// A a letter or digit, C c any char, 0 9 digit, # digit or sign (upper case letter = required);
// every other character is a literal. E.g. ">aaaa;0; " or the product tree "9.99.999;0;_".
#include <string>
#include <string_view>
#include <vector>

namespace acerto::platform {

class EditMask {
  public:
    EditMask() = default;
    explicit EditMask(std::string_view mask);

    bool empty() const { return items_.empty(); }
    const std::string& source() const { return source_; }
    bool save_literals() const { return save_literals_; }
    char32_t blank() const { return blank_; }
    // Number of input positions (what can be typed, literals excluded).
    std::size_t input_length() const { return inputs_; }

    // The value laid into the mask: with save literals off, the value's characters fill the
    // input positions in order; with it on, the value is matched position by position.
    // Empty positions show the blank character.
    std::string format(std::string_view value) const;
    // The input characters of a value (literals and blanks removed), case applied.
    std::string strip(std::string_view text) const;
    // What the control's Text reads: the input characters, or the formatted text with literals
    // when the mask saves them.
    std::string text_of(std::string_view inputs) const;
    // Whether `key` may be typed at input position `pos`; returns the character to store
    // (case applied) or 0 when refused.
    char32_t accept(std::size_t pos, char32_t key) const;
    // Whether `key` is the literal that follows input position `pos` (typing it just moves on).
    bool is_literal_after(std::size_t pos, char32_t key) const;

  private:
    enum class Case { None, Upper, Lower };
    struct Item {
        bool literal = false;
        char32_t ch = 0;  // literal char or mask code
        Case kase = Case::None;
    };
    std::vector<Item> items_;
    std::string source_;
    std::size_t inputs_ = 0;
    bool save_literals_ = true;
    char32_t blank_ = U'_';

    bool fits(const Item& item, char32_t c) const;
    char32_t apply_case(const Item& item, char32_t c) const;
};

// The platform routine of the same name: `value` laid into `mask`.
std::string FormatMaskText(std::string_view mask, std::string_view value);

}  // namespace acerto::platform
