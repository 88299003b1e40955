// Cell ordering: the comparison rules and the sort of a device-list column.
#include "engine/cell_order.h"

#include <cmath>
#include <cstdint>
#include <numeric>
#include <string>
#include <utility>

#include "ss/ss_platform.h"

namespace {

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An unsigned base-16 number as strtoul reads it, where the whole text must be consumed.
// Values past 64 bits keep their significant digits so that long numbers still order correctly.
struct HexKey {
    bool valid = false;
    bool overflow = false;
    uint64_t value = 0;
    std::string digits;  // significant digits, upper case (used only on overflow)
};

HexKey parseHex(std::string_view s) {
    HexKey key;
    size_t i = 0;
    while (i < s.size() && isCSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') && hexDigit(s[i + 2]) >= 0)
        i += 2;
    if (i >= s.size()) return key;
    for (; i < s.size(); ++i) {
        int d = hexDigit(s[i]);
        if (d < 0) return key;
        if (key.digits.empty() && d == 0) continue;
        key.digits.push_back("0123456789ABCDEF"[d]);
        if (key.value > (UINT64_MAX >> 4)) key.overflow = true;
        key.value = (key.value << 4) | static_cast<uint64_t>(d);
    }
    key.valid = true;
    if (key.overflow)
        key.value = UINT64_MAX;
    else if (negative)
        key.value = 0 - key.value;  // strtoul's negation
    return key;
}

int compareHex(const HexKey& a, const HexKey& b) {
    if (a.overflow && b.overflow) {
        if (a.digits.size() != b.digits.size()) return a.digits.size() < b.digits.size() ? -1 : 1;
        int c = a.digits.compare(b.digits);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (a.overflow != b.overflow) return a.overflow ? 1 : -1;
    return a.value < b.value ? -1 : (a.value > b.value ? 1 : 0);
}

// strtod in the "C" locale (the process locale may use ',' as decimal point), followed by nothing or
// by a single "%". NaN is not taken as a number: it would compare equal to everything.
std::optional<double> parseDecimal(std::string_view s) {
    if (s.empty()) return std::nullopt;
    std::string text(s);
    char* end = nullptr;
    double value = ss_platform_strtodC(text.c_str(), &end);
    if (end == text.c_str()) return std::nullopt;
    std::string_view rest(end);
    if (!rest.empty() && rest != "%") return std::nullopt;
    if (std::isnan(value)) return std::nullopt;
    return value;
}

std::u16string toUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
            cp = c & 0x07;
        } else {
            len = 0;  // stray continuation byte or invalid lead byte
        }
        bool ok = len > 0 && i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) {
            unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                ok = false;
            else
                cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

int compareUtf16(const std::u16string& a, const std::u16string& b) {
    int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Everything the comparison rules need from one cell, parsed once per sort. The date is parsed only
// when a comparison reaches the date rule (date parsers can be slow, and in a column without dates
// only the pivots ever get parsed).
struct CellKey {
    bool nonEmpty = false;
    HexKey hex;
    std::optional<double> decimal;
    std::u16string text;
    std::string_view source;  // the cell text, alive for the whole sort
    mutable bool dateParsed = false;
    mutable std::optional<int64_t> date;

    const std::optional<int64_t>& dateOf(const CellDateParser& parser) const {
        if (!dateParsed) {
            date = parser(source);
            dateParsed = true;
        }
        return date;
    }
    bool knownNotDate() const { return dateParsed && !date; }
};

CellKey makeKey(std::string_view text) {
    CellKey key;
    key.source = text;
    key.nonEmpty = !text.empty();
    if (key.nonEmpty) {
        key.hex = parseHex(text);
        key.decimal = parseDecimal(text);
    }
    key.text = toUtf16(text);
    return key;
}

// `b` is the pivot during a sort, so its date is looked at first.
int compareKeys(const CellKey& a, const CellKey& b, const CellDateParser& parser) {
    if (a.nonEmpty && b.nonEmpty && a.hex.valid && b.hex.valid) return compareHex(a.hex, b.hex);
    if (a.decimal && b.decimal) return *a.decimal < *b.decimal ? -1 : (*a.decimal > *b.decimal ? 1 : 0);
    if (!a.knownNotDate() && !b.knownNotDate() && b.dateOf(parser) && a.dateOf(parser)) {
        const int64_t da = *a.date, db = *b.date;
        return da < db ? -1 : (da > db ? 1 : 0);
    }
    return compareUtf16(a.text, b.text);
}

// Quicksort with the middle element as pivot (not stable). Recurses into the smaller part and loops
// on the other, so the depth stays logarithmic; the scans are bounded so that even an inconsistent
// comparison cannot run past the range.
template <typename Cmp>
void quickSort(std::vector<int>& a, int lo, int hi, const Cmp& cmp) {
    while (lo < hi) {
        const int pivot = a[lo + (hi - lo) / 2];
        int i = lo, j = hi;
        while (i <= j) {
            while (i < hi && cmp(a[i], pivot) < 0) ++i;
            while (j > lo && cmp(a[j], pivot) > 0) --j;
            if (i <= j) {
                std::swap(a[i], a[j]);
                ++i;
                --j;
            }
        }
        if (j - lo < hi - i) {
            if (lo < j) quickSort(a, lo, j, cmp);
            lo = i;
        } else {
            if (i < hi) quickSort(a, i, hi, cmp);
            hi = j;
        }
    }
}

// Days from 1970-01-01 of a civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool readNumber(std::string_view s, size_t& i, int minDigits, int maxDigits, int& out) {
    int n = 0, value = 0;
    while (i < s.size() && n < maxDigits && s[i] >= '0' && s[i] <= '9') {
        value = value * 10 + (s[i] - '0');
        ++i;
        ++n;
    }
    out = value;
    return n >= minDigits;
}

bool readTime(std::string_view s, size_t& i, bool secondsRequired, int& h, int& m, int& sec) {
    sec = 0;
    if (!readNumber(s, i, 1, 2, h) || i >= s.size() || s[i] != ':') return false;
    ++i;
    if (!readNumber(s, i, 2, 2, m)) return false;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!readNumber(s, i, 2, 2, sec)) return false;
    } else if (secondsRequired) {
        return false;
    }
    return h <= 23 && m <= 59 && sec <= 59;
}

