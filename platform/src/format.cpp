#include "acerto/platform/format.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "acerto/platform/errors.h"
#include "acerto/platform/text.h"

namespace acerto::platform {

FormatSettings& format_settings() {
    static FormatSettings settings;
    return settings;
}

namespace {

// A non-negative decimal number as digits: value = 0.<digits> * 10^point.
struct Decimal {
    bool negative = false;
    std::string digits;  // no leading zeros unless the number is zero ("")
    int point = 0;
};

// The 15-significant-digit decimal form of a double, as the host's formatting reads it.
Decimal to_decimal(double v) {
    Decimal d;
    if (v == 0 || !std::isfinite(v)) return d;
    d.negative = v < 0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(v));
    // buf: D.DDDDDDDDDDDDDDe±XX
    std::string s(buf);
    auto e = s.find('e');
    std::string mant = s.substr(0, e);
    int exp = std::atoi(s.c_str() + e + 1);
    for (char c : mant)
        if (c != '.') d.digits.push_back(c);
    d.point = exp + 1;
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    return d;
}

// Rounds to `decimals` places after the point, half away from zero.
Decimal round_to(Decimal d, int decimals) {
    int keep = d.point + decimals;  // digits kept
    if (keep < 0) return Decimal{};
    if (keep >= static_cast<int>(d.digits.size())) return d;
    bool up = d.digits[keep] >= '5';
    d.digits.resize(keep);
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digits[i] == '9') {
            d.digits[i] = '0';
            --i;
        }
        if (i < 0) {
            d.digits.insert(d.digits.begin(), '1');
            d.point += 1;
        } else {
            d.digits[i] += 1;
        }
    }
    while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
    if (d.digits.empty()) d = Decimal{};
    return d;
}

// Integer part and fraction digits of a decimal.
void split(const Decimal& d, std::string& int_part, std::string& frac_part) {
    int_part.clear();
    frac_part.clear();
    int n = static_cast<int>(d.digits.size());
    for (int i = 0; i < d.point; ++i) int_part.push_back(i < n ? d.digits[i] : '0');
    if (d.point < 0) frac_part.append(static_cast<std::size_t>(-d.point), '0');
    for (int i = std::max(d.point, 0); i < n; ++i) frac_part.push_back(d.digits[i]);
}

struct Section {
    std::string prefix, suffix;
    int min_int = 0;
    bool thousands = false;
    int min_dec = 0, max_dec = 0;
    bool has_digits = false;
};

Section parse_section(std::string_view pic) {
    Section s;
    std::size_t i = 0;
    auto is_ph = [](char c) { return c == '0' || c == '#' || c == ',' || c == '.'; };
    while (i < pic.size() && !is_ph(pic[i])) {
        if (pic[i] == '"' || pic[i] == '\'') {
            char q = pic[i++];
            while (i < pic.size() && pic[i] != q) s.prefix.push_back(pic[i++]);
            ++i;
        } else {
            s.prefix.push_back(pic[i++]);
        }
    }
    bool after_point = false;
    while (i < pic.size() && is_ph(pic[i])) {
        char c = pic[i++];
        s.has_digits = true;
        if (c == '.') {
            after_point = true;
        } else if (c == ',') {
            if (!after_point) s.thousands = true;
        } else if (!after_point) {
            if (c == '0') ++s.min_int;
        } else {
            ++s.max_dec;
            if (c == '0') s.min_dec = s.max_dec;
        }
    }
    while (i < pic.size()) {
        if (pic[i] == '"' || pic[i] == '\'') {
            char q = pic[i++];
            while (i < pic.size() && pic[i] != q) s.suffix.push_back(pic[i++]);
            ++i;
        } else {
            s.suffix.push_back(pic[i++]);
        }
    }
    return s;
}

std::string render(const Section& s, const Decimal& d) {
    const FormatSettings& fs = format_settings();
    std::string ip, fp;
    split(d, ip, fp);
    std::size_t first = ip.find_first_not_of('0');
    ip = first == std::string::npos ? std::string() : ip.substr(first);
    while (static_cast<int>(ip.size()) < s.min_int) ip.insert(ip.begin(), '0');
    while (static_cast<int>(fp.size()) < s.min_dec) fp.push_back('0');
    while (static_cast<int>(fp.size()) > s.min_dec && !fp.empty() && fp.back() == '0') fp.pop_back();
    std::string grouped;
    if (s.thousands && ip.size() > 3) {
        int lead = static_cast<int>(ip.size() % 3);
        for (std::size_t k = 0; k < ip.size(); ++k) {
            if (k != 0 && (static_cast<int>(k) - lead) % 3 == 0) grouped.push_back(fs.thousand_separator);
            grouped.push_back(ip[k]);
        }
    } else {
        grouped = ip;
    }
    std::string out = s.prefix + grouped;
    if (!fp.empty()) {
        out.push_back(fs.decimal_separator);
        out += fp;
    }
    return out + s.suffix;
}

}  // namespace

double round_decimal(double value, int decimals) {
    Decimal d = round_to(to_decimal(value), decimals);
    if (d.digits.empty()) return 0.0;
    std::string s = (d.negative ? "-0." : "0.") + d.digits + "e" + std::to_string(d.point);
    return std::strtod(s.c_str(), nullptr);
}

