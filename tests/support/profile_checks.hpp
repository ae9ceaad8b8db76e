#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

// The number of progress-table rows in a console transcript: lines of 32 characters that start
// with "  |  ".
std::size_t table_row_count(const std::string& console);

// Checks both profile files in dir against the rules every run must keep, whatever its values:
// rows blocks in phi.xl (time zero included), rows - 1 in phi.xtl, sampled points records in
// each, phi never written as NaN or as negative zero, and in phi.xtl an empty line after exactly
// the records whose phi is not written as zero. Each phi.xtl record repeats the x and phi of the
// phi.xl record of the same step and point, and neither file holds anything after its last block.
void expect_profile_rules(const std::filesystem::path& dir, std::size_t rows, std::size_t sampled);

// How many times what occurs in text.
std::size_t count_of(const std::string& text, const std::string& what);

// The blocks of the phi.xl in dir: its time lines.
std::size_t profile_blocks(const std::filesystem::path& dir);

// The rows of norms.tsv in dir, each split at its tabs, after checking its header line.
std::vector<std::vector<std::string>> norms_rows(const std::filesystem::path& dir);
