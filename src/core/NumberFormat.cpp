#include "core/NumberFormat.h"

#include "core/Exception.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace pictor {

namespace {

// 18 significant digits: what an 80-bit long double holds reliably, and the limit of the
// fixed-point layouts below.
constexpr int kDigits = 18;
// General formatting shows 15, so that a double's binary noise (0.1 is 0.100000000000000006
// at 18 digits) does not show in a fallback text.
constexpr int kGeneralDigits = 15;

// A non-negative decimal value 0.D1D2D3... x 10^IntLen. Digits has no leading zero; an empty
// Digits is zero. IntLen is the number of integer digits when positive.
struct TDecimal {
    std::string Digits;
    int IntLen = 0;
    bool IsZero() const { return Digits.empty(); }
};

// |value| to `digits` correctly rounded significant digits; the conversion is exact, so
// nothing but the true value decides them, and it ignores the locale (Qt sets the user's
// LC_NUMERIC, which would turn printf's point into a comma). value must be finite.
TDecimal ToDecimal(long double value, int digits) {
    TDecimal d;
    value = std::fabs(value);
    if (value == 0) return d;
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, digits - 1);
    if (ec != std::errc()) throw Exception("number conversion failed");
    // "d.ddddde+XX"
    const std::string text(buf, end);
    const size_t e = text.find('e');
    if (e == std::string::npos) throw Exception("number conversion failed");
    for (size_t i = 0; i < e; ++i)
        if (text[i] >= '0' && text[i] <= '9') d.Digits += text[i];
    d.IntLen = std::atoi(text.c_str() + e + 1) + 1;
    while (!d.Digits.empty() && d.Digits.back() == '0')
        d.Digits.pop_back();
    return d;
}

// Keeps `keep` significant digits, rounding an exact half (or more) of the next digit away
// from zero. keep <= 0 keeps none: the result is zero, or one unit of the first dropped place.
void RoundDigits(TDecimal& d, int keep) {
    if (d.IsZero() || keep >= int(d.Digits.size())) return;
    if (keep < 0) {
        d.Digits.clear();
        return;
    }
    const bool up = d.Digits[size_t(keep)] >= '5';
    d.Digits.resize(size_t(keep));
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.Digits[size_t(i)] == '9')
            d.Digits[size_t(i--)] = '0';
        if (i >= 0) {
            ++d.Digits[size_t(i)];
        } else {
            d.Digits.insert(d.Digits.begin(), '1');
            ++d.IntLen;
        }
    }
    while (!d.Digits.empty() && d.Digits.back() == '0')
        d.Digits.pop_back();
}

std::string GeneralFormat(long double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    TDecimal d = ToDecimal(value, kGeneralDigits);
    if (d.IsZero()) return "0";
    std::string out = value < 0 ? "-" : "";
    const int exp10 = d.IntLen - 1;
    if (exp10 >= -5 && exp10 < kGeneralDigits) {
        if (d.IntLen <= 0) {
            out += "0." + std::string(size_t(-d.IntLen), '0') + d.Digits;
        } else if (d.IntLen >= int(d.Digits.size())) {
            out += d.Digits + std::string(size_t(d.IntLen) - d.Digits.size(), '0');
        } else {
            out += d.Digits.substr(0, size_t(d.IntLen)) + "." + d.Digits.substr(size_t(d.IntLen));
        }
        return out;
    }
    out += d.Digits.substr(0, 1);
    if (d.Digits.size() > 1) out += "." + d.Digits.substr(1);
    out += exp10 < 0 ? "E-" : "E+";
    out += std::to_string(std::abs(exp10));
    return out;
}

enum class TTokenKind { Literal, IntDigit, Point, FracDigit, Exponent };

struct TToken {
    TTokenKind Kind;
    std::string Text; // Literal: the text; Exponent: the letter as written
    char Sign = '+';  // Exponent: '+' or '-'
    int Width = 0;    // Exponent: minimum digits
};

struct TSection {
    std::vector<TToken> Tokens;
    int IntPlaces = 0;    // '0' and '#' before the point
    int IntRequired = 0;  // places from the first '0' before the point up to the point
    int FracPlaces = 0;   // '0' and '#' after the point
    int FracRequired = 0; // places after the point up to and including the last '0'
    bool Thousands = false;
    bool Scientific = false;
};

