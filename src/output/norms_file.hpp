#pragma once

#include <string_view>

#include "common/field_norms.hpp"
#include "output/buffered_file.hpp"

// The first line of norms.tsv: the names of its columns, separated by tabs.
inline constexpr std::string_view norms_header =
    "# time\tmax_abs_phi\tl2_phi\tl2_psi\tl2_pi\tenergy\tl2_constraint\tmax_abs_constraint\n";

// The longest number a row holds: a shortest round-trip double ("-2.2250738585072014e-308").
inline constexpr std::size_t longest_norm = 24;

// "norms.tsv": the header, then one row per output time of the time and the norms of the
// fields, tab-separated. Open from open_norms_file to the end of the run; whatever is still
// buffered when it is destroyed is written out, without checking; close_norms_file is the
// checked way to end.
struct NormsFile {
    buffered_file file;

    NormsFile() = default;
    NormsFile(NormsFile&&) noexcept;
    NormsFile& operator=(NormsFile&&) = delete;
    ~NormsFile();
};

// Creates or empties "norms.tsv" in the current directory and buffers its header. Throws
// run_failure with exit_output, naming the file and the system's reason, when it cannot be
// opened.
NormsFile open_norms_file();

// One row: time and the seven norms, each as the shortest decimal that reads back as the same
// double (std::to_chars), "inf" or "-inf" where infinite and "nan" for every NaN, separated by
// tabs.
void write_norms_row(NormsFile& norms, double time, const field_norms& values);

// value as a row writes it, at first; returns the end of the text (at most longest_norm on).
char* format_norm(char* first, double value);

// Writes out what is buffered; throws run_failure with exit_output when the write fails.
void flush_norms_file(NormsFile& norms);

// Writes out what is buffered and closes the file; throws run_failure with exit_output when a
// write or the close fails.
void close_norms_file(NormsFile& norms);
