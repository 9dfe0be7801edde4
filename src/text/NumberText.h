#pragma once
// Number texts as the operator sees them, always with "." as the decimal
// separator and no thousands separators.

#include <string>

namespace zrv::text {

// Fixed notation with `decimals` places, rounded on the exact value (ties
// away from zero) to those places but to no more than `precision`
// significant digits; places past the last significant digit print as 0.
// A value with more than `precision` integer digits is shown in the
// scientific form of formatGeneral. 1.23456 -> "1.23", 123.456 -> "123.50"
// (precision 4, 2 decimals).
std::string formatFixed(double value, int precision, int decimals);

// A number's text with a decimal comma, as spreadsheets under Russian
// settings read numbers ("1.5" would be a date or text there). Only a plain
// number is touched; any other text comes back as it is.
std::string withDecimalComma(std::string text);

// General notation with `precision` significant digits: trailing zeros and
// an unneeded point dropped; fixed when the magnitude is at least 0.0001 and
// the rounded integer part has at most `precision` digits, otherwise
// mantissa, "E" and the exponent ("1E4", "3.277E4", "5E-5"). Zero is "0".
std::string formatGeneral(double value, int precision);

// The same with the limits spelled out: fixed notation needs a magnitude of
// at least `fixedFrom`, and the exponent has at least `exponentDigits`
// digits. The report's G is (7, 0.00001, 1) and its G2 (7, 0.00001, 2).
std::string formatGeneral(double value, int precision, double fixedFrom, int exponentDigits);

}  // namespace zrv::text
