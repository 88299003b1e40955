// Cell ordering: how the device list compares two cell texts and sorts a column.
//
// Two texts compare under the first rule that fits both of them:
//   1. hexadecimal: both non-empty and wholly an unsigned base-16 number as strtoul reads it (leading
//      white space, a sign and "0x" allowed); numbers past 64 bits still order by their digits;
//   2. decimal: both a number as strtod reads it in the "C" locale, followed by nothing or by one "%"
//      (NaN is no number);
//   3. date: both a point in time under the date parser (the default one below unless replaced);
//   4. otherwise UTF-16 code-unit order (not code-point order) of the UTF-8 texts.
// The sort is a quicksort with the middle element as pivot: not stable, safe against a comparison
// that is not consistent.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

// Parses a date and time; returns a point in time (any unit, compared only with others of the same
// parser) or nothing when the whole text is not a date. An empty parser means parseCellDate.
using CellDateParser = std::function<std::optional<int64_t>(std::string_view utf8)>;

// The default date parser: "YYYY-MM-DD", "YYYY/MM/DD", "YYYY.MM.DD", each optionally followed by
// " HH:MM" or " HH:MM:SS" (or "T" instead of the space); and "HH:MM:SS". Seconds since 1970-01-01.
std::optional<int64_t> parseCellDate(std::string_view text);

// -1 / 0 / 1 under the rules above.
int compareCellTexts(std::string_view a, std::string_view b, const CellDateParser& parser);

// The order that sorts `texts`: result[newIndex] is the index in `texts` of the text that goes there.
// Each text is parsed once; a date only when a comparison reaches the date rule. Texts that compare
// equal are ordered by `tieKeys` (ascending whatever the direction, then by index) when it is given
// with one key per text; without it their order is the quicksort's.
std::vector<int> cellSortOrder(const std::vector<std::string_view>& texts, bool ascending,
                               const CellDateParser& parser, const std::vector<uint32_t>* tieKeys = nullptr);
