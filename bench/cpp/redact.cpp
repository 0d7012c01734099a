// Times the redaction matcher on files written by bench/redact.py:
//   bench_redact SECRETS PATTERNS REPEATS [TEXT...]
// SECRETS holds "name<TAB>value" lines, PATTERNS one pattern a line. Prints
// key=value lines: the median time of REPEATS builds of the matcher and of the
// redactor, and the matcher's memory: the capacity of its tables, and the
// growth of this process's resident memory while the first one is built,
// which is how the reference's is measured too. Then, for the i-th TEXT, keys
// ending in ".i": the median time of REPEATS matcher scans and redactions, the
// matches found with a checksum of them, and the size of the redacted text.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "redact/pattern_matcher.hpp"
#include "redact/redactor.hpp"

namespace {

using quillbox::PatternMatcher;

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

template <typename Action>
double median_seconds(int repeats, Action&& action) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        action();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        times.push_back(elapsed.count());
    }
    std::ranges::sort(times);
    return times[times.size() / 2];
}

std::size_t resident_bytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t total_pages = 0;
    std::size_t resident_pages = 0;
    statm >> total_pages >> resident_pages;
    return resident_pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

struct TextFigures {
    double matcher_scan_s = 0;
    double redact_s = 0;
    std::size_t matches = 0;
    std::uint64_t checksum = 0;
    std::size_t redacted_bytes = 0;
};

TextFigures measure_text(const PatternMatcher& matcher, const quillbox::Redactor& redactor,
                         std::string_view text, int repeats) {
    TextFigures figures;
    figures.matcher_scan_s = median_seconds(repeats, [&] {
        figures.matches = 0;
        figures.checksum = 0;
        std::size_t offset = 0;
        while (const auto match = matcher.find(text, offset)) {
            ++figures.matches;
            figures.checksum = figures.checksum * 1'000'003 + match->pattern * 7919 +
                               match->start * 31 + match->end;
            offset = match->end;
        }
    });
    figures.redact_s =
        median_seconds(repeats, [&] { figures.redacted_bytes = redactor.redact(text).size(); });
    return figures;
}

void print_text_figures(std::size_t index, const TextFigures& figures) {
    std::printf("matcher_scan_s.%zu=%.6f\nredact_s.%zu=%.6f\n", index, figures.matcher_scan_s,
                index, figures.redact_s);
    std::printf("matches.%zu=%zu\nchecksum.%zu=%llu\nredacted_bytes.%zu=%zu\n", index,
                figures.matches, index, static_cast<unsigned long long>(figures.checksum), index,
                figures.redacted_bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SECRETS PATTERNS REPEATS [TEXT...]\n", argv[0]);
        return 2;
    }
    const std::string secrets_text = read_file(argv[1]);
    const std::string patterns_text = read_file(argv[2]);
    const int repeats = std::stoi(argv[3]);
    std::vector<std::string> texts;
    for (int i = 4; i < argc; ++i) texts.push_back(read_file(argv[i]));

    quillbox::SecretList secrets;
    for (const std::string_view line : split_lines(secrets_text)) {
        const std::size_t tab = line.find('\t');
        secrets.push_back(
            {std::string(line.substr(0, tab)), quillbox::SecretBytes(line.substr(tab + 1))});
    }
    const std::vector<std::string_view> patterns = split_lines(patterns_text);

    // Measured first, before any freed memory can be reused for it.
    const std::size_t resident_before = resident_bytes();
    const auto matcher = PatternMatcher::build(patterns);
    const std::size_t resident_growth = resident_bytes() - resident_before;

    const double matcher_build = median_seconds(repeats, [&] {
        if (!PatternMatcher::build(patterns)) std::abort();
    });
    const double redactor_build = median_seconds(repeats, [&] {
        if (!quillbox::build_redactor(secrets)) std::abort();
    });
    std::printf("matcher_build_s=%.6f\nredactor_build_s=%.6f\n", matcher_build, redactor_build);
    std::printf("memory_bytes=%zu\nresident_growth_bytes=%zu\n", matcher->memory_bytes(),
                resident_growth);

    const auto redactor = quillbox::build_redactor(secrets);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        print_text_figures(i, measure_text(*matcher, *redactor, texts[i], repeats));
    }
    return 0;
}
