#include "acerto/platform/mask.h"

#include "acerto/platform/text.h"

namespace acerto::platform {

namespace {
bool is_mask_code(char32_t c) {
    switch (c) {
        case U'L':
        case U'l':
        case U'A':
        case U'a':
        case U'C':
        case U'c':
        case U'0':
        case U'9':
        case U'#':
            return true;
        default:
            return false;
    }
}
}  // namespace

EditMask::EditMask(std::string_view mask) : source_(mask) {
    std::u32string m = utf8_decode(mask);
    // Split off ";save;blank" from the end: the last two ';' not escaped.
    std::u32string body = m;
    std::vector<std::size_t> semis;
    for (std::size_t i = 0; i < m.size(); ++i) {
        if (m[i] == U'\\') {
            ++i;
            continue;
        }
        if (m[i] == U';') semis.push_back(i);
    }
    if (!semis.empty()) {
        std::size_t first = semis[semis.size() >= 2 ? semis.size() - 2 : 0];
        body = m.substr(0, first);
        std::u32string rest = m.substr(first + 1);
        std::size_t semi = rest.find(U';');
        std::u32string save = semi == std::u32string::npos ? rest : rest.substr(0, semi);
        if (!save.empty()) save_literals_ = save[0] != U'0';
        if (semi != std::u32string::npos && semi + 1 < rest.size()) blank_ = rest[semi + 1];
    }
    Case kase = Case::None;
    for (std::size_t i = 0; i < body.size(); ++i) {
        char32_t c = body[i];
        if (c == U'>') {
            if (i + 1 < body.size() && body[i + 1] == U'<') {
                kase = Case::None;
                ++i;
            } else {
                kase = Case::Upper;
            }
            continue;
        }
        if (c == U'<') {
            kase = Case::Lower;
            continue;
        }
        if (c == U'!') continue;
        if (c == U'\\' && i + 1 < body.size()) {
            items_.push_back({true, body[++i], kase});
            continue;
        }
        if (is_mask_code(c)) {
            items_.push_back({false, c, kase});
            ++inputs_;
        } else {
            items_.push_back({true, c, kase});
        }
    }
}

bool EditMask::fits(const Item& item, char32_t c) const {
    switch (item.ch) {
        case U'L':
        case U'l':
            return is_letter(c);
        case U'A':
        case U'a':
            return is_letter(c) || is_digit(c);
        case U'C':
        case U'c':
            return c >= 32;
        case U'0':
        case U'9':
            return is_digit(c);
        case U'#':
            return is_digit(c) || c == U'+' || c == U'-';
        default:
            return false;
    }
}

char32_t EditMask::apply_case(const Item& item, char32_t c) const {
    if (item.kase == Case::Upper) return to_upper(c);
    if (item.kase == Case::Lower) return to_lower(c);
    return c;
}

char32_t EditMask::accept(std::size_t pos, char32_t key) const {
    std::size_t n = 0;
    for (const auto& item : items_) {
        if (item.literal) continue;
        if (n == pos) return fits(item, key) ? apply_case(item, key) : 0;
        ++n;
    }
    return 0;
}

bool EditMask::is_literal_after(std::size_t pos, char32_t key) const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (!items_[i].literal) {
            ++n;
            continue;
        }
        if (n == pos && items_[i].ch == key) return true;
    }
    return false;
}

std::string EditMask::format(std::string_view value) const {
    if (items_.empty()) return std::string(value);
    std::u32string v = utf8_decode(value);
    std::u32string out;
    std::size_t k = 0;
    for (const auto& item : items_) {
        if (item.literal) {
            out.push_back(item.ch);
            if (save_literals_ && k < v.size()) ++k;
            continue;
        }
        if (k < v.size()) {
            char32_t c = v[k++];
            out.push_back(c == U' ' ? blank_ : apply_case(item, c));
        } else {
            out.push_back(blank_);
        }
    }
    return utf8_encode(out);
}

std::string EditMask::strip(std::string_view text) const {
    if (items_.empty()) return std::string(text);
    std::u32string t = utf8_decode(text);
    std::u32string out;
    std::size_t k = 0;
    for (const auto& item : items_) {
        if (k >= t.size()) break;
        if (item.literal) {
            if (t[k] == item.ch) ++k;
            continue;
        }
        // Skip characters that do not fit (stray literals typed by hand).
        while (k < t.size() && t[k] != blank_ && !fits(item, t[k])) ++k;
        if (k >= t.size()) break;
        char32_t c = t[k++];
        if (c == blank_ || c == U' ') continue;
        out.push_back(apply_case(item, c));
    }
    return utf8_encode(out);
}

std::string EditMask::text_of(std::string_view inputs) const {
    if (items_.empty() || !save_literals_) return std::string(inputs);
    return format(inputs);
}

std::string FormatMaskText(std::string_view mask, std::string_view value) {
    return EditMask(mask).format(value);
}

}  // namespace acerto::platform