void AddLiteral(TSection& s, const std::string& text) {
    if (!s.Tokens.empty() && s.Tokens.back().Kind == TTokenKind::Literal)
        s.Tokens.back().Text += text;
    else
        s.Tokens.push_back({TTokenKind::Literal, text});
}

// Splits the picture at ';' outside quotes.
std::vector<std::string> SplitSections(const std::string& picture) {
    std::vector<std::string> sections(1);
    char quote = 0;
    for (char c : picture) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';') {
            if (sections.size() == 3)
                throw Exception("number picture has more than three sections: " + picture);
            sections.emplace_back();
            continue;
        }
        sections.back() += c;
    }
    if (quote) throw Exception("number picture has an unterminated quote: " + picture);
    return sections;
}

TSection ParseSection(const std::string& text) {
    TSection s;
    bool point = false;
    int firstIntZero = -1; // index among integer places
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' || c == '\'') {
            const size_t end = text.find(c, i + 1); // SplitSections has checked it exists
            AddLiteral(s, text.substr(i + 1, end - i - 1));
            i = end;
        } else if (s.Scientific) {
            AddLiteral(s, std::string(1, c));
        } else if (c == '0' || c == '#') {
            if (point) {
                ++s.FracPlaces;
                if (c == '0') s.FracRequired = s.FracPlaces;
                s.Tokens.push_back({TTokenKind::FracDigit, {}});
            } else {
                if (c == '0' && firstIntZero < 0) firstIntZero = s.IntPlaces;
                ++s.IntPlaces;
                s.Tokens.push_back({TTokenKind::IntDigit, {}});
            }
        } else if (c == '.') {
            if (!point) s.Tokens.push_back({TTokenKind::Point, {}});
            point = true;
        } else if (c == ',') {
            if (!point) s.Thousands = true;
        } else if ((c == 'E' || c == 'e') && i + 2 < text.size() &&
                   (text[i + 1] == '+' || text[i + 1] == '-') && text[i + 2] == '0') {
            TToken t{TTokenKind::Exponent, std::string(1, c), text[i + 1]};
            size_t j = i + 2;
            while (j < text.size() && text[j] == '0')
                ++j;
            t.Width = int(j - (i + 2));
            s.Tokens.push_back(t);
            s.Scientific = true;
            i = j - 1;
        } else {
            AddLiteral(s, std::string(1, c));
        }
    }
    if (firstIntZero >= 0) s.IntRequired = s.IntPlaces - firstIntZero;
    return s;
}

// The number laid out for one section: integer digits (no leading zeros beyond the required
// places; empty for a zero without required places), fraction digits (trailing zeros beyond
// the required places dropped), and the exponent when scientific.
struct TLayout {
    std::string Int;
    std::string Frac;
    int Exponent = 0;
};

// The digits of d at places from..from+count-1, place 0 being Digits[0]; places outside
// Digits are zeros.
std::string DigitsOf(const TDecimal& d, int from, int count) {
    std::string out;
    for (int p = from; p < from + count; ++p)
        out += (p >= 0 && p < int(d.Digits.size())) ? d.Digits[size_t(p)] : '0';
    return out;
}

void TrimFraction(std::string& frac, int required) {
    while (int(frac.size()) > required && frac.back() == '0')
        frac.pop_back();
}

// Fixed-point layout of a value already rounded to s.FracPlaces decimals.
TLayout FixedLayout(const TSection& s, const TDecimal& d) {
    TLayout l;
    if (!d.IsZero() && d.IntLen > 0) l.Int = DigitsOf(d, 0, d.IntLen);
    if (int(l.Int.size()) < s.IntRequired)
        l.Int.insert(0, size_t(s.IntRequired) - l.Int.size(), '0');
    // Fraction place j holds the digit at Digits index IntLen + j.
    if (!d.IsZero())
        l.Frac = DigitsOf(d, d.IntLen, s.FracPlaces);
    else
        l.Frac.assign(size_t(s.FracPlaces), '0');
    TrimFraction(l.Frac, s.FracRequired);
    return l;
}

