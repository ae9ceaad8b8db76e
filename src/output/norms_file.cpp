#include "output/norms_file.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

NormsFile::NormsFile(NormsFile&& other) noexcept
    : file(std::exchange(other.file, buffered_file{})) {}

NormsFile::~NormsFile() {
    close_buffered_file(file, false);
}

NormsFile open_norms_file() {
    NormsFile norms;
    open_buffered_file(norms.file, "norms.tsv");
    char* p = reserve(norms.file, norms_header.size());
    std::memcpy(p, norms_header.data(), norms_header.size());
    norms.file.used += norms_header.size();
    return norms;
}

// to_chars writes a NaN with its sign bit as "-nan"; every NaN is written "nan", which every
// reader of the file takes.
char* format_norm(char* first, double value) {
    if (std::isnan(value)) {
        std::memcpy(first, "nan", 3);
        return first + 3;
    }
    return std::to_chars(first, first + longest_norm, value).ptr;
}

void write_norms_row(NormsFile& norms, double time, const field_norms& values) {
    const double row[] = {
        time,         values.max_abs_phi, values.l2_phi,        values.l2_psi,
        values.l2_pi, values.energy,      values.l2_constraint, values.max_abs_constraint};
    constexpr std::size_t columns = sizeof row / sizeof row[0];
    char* const start = reserve(norms.file, columns * (longest_norm + 1));
    char* p = start;
    for (std::size_t c = 0; c < columns; ++c) {
        p = format_norm(p, row[c]);
        *p++ = c + 1 < columns ? '\t' : '\n';
    }
    norms.file.used += static_cast<std::size_t>(p - start);
}

void flush_norms_file(NormsFile& norms) {
    if (norms.file.fd < 0) return;
    flush_buffer(norms.file);
}

void close_norms_file(NormsFile& norms) {
    close_buffered_file(norms.file, true);
}
