#include "acerto/platform/text.h"

#include "acerto/platform/errors.h"

namespace acerto::platform {

namespace {
std::function<void(const std::string&)>& trace_hook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}
}  // namespace

void set_trace_hook(std::function<void(const std::string&)> hook) {
    trace_hook() = std::move(hook);
}
bool tracing() {
    return static_cast<bool>(trace_hook());
}
void trace(const std::string& what) {
    if (trace_hook()) trace_hook()(what);
}

std::u32string utf8_decode(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if ((c >> 5) == 0x6) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c >> 4) == 0xE) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c >> 3) == 0x1E) {
            cp = c & 0x07;
            extra = 3;
        } else {
            // Not UTF-8: read the byte as Latin-1 rather than lose it.
            out.push_back(c);
            ++i;
            continue;
        }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= text.size()) {
                ok = false;
                break;
            }
            unsigned char cc = static_cast<unsigned char>(text[i + k]);
            if ((cc >> 6) != 0x2) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out.push_back(c);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

std::string utf8_encode(char32_t cp) {
    std::string out;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
    return out;
}

std::string utf8_encode(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text) out += utf8_encode(cp);
    return out;
}

std::size_t utf8_length(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char c : text)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string utf8_drop_last(std::string_view text) {
    if (text.empty()) return {};
    std::size_t i = text.size() - 1;
    while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
    return std::string(text.substr(0, i));
}

// Latin-1 supplement letters: U+00C0..U+00DE upper, U+00E0..U+00FE lower (× and ÷ excepted).
char32_t to_upper(char32_t ch) {
    if (ch >= U'a' && ch <= U'z') return ch - 32;
    if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) return ch - 32;
    return ch;
}

char32_t to_lower(char32_t ch) {
    if (ch >= U'A' && ch <= U'Z') return ch + 32;
    if (ch >= 0xC0 && ch <= 0xDE && ch != 0xD7) return ch + 32;
    return ch;
}

std::string to_upper(std::string_view text) {
    std::u32string s = utf8_decode(text);
    for (auto& c : s) c = to_upper(c);
    return utf8_encode(s);
}

std::string to_lower(std::string_view text) {
    std::u32string s = utf8_decode(text);
    for (auto& c : s) c = to_lower(c);
    return utf8_encode(s);
}

bool is_letter(char32_t ch) {
    return (ch >= U'a' && ch <= U'z') || (ch >= U'A' && ch <= U'Z') ||
           (ch >= 0xC0 && ch <= 0xFF && ch != 0xD7 && ch != 0xF7);
}

bool is_digit(char32_t ch) {
    return ch >= U'0' && ch <= U'9';
}

std::string trim(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    return std::string(text.substr(b, e - b));
}

std::string trim_right(std::string_view text) {
    std::size_t e = text.size();
    while (e > 0 && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
    return std::string(text.substr(0, e));
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        // Different byte lengths can still match only outside ASCII (never for field names).
        bool ascii = true;
        for (unsigned char c : a) ascii = ascii && c < 0x80;
        for (unsigned char c : b) ascii = ascii && c < 0x80;
        if (ascii) return false;
        return to_upper(a) == to_upper(b);
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 0x80 || y >= 0x80) return to_upper(a) == to_upper(b);
        if (x == y) continue;
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace acerto::platform
