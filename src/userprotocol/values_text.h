// The values text: the form in which the host gives the variable values of a user packet and
// receives those of a received packet. Entries name=value are joined with "&"; the first character
// of a value is its type: n (decimal number), s (text, two hexadecimal digits per character),
// b (bytes, two digits per byte), a (texts separated by ";", each as for s).
#pragma once

#include <string>
#include <string_view>

#include "style/frame_values.h"
#include "style/style.h"

namespace qb {

// Stores the values of the text in the Style. Malformed entries are skipped one by one; a later
// entry for a name replaces an earlier one. An "s" entry whose name contains the array delimiter
// (and whose data has an even length) is the array form: its data are hexadecimal items separated
// by the delimiter, each read as text and then as a decimal number, and the variable (the name up
// to the delimiter) gets the bytes of those numbers, each modulo 256.
void ReadValuesText(std::u16string_view text, std::u16string_view delimiter, Style& style);

// The values written as a values text: texts (numbers as n, others as s), then byte values, then
// text arrays; by name within each group.
std::u16string WriteValuesText(const FrameValues& values);

}  // namespace qb
