#pragma once

#include <string>

namespace pictor {

// Formats value with a number picture such as `#,##0"KB"` or `0.00;(0.00);"none"`.
//
// Picture characters:
//   0        a digit that is always printed (leading or trailing zeros included)
//   #        a digit printed only when significant; a zero value prints no digit for it,
//            so "##%" of 0 gives "%"
//   .        the decimal point (the first one; later ones are dropped)
//   ,        anywhere before the decimal point: group the integer digits by three with ","
//            (dropped from the output; after the point it is ignored)
//   E+0 E-0  (or e+, e-, followed by one or more 0s) scientific notation; "+" always prints
//            the exponent's sign, "-" only a minus; the 0s give the exponent's minimum digits;
//            the picture after the exponent is literal text
//   "..." '...'  literal text, copied without the quotes
//   ;        separates up to three sections: positive; negative; zero. The negative section
//            prints without a minus sign; an absent or empty section falls back to the first,
//            which then prints a leading "-" for negative values. A value that rounds to zero
//            is a zero: it uses the zero section (formatting 0) when there is one, otherwise
//            the first section without a sign.
//   anything else is copied as it stands (UTF-8 text passes through byte for byte).
//
// Integer digits beyond the picture's places are all printed at the first integer place.
//
// Rounding: the value is first converted to its 18 significant decimal digits (correctly
// rounded), the precision of the long double the callers compute in; that decimal is then
// rounded to the shown places with exact halves going away from zero. So 2.5 with "0" gives
// "3", 0.125 with "0.00" gives "0.13" and 2.675L gives "2.68"; a double 2.675 is
// 2.67499999999999982 at 18 digits and gives "2.67", as its true value says.
//
// General formatting (15 significant digits, so a double's binary noise does not show;
// trailing zeros dropped; "1.5E+20" from 1e15 up and below 1e-5) stands in for the picture
// when it is empty, when the chosen section is empty, when a fixed-point result would have
// more than 18 integer digits, and for NaN ("NAN") and infinities ("INF", "-INF").
//
// A picture with an unterminated quote or more than three sections raises pictor::Exception.
std::string FormatFloat(const std::string& picture, long double value);

} // namespace pictor
