#include "support/profile_checks.hpp"

#include <gtest/gtest.h>

#include "support/run_wave1d.hpp"

namespace fs = std::filesystem;

namespace {

// The phi field of a record written as zero.
const std::string zero_field = "  0.00000000E+00";

}  // namespace

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::size_t profile_blocks(const fs::path& dir) {
    return count_of(read_file(dir / "phi.xl"), "#Time = ");
}

std::size_t table_row_count(const std::string& console) {
    std::size_t rows = 0;
    for (const auto& line : split_lines(console)) {
        if (line.size() == 32 && line.starts_with("  |  ")) ++rows;
    }
    return rows;
}

void expect_profile_rules(const fs::path& dir, std::size_t rows, std::size_t sampled) {
    const auto xl = split_lines(read_file(dir / "phi.xl"));
    const auto xtl = split_lines(read_file(dir / "phi.xtl"));
    ASSERT_EQ(xl.size(), rows * (sampled + 3));
    std::size_t t = 0;  // next line of phi.xtl
    for (std::size_t block = 0; block < rows; ++block) {
        const std::size_t first = block * (sampled + 3);
        EXPECT_TRUE(xl[first].starts_with("#Time = ") && xl[first].size() == 22) << xl[first];
        EXPECT_EQ(xl[first + sampled + 1], "");
        EXPECT_EQ(xl[first + sampled + 2], "");
        for (std::size_t k = 0; k < sampled; ++k) {
            const std::string& record = xl[first + 1 + k];
            ASSERT_EQ(record.size(), 32u) << record;
            const std::string phi = record.substr(16);
            EXPECT_NE(phi, "             NaN") << "block " << block;
            EXPECT_NE(phi, " -0.00000000E+00") << "block " << block;
            if (block == 0) continue;
            ASSERT_LT(t, xtl.size());
            ASSERT_EQ(xtl[t].size(), 48u) << xtl[t];
            EXPECT_EQ(xtl[t].substr(16), record) << "block " << block;
            ++t;
            if (phi != zero_field) {
                ASSERT_LT(t, xtl.size());
                EXPECT_EQ(xtl[t++], "") << "after a phi of " << phi;
            }
        }
        if (block == 0) continue;
        ASSERT_LT(t + 1, xtl.size());
        EXPECT_EQ(xtl[t++], "");
        EXPECT_EQ(xtl[t++], "");
    }
    EXPECT_EQ(t, xtl.size()) << "phi.xtl has nothing after its last block";
}

std::vector<std::vector<std::string>> norms_rows(const fs::path& dir) {
    const auto lines = split_lines(read_file(dir / "norms.tsv"));
    EXPECT_FALSE(lines.empty()) << "norms.tsv holds its header";
    if (lines.empty()) return {};
    EXPECT_EQ(lines[0],
              "# time\tmax_abs_phi\tl2_phi\tl2_psi\tl2_pi\tenergy\tl2_constraint\tmax_abs_"
              "constraint");
    std::vector<std::vector<std::string>> rows;
    for (std::size_t n = 1; n < lines.size(); ++n) {
        std::vector<std::string> row;
        for (std::size_t start = 0;;) {
            const std::size_t tab = lines[n].find('\t', start);
            row.push_back(lines[n].substr(start, tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        rows.push_back(row);
    }
    return rows;
}
