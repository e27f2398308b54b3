// c2pool_examples <folder> <count> [--seed N] [--passes N] [--vendor TEXT]: writes `count`
// generated submissions for the pool's benchmark and demo.
#include <charconv>
#include <iostream>
#include <string>
#include <vector>

#include "bench/example_submissions.h"

namespace {

const char* const kUsage =
    "Usage : c2pool_examples <folder> <count> [--seed N] [--passes N] [--vendor TEXT]\n";

bool Number(const std::string& text, std::uint64_t most, std::uint64_t& value) {
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    return failure == std::errc() && end == text.data() + text.size() && value <= most;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    bench::ExampleOptions options;
    std::uint64_t count = 0;
    bool usable = args.size() >= 2 && args.size() % 2 == 0 && Number(args[1], 10'000'000, count);
    for (std::size_t i = 2; usable && i + 1 < args.size(); i += 2) {
        std::uint64_t value = 0;
        if (args[i] == "--seed" && Number(args[i + 1], UINT64_MAX, value)) {
            options.seed = value;
        } else if (args[i] == "--passes" &&
                   Number(args[i + 1], report::kMaxSubmissionPasses, value) && value > 0) {
            options.passes = static_cast<int>(value);
        } else if (args[i] == "--vendor" && !args[i + 1].empty() && args[i + 1].size() <= 8) {
            options.vendor = args[i + 1];
        } else {
            usable = false;
        }
    }
    if (!usable) {
        std::cerr << kUsage;
        return 1;
    }
    std::string error;
    if (!bench::WriteExamples(args[0], count, options, error)) {
        std::cerr << error << '\n';
        return 1;
    }
    std::cout << count << " submissions written into \"" << args[0] << "\".\n";
    return 0;
}
