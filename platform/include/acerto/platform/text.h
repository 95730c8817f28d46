#pragma once
// UTF-8 helpers: the screen's texts are Portuguese, so case conversion and character classes
// must know the accented Latin letters, and keys are whole code points.
#include <string>
#include <string_view>

namespace acerto::platform {

std::u32string utf8_decode(std::string_view text);
std::string utf8_encode(std::u32string_view text);
std::string utf8_encode(char32_t ch);
std::size_t utf8_length(std::string_view text);
// Removes the last code point, as Backspace at the end of a box does.
std::string utf8_drop_last(std::string_view text);

char32_t to_upper(char32_t ch);
char32_t to_lower(char32_t ch);
std::string to_upper(std::string_view text);
std::string to_lower(std::string_view text);
bool is_letter(char32_t ch);
bool is_digit(char32_t ch);

std::string trim(std::string_view text);
std::string trim_right(std::string_view text);
bool iequals(std::string_view a, std::string_view b);

}  // namespace acerto::platform
