// Runs a libFuzzer-style target without libFuzzer: over every file named on
// the command line (a folder means every file in it), then over seeded
// pseudo-random inputs and mutations of earlier ones. Any fault the target
// finds ends the run through the sanitizers or an abort, so as a test it fails.
//
//   <target> [-runs=N] [-seed=S] [-max_len=L] [-max_total_time=SECONDS] [file-or-folder ...]
//
// The same seed always gives the same inputs, so a failing run can be
// repeated under a debugger. -max_total_time ends the generated inputs early
// once that many seconds have passed since the start (the files are always
// all run); the inputs run are still the first ones of the seed's sequence.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

using Input = std::vector<std::uint8_t>;

struct Options
{
    long runs = 3000;
    std::uint64_t seed = 1;
    std::size_t maxLen = 4096;
    unsigned long long maxSeconds = 0; // 0: no time limit
    std::vector<std::string> paths;
};

bool numberOption(const char* arg, const char* name, unsigned long long& value)
{
    const std::size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0)
        return false;
    char* end = nullptr;
    value = std::strtoull(arg + n, &end, 10);
    if (end == arg + n || *end != '\0') {
        std::fprintf(stderr, "bad option %s\n", arg);
        std::exit(2);
    }
    return true;
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        unsigned long long v = 0;
        if (numberOption(argv[i], "-runs=", v))
            o.runs = static_cast<long>(v);
        else if (numberOption(argv[i], "-seed=", v))
            o.seed = v;
        else if (numberOption(argv[i], "-max_total_time=", v))
            o.maxSeconds = v;
        else if (numberOption(argv[i], "-max_len=", v))
            o.maxLen = v > 0 ? static_cast<std::size_t>(v) : 1;
        else if (argv[i][0] == '-')
            std::fprintf(stderr, "ignoring option %s\n", argv[i]);
        else
            o.paths.emplace_back(argv[i]);
    }
    return o;
}

Input readFile(const std::filesystem::path& path, std::size_t maxLen)
{
    std::ifstream in(path, std::ios::binary);
    Input data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() > maxLen)
        data.resize(maxLen);
    return data;
}

void run(const Input& input)
{
    static const std::uint8_t empty = 0;
    LLVMFuzzerTestOneInput(input.empty() ? &empty : input.data(), input.size());
}

class Mutator
{
public:
    Mutator(std::uint64_t seed, std::size_t maxLen) : rng_(seed), maxLen_(maxLen) {}

    std::size_t below(std::size_t n) { return n ? static_cast<std::size_t>(rng_() % n) : 0; }

    // Lengths mostly short, sometimes anywhere up to the limit, sometimes the limit.
    Input random()
    {
        const std::size_t caps[] = { 16, 256, maxLen_ + 1 };
        std::size_t len = below(caps[below(3)]);
        if (below(8) == 0)
            len = maxLen_;
        len = std::min(len, maxLen_);
        Input data(len);
        for (auto& b : data)
            b = byte();
        return data;
    }

    void mutate(Input& data)
    {
        const std::size_t steps = 1 + below(8);
        for (std::size_t i = 0; i < steps; ++i) {
            switch (below(7)) {
            case 0: // flip a bit
                if (!data.empty())
                    data[below(data.size())] ^= static_cast<std::uint8_t>(1u << below(8));
                break;
            case 1:
            case 2: // overwrite a byte, often with one the parsers treat specially
                if (!data.empty())
                    data[below(data.size())] = byte();
                break;
            case 3: // insert
                if (data.size() < maxLen_)
                    data.insert(data.begin() + static_cast<long>(below(data.size() + 1)), byte());
                break;
            case 4: // erase
                if (!data.empty())
                    data.erase(data.begin() + static_cast<long>(below(data.size())));
                break;
            case 5: { // copy a run of bytes elsewhere
                if (data.size() < 2)
                    break;
                const std::size_t from = below(data.size());
                const std::size_t to = below(data.size());
                const std::size_t n = 1 + below(std::min(data.size() - std::max(from, to), std::size_t(64)));
                std::memmove(data.data() + to, data.data() + from, n);
                break;
            }
            default: // cut short
                data.resize(below(data.size() + 1));
                break;
            }
        }
    }

private:
    std::uint8_t byte()
    {
        static const std::uint8_t special[] = { 0x00, 0x01, 0x02, 0x03, 0x07, 0x08, 0x0A, 0x0B, 0x0C, 0x0D,
                                                0x0F, 0x10, 0x55, 0x59, 0x7F, 0x80, 0xAA, 0xBB, 0xCC, 0xFF };
        if (below(2))
            return special[below(sizeof special)];
        return static_cast<std::uint8_t>(rng_());
    }

    std::mt19937_64 rng_;
    std::size_t maxLen_;
};

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    const Options options = parse(argc, argv);
    const auto start = std::chrono::steady_clock::now();
    const auto outOfTime = [&options, start] {
        return options.maxSeconds > 0
            && std::chrono::steady_clock::now() - start >= std::chrono::seconds(options.maxSeconds);
    };

    std::vector<Input> pool;
    for (const std::string& p : options.paths) {
        std::error_code ec;
        if (std::filesystem::is_directory(p, ec)) {
            for (const auto& entry : std::filesystem::directory_iterator(p, ec))
                if (entry.is_regular_file(ec))
                    pool.push_back(readFile(entry.path(), options.maxLen));
        } else {
            pool.push_back(readFile(p, options.maxLen));
        }
    }
    for (const Input& seed : pool)
        run(seed);
    const std::size_t seeds = pool.size();

    constexpr std::size_t poolLimit = 256;
    Mutator m(options.seed, options.maxLen);
    long generated = 0;
    for (; generated < options.runs && !outOfTime(); ++generated) {
        Input input;
        if (!pool.empty() && m.below(3) != 0) {
            input = pool[m.below(pool.size())];
            m.mutate(input);
        } else {
            input = m.random();
        }
        run(input);
        // Grow the pool from what was run; the seeds themselves stay.
        if (pool.size() < poolLimit)
            pool.push_back(std::move(input));
        else if (seeds < poolLimit)
            pool[seeds + m.below(poolLimit - seeds)] = std::move(input);
    }
    std::printf("%zu seed inputs and %ld generated inputs run, seed %llu\n", seeds, generated,
                static_cast<unsigned long long>(options.seed));
    return 0;
}