std::string format_float(std::string_view picture, double value) {
    if (picture.empty()) return float_to_str(value);
    std::vector<std::string_view> sections;
    std::size_t start = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < picture.size(); ++i) {
        if (picture[i] == '"' || picture[i] == '\'') quoted = !quoted;
        if (picture[i] == ';' && !quoted) {
            sections.push_back(picture.substr(start, i - start));
            start = i + 1;
        }
    }
    sections.push_back(picture.substr(start));

    Section pos = parse_section(sections[0]);
    Decimal d = round_to(to_decimal(value), pos.max_dec);
    bool zero = d.digits.empty();
    if (zero && sections.size() >= 3 && !sections[2].empty()) return render(parse_section(sections[2]), Decimal{});
    if (d.negative && !zero) {
        if (sections.size() >= 2 && !sections[1].empty()) {
            Section neg = parse_section(sections[1]);
            Decimal dn = round_to(to_decimal(value), neg.max_dec);
            return render(neg, dn);
        }
        return "-" + render(pos, d);
    }
    return render(pos, d);
}

std::string float_to_str(double value) {
    if (value == 0) return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    std::string s(buf);
    // Exponent form as the host writes it: 1E20, 1,5E-20.
    auto e = s.find('e');
    if (e != std::string::npos) {
        std::string mant = s.substr(0, e);
        int exp = std::atoi(s.c_str() + e + 1);
        s = mant + "E" + (exp < 0 ? "-" : "") + std::to_string(std::abs(exp));
    }
    for (char& c : s)
        if (c == '.') c = format_settings().decimal_separator;
    return s;
}

bool try_str_to_float(std::string_view text, double& out) {
    std::string t = trim(text);
    if (t.empty()) return false;
    const char dec = format_settings().decimal_separator;
    std::string norm;
    std::size_t i = 0;
    if (t[i] == '+' || t[i] == '-') norm.push_back(t[i++]);
    bool digits = false, point = false;
    for (; i < t.size(); ++i) {
        char c = t[i];
        if (c >= '0' && c <= '9') {
            norm.push_back(c);
            digits = true;
        } else if (c == dec && !point) {
            norm.push_back('.');
            point = true;
        } else {
            break;
        }
    }
    if (!digits) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        norm.push_back('e');
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) norm.push_back(t[i++]);
        bool ed = false;
        for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
            norm.push_back(t[i]);
            ed = true;
        }
        if (!ed) return false;
    }
    if (i != t.size()) return false;
    const char* b = norm.c_str();
    if (*b == '+') ++b;
    auto [ptr, ec] = std::from_chars(b, norm.c_str() + norm.size(), out);
    return ec == std::errc() && ptr == norm.c_str() + norm.size() && std::isfinite(out);
}

double str_to_float(std::string_view text) {
    double v;
    if (!try_str_to_float(text, v))
        throw ConversionError("'" + std::string(text) + "' não é um valor numérico válido.");
    return v;
}

bool try_str_to_int(std::string_view text, long long& out) {
    std::string t = trim(text);
    if (t.empty()) return false;
    const char* b = t.c_str();
    if (*b == '+') ++b;
    auto [ptr, ec] = std::from_chars(b, t.c_str() + t.size(), out);
    return ec == std::errc() && ptr == t.c_str() + t.size();
}

long long str_to_int(std::string_view text) {
    long long v;
    if (!try_str_to_int(text, v)) throw ConversionError("'" + std::string(text) + "' não é um número inteiro válido.");
    return v;
}

std::string date_to_str(DateTime value) {
    DateParts p = value.parts();
    char buf[32];
    const char s = format_settings().date_separator;
    std::snprintf(buf, sizeof buf, "%02d%c%02d%c%04d", p.day, s, p.month, s, p.year);
    return buf;
}

std::string time_to_str(DateTime value) {
    DateParts p = value.parts();
    char buf[32];
    const char s = format_settings().time_separator;
    std::snprintf(buf, sizeof buf, "%02d%c%02d%c%02d", p.hour, s, p.minute, s, p.second);
    return buf;
}

std::string date_time_to_str(DateTime value) {
    std::string out = date_to_str(value);
    if (value.time_of_day() != 0) out += " " + time_to_str(value);
    return out;
}

DateTime str_to_date_time(std::string_view text) {
    std::string t = trim(text);
    const FormatSettings& fs = format_settings();
    DateParts p;
    char s1 = 0, s2 = 0, t1 = 0, t2 = 0;
    int n = std::sscanf(t.c_str(), "%2d%c%2d%c%4d %2d%c%2d%c%2d", &p.day, &s1, &p.month, &s2, &p.year, &p.hour, &t1,
                        &p.minute, &t2, &p.second);
    bool ok = n >= 5 && s1 == fs.date_separator && s2 == fs.date_separator;
    if (ok && n > 5) ok = n >= 8 && t1 == fs.time_separator && (n == 8 || t2 == fs.time_separator);
    if (ok && n == 8) p.second = 0;
    if (ok && n == 5) p.hour = p.minute = p.second = 0;
    if (ok) {
        try {
            return DateTime::from_parts(p);
        } catch (const ConversionError&) {
        }
    }
    throw ConversionError("'" + t + "' não é uma data e hora válida.");
}

}  // namespace acerto::platform
