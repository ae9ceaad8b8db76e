#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// What a person can read about the program, declared once and written two ways: as the text of
// --help and as the manual page wave1d(1). The twelve values come from input_values, the exit
// statuses from exit_statuses.

// The help text, lines of at most 79 columns. examples names the folder of example inputs.
std::string help_text(std::string_view examples);

// The manual page in man(7) markup.
std::string manual_page(std::string_view examples, std::string_view version);

// The folder of example inputs that exists for this program: the installed one beside an
// installed program (BIN/../share/doc/wave1d/examples), else the checkout's it was built from,
// else "examples".
std::string examples_folder();
