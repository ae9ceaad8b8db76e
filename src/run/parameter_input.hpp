#pragma once

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "common/run_parameters.hpp"

// Runs the start-up dialogue: for each of the twelve values, writes the prompt line (flushed,
// so it shows before the program waits), reads the value and writes an empty line.
//
// Reading one value: blank lines and leading blanks are skipped; the item ends at a blank, a
// comma, a slash or the end of the line, and the rest of that line is discarded. Integers are
// an optional sign and decimal digits within the 32-bit range. Reals are an optional sign,
// digits with an optional decimal point (5, 5., .5, 5.5), and an optional exponent introduced
// by E, e, D or d. Throws run_failure with exit_input, naming the value and the reason, when
// input ends, a line gives a null value (begins with a comma) or a slash before any item, an
// item is not a number of the field's type, or a line is longer than 65536 characters.
// A value followed directly by a comma and a digit ("0,5", "1,000") is read as before, up to
// the comma, with a warning on err naming the value read and the text it came from.
RunParameters read_parameters(std::istream& in = std::cin, std::FILE* out = stdout,
                              std::FILE* err = stderr);

// The conversions used above, on an item that has already been cut from its line. They return
// nothing when the item is not a valid number of that type; parse_real also refuses a value
// too large for a double (one that would round to infinity).
std::optional<int> parse_integer(std::string_view item);
std::optional<double> parse_real(std::string_view item);

// The text in double quotes for a message, each byte outside printable ASCII written as \xHH,
// so that a control character or a null byte neither cuts nor garbles the line.
std::string quoted(std::string_view item);
