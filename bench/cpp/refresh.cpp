// Measures what the check before every Vault call costs when no other process
// saved: refresh_vault on an unchanged vault file, against a bare stat of the
// same file, interleaved in the same run. Prints both medians, their ratio and
// the difference; exits non-zero when the check takes more than 5 µs a call.
// The commit-tag path (times too recent to rule out a write in the same tick)
// is timed too, for information.
//
//   bench_refresh [--rounds N]

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "vault/atomic_write.hpp"
#include "vault/format.hpp"
#include "vault/store.hpp"

namespace {

using quillbox::VaultState;
using Steady = std::chrono::steady_clock;
using Nanoseconds = std::chrono::duration<double, std::nano>;

constexpr const char* kKeyEnv = "QUILLBOX_BENCH_KEY";
constexpr int kCallsPerRound = 2000;
constexpr double kGoalNanoseconds = 5000;

// A vault of a few entries, written through a save as the store writes it.
std::filesystem::path write_vault(const std::filesystem::path& directory) {
    quillbox::VaultEntries entries;
    for (const char* name : {"API_TOKEN", "DB_PASSWORD", "SSH_KEY", "WEBHOOK"}) {
        entries.push_back({name, quillbox::SecretBytes(std::string(name) + "-bench-value")});
    }
    const auto image = quillbox::encode_vault(entries, {8, 1, 1}, kKeyEnv);
    const std::filesystem::path path = directory / "vault.bin";
    if (!image || !quillbox::write_atomically(path, *image)) {
        std::fprintf(stderr, "bench_refresh: could not write %s\n", path.c_str());
        std::exit(1);
    }
    return path;
}

VaultState open_or_exit(const std::filesystem::path& path) {
    auto opened = quillbox::open_vault(kKeyEnv, path, false);
    if (!opened) {
        std::fprintf(stderr, "bench_refresh: %s\n", opened.error().to_text().c_str());
        std::exit(1);
    }
    return std::move(*opened);
}

// The mean time of one call over a round of calls.
double time_round(const std::function<void()>& call) {
    const auto start = Steady::now();
    for (int i = 0; i < kCallsPerRound; ++i) call();
    return Nanoseconds(Steady::now() - start).count() / kCallsPerRound;
}

double median(std::vector<double> values) {
    std::ranges::sort(values);
    return values[values.size() / 2];
}

void refresh_or_exit(VaultState& state) {
    if (!quillbox::refresh_vault(state)) {
        std::fprintf(stderr, "bench_refresh: the refresh failed\n");
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 200;
    if (argc == 3 && std::string_view(argv[1]) == "--rounds") rounds = std::atoi(argv[2]);
    ::setenv(kKeyEnv, "benchmark passphrase", 1);
    char pattern[] = "/tmp/quillbox-bench-refresh-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    const std::filesystem::path directory = pattern;
    const std::filesystem::path path = write_vault(directory);

    // Just written: the file's times are too recent to tell a write within the
    // same tick apart, so the check reads the commit tag.
    VaultState recent = open_or_exit(path);
    const double tag_check = time_round([&] { refresh_or_exit(recent); });

    // Once the times are past the margin, the check is one stat.
    std::this_thread::sleep_for(quillbox::kTimestampMargin + std::chrono::milliseconds(200));
    VaultState state = open_or_exit(path);
    const std::uint64_t revision = state.revision();
    std::vector<double> checks;
    std::vector<double> stats;
    for (int round = 0; round < rounds; ++round) {
        checks.push_back(time_round([&] { refresh_or_exit(state); }));
        stats.push_back(time_round([&] {
            struct stat metadata{};
            if (::stat(path.c_str(), &metadata) != 0) std::exit(1);
        }));
    }
    std::filesystem::remove_all(directory);
    if (state.revision() != revision) {
        std::fprintf(stderr, "bench_refresh: an unchanged vault was read again\n");
        return 1;
    }

    const double check = median(checks);
    const double bare = median(stats);
    std::printf("check on an unchanged vault: %.0f ns a call (median of %d rounds)\n", check,
                rounds);
    std::printf("bare stat of the same file:  %.0f ns a call\n", bare);
    std::printf("ratio %.2f, the check adds %.0f ns to the stat\n", check / bare, check - bare);
    std::printf("commit-tag check (recent times): %.0f ns a call\n", tag_check);
    std::printf("goal: at most %.0f ns a call: %s\n", kGoalNanoseconds,
                check <= kGoalNanoseconds ? "met" : "MISSED");
    return check <= kGoalNanoseconds ? 0 : 1;
}
