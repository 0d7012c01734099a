// Measures what the executor adds to starting a process.
//
//   bench_run_overhead [--iterations N]
//       The executor on `true` against bare posix_spawnp + waitpid, interleaved
//       in the same run; prints both medians and the difference.
//   bench_run_overhead --capture FILE [--planted VALUE] [--repeat K] [--secrets N]
//       The executor on `cat FILE` with N secrets (100 by default) in the
//       redactor, VALUE being one of them if given; prints the median and best
//       wall time in seconds. bench/capture.py runs this beside subprocess.run.

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "spawn/executor.hpp"

namespace {

using quillbox::RunLimits;
using quillbox::SecretBytes;
using quillbox::SecretList;
using Clock = std::chrono::steady_clock;

constexpr RunLimits kDefaultLimits{300, 52428800, 1048576};

std::vector<SecretBytes> argv_of(const std::vector<std::string>& words) {
    std::vector<SecretBytes> argv;
    for (const std::string& word : words) {
        argv.emplace_back(word);
        argv.back().push_back('\0');
    }
    return argv;
}

// The redactor of a vault of `count` random secrets, one of them `planted`;
// runs of one vault state share it, so it is built once here too.
quillbox::Redactor bench_redactor(std::size_t count, std::string_view planted) {
    std::mt19937_64 random(20240601);
    const std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    SecretList secrets;
    if (count > 0 && !planted.empty()) secrets.push_back({"PLANTED", SecretBytes(planted)});
    while (secrets.size() < count) {
        std::string value;
        for (int i = 0; i < 24; ++i) value += alphabet[random() % alphabet.size()];
        secrets.push_back({"SECRET_" + std::to_string(secrets.size()), SecretBytes(value)});
    }
    auto redactor = quillbox::build_redactor(secrets);
    if (!redactor) {
        std::fprintf(stderr, "%s\n", redactor.error().to_text().c_str());
        std::exit(1);
    }
    return std::move(*redactor);
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

quillbox::RunOutcome run_or_exit(const std::vector<std::string>& words,
                                 const quillbox::Redactor& redactor) {
    auto outcome = quillbox::execute({argv_of(words), redactor, kDefaultLimits});
    if (!outcome) {
        std::fprintf(stderr, "%s\n", outcome.error().to_text().c_str());
        std::exit(1);
    }
    return std::move(*outcome);
}

double time_executor(const quillbox::Redactor& redactor) {
    const auto start = Clock::now();
    run_or_exit({"true"}, redactor);
    return seconds_since(start);
}

double time_bare_spawn() {
    char program[] = "true";
    char* const arguments[] = {program, nullptr};
    char* const environment[] = {nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, program, nullptr, nullptr, arguments, environment) != 0) std::exit(1);
    waitpid(pid, nullptr, 0);
    return seconds_since(start);
}

void measure_overhead(int iterations) {
    const quillbox::Redactor no_secrets = bench_redactor(0, "");
    const quillbox::Redactor hundred_secrets = bench_redactor(100, "");
    std::vector<double> bare, executor, executor_with_secrets;
    for (int i = 0; i < iterations; ++i) {
        bare.push_back(time_bare_spawn());
        executor.push_back(time_executor(no_secrets));
        executor_with_secrets.push_back(time_executor(hundred_secrets));
    }
    const double bare_ms = median(bare) * 1e3;
    const double executor_ms = median(executor) * 1e3;
    const double secrets_ms = median(executor_with_secrets) * 1e3;
    std::printf("`true`, median of %d runs each\n", iterations);
    std::printf("  posix_spawnp + waitpid        %8.3f ms\n", bare_ms);
    std::printf("  executor, no secrets          %8.3f ms  (+%.3f ms)\n", executor_ms,
                executor_ms - bare_ms);
    std::printf("  executor, 100 secrets         %8.3f ms  (+%.3f ms)\n", secrets_ms,
                secrets_ms - bare_ms);
    std::printf("overhead_ms=%.3f goal_ms=1.000\n", executor_ms - bare_ms);
}

void measure_capture(const std::string& file, const std::string& planted, int repeat,
                     std::size_t secret_count) {
    const quillbox::Redactor redactor = bench_redactor(secret_count, planted);
    std::vector<double> times;
    std::size_t captured = 0;
    for (int i = 0; i < repeat; ++i) {
        const auto start = Clock::now();
        const quillbox::RunOutcome outcome = run_or_exit({"cat", file}, redactor);
        times.push_back(seconds_since(start));
        captured = outcome.stdout_text.view().size();
    }
    std::printf("executor_capture median=%.6f best=%.6f stdout_chars=%zu\n", median(times),
                *std::min_element(times.begin(), times.end()), captured);
}

}  // namespace

int main(int argc, char** argv) {
    int iterations = 300;
    int repeat = 7;
    std::size_t secret_count = 100;
    std::string capture_file;
    std::string planted;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view option = argv[i];
        if (option == "--iterations")
            iterations = std::atoi(argv[i + 1]);
        else if (option == "--capture")
            capture_file = argv[i + 1];
        else if (option == "--planted")
            planted = argv[i + 1];
        else if (option == "--repeat")
            repeat = std::atoi(argv[i + 1]);
        else if (option == "--secrets")
            secret_count = std::strtoul(argv[i + 1], nullptr, 10);
    }
    if (capture_file.empty()) {
        measure_overhead(iterations);
    } else {
        measure_capture(capture_file, planted, repeat, secret_count);
    }
    return 0;
}