// Scientific layout: IntPlaces integer digits (the first one significant), FracPlaces
// decimals; with no integer places the mantissa is 0.ddd.
TLayout ScientificLayout(const TSection& s, TDecimal d) {
    TLayout l;
    const int ints = s.IntPlaces;
    if (d.IsZero()) {
        l.Int.assign(size_t(s.IntRequired), '0');
        l.Frac.assign(size_t(s.FracPlaces), '0');
    } else {
        RoundDigits(d, std::max(1, ints + s.FracPlaces));
        l.Exponent = d.IntLen - ints;
        l.Int = DigitsOf(d, 0, ints);
        l.Frac = DigitsOf(d, ints, s.FracPlaces);
    }
    TrimFraction(l.Frac, s.FracRequired);
    return l;
}

std::string Render(const TSection& s, const TLayout& l, bool minus) {
    std::string out = minus ? "-" : "";
    const int len = int(l.Int.size());
    int intPlace = 0;  // integer places seen so far
    int fracPlace = 0; // fraction places seen so far
    bool intDone = false;
    auto emitInt = [&](int from, int to) { // Int[from..to)
        for (int i = from; i < to; ++i) {
            out += l.Int[size_t(i)];
            const int after = len - 1 - i;
            if (s.Thousands && after > 0 && after % 3 == 0) out += ',';
        }
    };
    // With no integer places the integer digits go before the point or the exponent.
    auto flushIntWithoutPlaces = [&]() {
        if (!intDone && s.IntPlaces == 0) emitInt(0, len);
        intDone = true;
    };
    for (const TToken& t : s.Tokens) {
        switch (t.Kind) {
        case TTokenKind::Literal:
            out += t.Text;
            break;
        case TTokenKind::IntDigit: {
            // Place intPlace stands for digit position (IntPlaces - intPlace) from the right.
            const int pos = s.IntPlaces - intPlace++;
            if (pos == s.IntPlaces && len > pos) emitInt(0, len - pos); // surplus digits
            if (pos <= len) emitInt(len - pos, len - pos + 1);
            break;
        }
        case TTokenKind::Point:
            flushIntWithoutPlaces();
            if (!l.Frac.empty()) out += '.';
            break;
        case TTokenKind::FracDigit:
            if (fracPlace < int(l.Frac.size())) out += l.Frac[size_t(fracPlace)];
            ++fracPlace;
            break;
        case TTokenKind::Exponent: {
            flushIntWithoutPlaces();
            out += t.Text;
            if (l.Exponent < 0)
                out += '-';
            else if (t.Sign == '+')
                out += '+';
            std::string digits = std::to_string(std::abs(l.Exponent));
            if (int(digits.size()) < t.Width)
                digits.insert(0, size_t(t.Width) - digits.size(), '0');
            out += digits;
            break;
        }
        }
    }
    return out;
}

// Rounds |value| as section s shows it.
TDecimal RoundFor(const TSection& s, long double value) {
    TDecimal d = ToDecimal(value, kDigits);
    if (!s.Scientific) RoundDigits(d, d.IntLen + s.FracPlaces);
    return d;
}

} // namespace

std::string FormatFloat(const std::string& picture, long double value) {
    const std::vector<std::string> texts = SplitSections(picture);
    if (!std::isfinite(value) || texts[0].empty()) return GeneralFormat(value);

    const bool negative = value < 0;
    const bool ownNegative = negative && texts.size() >= 2 && !texts[1].empty();
    const bool ownZero = texts.size() == 3 && !texts[2].empty();

    TSection section = ParseSection(texts[ownNegative ? 1 : 0]);
    TDecimal d = RoundFor(section, value);
    bool minus = negative && !ownNegative;
    if (d.IsZero()) {
        // A zero, however it was reached, prints without sign.
        minus = false;
        if (ownZero)
            section = ParseSection(texts[2]);
        else if (ownNegative)
            section = ParseSection(texts[0]);
        d = TDecimal{};
    }
    if (section.Scientific) return Render(section, ScientificLayout(section, d), minus);
    if (d.IntLen > kDigits) return GeneralFormat(value);
    return Render(section, FixedLayout(section, d), minus);
}

} // namespace pictor
