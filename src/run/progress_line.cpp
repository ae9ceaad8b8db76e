#include "run/progress_line.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace {

constexpr std::int64_t rewrite_interval_ns = 500'000'000;
constexpr std::int64_t ns_per_s = 1'000'000'000;

// "3.2 s", "12 min 5 s" or "2 h 3 min".
void duration_text(std::int64_t ns, char (&text)[32]) {
    const double s = static_cast<double>(ns) / ns_per_s;
    const std::int64_t whole = ns / ns_per_s;
    if (s < 60) {
        std::snprintf(text, sizeof text, "%.1f s", s);
    } else if (whole < 3600) {
        std::snprintf(text, sizeof text, "%lld min %lld s", static_cast<long long>(whole / 60),
                      static_cast<long long>(whole % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld h %lld min", static_cast<long long>(whole / 3600),
                      static_cast<long long>(whole / 60 % 60));
    }
}

// The escape sequences that put the cursor at the start of the line and clear it to its end.
constexpr char line_start[] = "\r\033[K";

// The columns the line may fill on the terminal, read again at every rewrite so that a resized
// window is followed: one fewer than the terminal's width, since a character in the last column
// makes some terminals wrap. 79 when the width cannot be found.
std::size_t usable_columns(std::FILE* err) {
    struct winsize size {};
    if (::ioctl(fileno(err), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 79;
    return size.ws_col - 1u;
}

void write_out(std::FILE* err, const char* text, std::size_t size) {
    // Advice only: a terminal that cannot be written is no failure of the run.
    std::fwrite(text, 1, size, err);
    std::fflush(err);
}

}  // namespace

progress_line::~progress_line() {
    erase_progress(*this);
}

void start_progress(progress_line& progress, std::FILE* err, std::int32_t nt, std::int64_t now_ns) {
    progress.err = err != nullptr && isatty(fileno(err)) ? err : nullptr;
    progress.nt = nt;
    progress.start_ns = now_ns;
    progress.next_ns = now_ns + rewrite_interval_ns;
    progress.shown = false;
}

void show_progress(progress_line& progress, std::int32_t step, double time, std::int64_t now_ns) {
    if (progress.err == nullptr || now_ns < progress.next_ns) return;
    progress.next_ns = now_ns + rewrite_interval_ns;
    const std::int64_t elapsed = now_ns - progress.start_ns;
    char time_text[64], elapsed_text[32], left_text[32];
    duration_text(elapsed, elapsed_text);
    const std::int64_t steps_left = std::int64_t{progress.nt} - step;
    duration_text(static_cast<std::int64_t>(static_cast<double>(elapsed) * steps_left / step),
                  left_text);
    const int time_size = std::snprintf(time_text, sizeof time_text, "%.6g", time);
    const std::string_view shown_time(time_text,
                                      time_size > 0 ? static_cast<std::size_t>(time_size) : 0);
    char line[256];
    const int size = std::snprintf(
        line, sizeof line, "%swave1d: step %ld of %ld (%d%%), time %.*s, %s elapsed, about %s left",
        line_start, static_cast<long>(step), static_cast<long>(progress.nt),
        static_cast<int>(100.0 * step / progress.nt), static_cast<int>(shown_time.size()),
        shown_time.data(), elapsed_text, left_text);
    if (size <= 0) return;
    // Cut to the terminal's width, so that the line never wraps: "\r\033[K" clears only the
    // row the cursor is on, and a wrapped line would leave its first rows behind.
    constexpr std::size_t start_size = sizeof line_start - 1;
    const std::size_t text_size =
        std::min<std::size_t>(static_cast<std::size_t>(size), sizeof line - 1) - start_size;
    write_out(progress.err, line, start_size + std::min(text_size, usable_columns(progress.err)));
    progress.shown = true;
}

void erase_progress(progress_line& progress) {
    if (!progress.shown) return;
    write_out(progress.err, line_start, sizeof line_start - 1);
    progress.shown = false;
}