const CellDateParser& parserOrDefault(const CellDateParser& parser) {
    static const CellDateParser fallback(parseCellDate);
    return parser ? parser : fallback;
}

}  // namespace

std::optional<int64_t> parseCellDate(std::string_view s) {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    size_t i = 0;
    int first = 0;
    const bool dateFirst = readNumber(s, i, 4, 4, first) && i < s.size() && s[i] != ':';
    if (dateFirst) {
        year = first;
        const char sep = s[i];
        if (sep != '-' && sep != '/' && sep != '.') return std::nullopt;
        ++i;
        if (!readNumber(s, i, 1, 2, month) || i >= s.size() || s[i] != sep) return std::nullopt;
        ++i;
        if (!readNumber(s, i, 1, 2, day)) return std::nullopt;
        static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return std::nullopt;
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        if (month == 2 && day == 29 && !leap) return std::nullopt;
        if (i < s.size()) {
            if (s[i] != ' ' && s[i] != 'T') return std::nullopt;
            ++i;
            if (!readTime(s, i, false, hour, minute, second)) return std::nullopt;
        }
    } else {
        i = 0;  // a time of day alone: "H:MM:SS"
        if (!readTime(s, i, true, hour, minute, second)) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    return daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           hour * 3600 + minute * 60 + second;
}

int compareCellTexts(std::string_view a, std::string_view b, const CellDateParser& parser) {
    return compareKeys(makeKey(a), makeKey(b), parserOrDefault(parser));
}

std::vector<int> cellSortOrder(const std::vector<std::string_view>& texts, bool ascending,
                               const CellDateParser& parser, const std::vector<uint32_t>* tieKeys) {
    const CellDateParser& dates = parserOrDefault(parser);
    std::vector<CellKey> keys;
    keys.reserve(texts.size());
    for (std::string_view text : texts) keys.push_back(makeKey(text));

    std::vector<int> order(texts.size());
    std::iota(order.begin(), order.end(), 0);
    if (order.size() > 1) {
        quickSort(order, 0, static_cast<int>(order.size()) - 1, [&](int a, int b) {
            const int c = compareKeys(keys[a], keys[b], dates);
            if (c != 0 || tieKeys == nullptr || tieKeys->size() != keys.size()) return ascending ? c : -c;
            const uint32_t ka = (*tieKeys)[a], kb = (*tieKeys)[b];
            if (ka != kb) return ka < kb ? -1 : 1;
            return a < b ? -1 : (a > b ? 1 : 0);
        });
    }
    return order;
}
