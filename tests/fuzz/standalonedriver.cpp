// A stand-in for libFuzzer's main where clang's libFuzzer is not available:
// runs a harness's LLVMFuzzerTestOneInput on every seed input, on the empty
// input, and then on random mutations of the seeds until the time or run
// budget is spent. It understands the libFuzzer options the smoke tests
// pass (-max_total_time, -runs, -seed, -max_len) and ignores the others;
// folders and files name seed inputs and are only read.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Bytes = std::vector<uint8_t>;

bool readFile(const std::filesystem::path& path, Bytes& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

void run(const Bytes& input)
{
    // A copy of exactly the input's size, so reading past it is caught.
    auto* buf = static_cast<uint8_t*>(std::malloc(input.empty() ? 1 : input.size()));
    if (!input.empty())
        std::copy(input.begin(), input.end(), buf);
    LLVMFuzzerTestOneInput(buf, input.size());
    std::free(buf);
}

// Bytes that matter to the decoders under test: line and field separators,
// protocol-buffers tags and lengths, property-list markers.
const uint8_t kInteresting[] = {0x00, 0x01, 0x02, 0x0a, 0x0d, 0x20, 0x09, ':', ';', '=', '\\', 0x7f, 0x80,
                                0x81, 0xff, 0x12, 0x1a, 0x22, 0x08, 0x10, 0x18, 0x52, '<', '>', '/', 0xd0,
                                0xa0, 0x80, 0x5f, 0x3f, 0x0f};

Bytes mutate(const std::vector<Bytes>& seeds, std::mt19937_64& rng, size_t maxLen)
{
    auto pick = [&](size_t n) { return n ? static_cast<size_t>(rng() % n) : 0; };
    Bytes b = seeds.empty() ? Bytes() : seeds[pick(seeds.size())];
    const int rounds = 1 + static_cast<int>(rng() % 6);
    for (int r = 0; r < rounds; ++r) {
        switch (rng() % 9) {
        case 0:
            if (!b.empty())
                b[pick(b.size())] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1:
            if (!b.empty())
                b[pick(b.size())] = static_cast<uint8_t>(rng());
            break;
        case 2:
            b.insert(b.begin() + static_cast<long>(pick(b.size() + 1)), kInteresting[pick(sizeof kInteresting)]);
            break;
        case 3:
            if (!b.empty()) {
                const size_t at = pick(b.size());
                const size_t n = 1 + pick(std::min<size_t>(b.size() - at, 16));
                b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
            }
            break;
        case 4:
            if (!b.empty()) {
                const size_t at = pick(b.size());
                const size_t n = 1 + pick(std::min<size_t>(b.size() - at, 64));
                const Bytes chunk(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
                b.insert(b.begin() + static_cast<long>(pick(b.size() + 1)), chunk.begin(), chunk.end());
            }
            break;
        case 5:
            b.resize(pick(b.size() + 1));
            break;
        case 6:
            if (!seeds.empty()) {
                const Bytes& other = seeds[pick(seeds.size())];
                const size_t cut = pick(b.size() + 1);
                const size_t from = pick(other.size() + 1);
                b.resize(cut);
                b.insert(b.end(), other.begin() + static_cast<long>(from), other.end());
            }
            break;
        case 7:
            if (!b.empty())
                b[pick(b.size())] = kInteresting[pick(sizeof kInteresting)];
            break;
        default:
            if (!b.empty()) {  // a byte as a small or huge length
                b[pick(b.size())] = (rng() & 1) ? 0xff : static_cast<uint8_t>(rng() % 4);
            }
            break;
        }
    }
    if (b.size() > maxLen)
        b.resize(maxLen);
    return b;
}

} // namespace

int main(int argc, char** argv)
{
    double maxSeconds = 10;
    long long maxRuns = -1;
    unsigned long long seed = std::random_device{}();
    size_t maxLen = 65536;
    std::vector<Bytes> seeds;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            const std::string prefix = std::string("-") + name + "=";
            return a.rfind(prefix, 0) == 0 ? argv[i] + prefix.size() : nullptr;
        };
        if (const char* v = value("max_total_time"))
            maxSeconds = std::atof(v);
        else if (const char* v = value("runs"))
            maxRuns = std::atoll(v);
        else if (const char* v = value("seed"))
            seed = std::strtoull(v, nullptr, 10);
        else if (const char* v = value("max_len"))
            maxLen = static_cast<size_t>(std::atoll(v));
        else if (!a.empty() && a[0] == '-')
            continue;
        else {
            std::error_code ec;
            const std::filesystem::path p(a);
            Bytes b;
            if (std::filesystem::is_directory(p, ec)) {
                for (const auto& e : std::filesystem::directory_iterator(p, ec))
                    if (e.is_regular_file(ec) && readFile(e.path(), b))
                        seeds.push_back(b);
            } else if (readFile(p, b)) {
                seeds.push_back(b);
            }
        }
    }

    std::fprintf(stderr, "standalone fuzz driver: %zu seeds, seed %llu, %.0f s\n", seeds.size(), seed, maxSeconds);
    run(Bytes());
    for (const Bytes& s : seeds)
        run(s);

    std::mt19937_64 rng(seed);
    const auto start = std::chrono::steady_clock::now();
    long long runs = 0;
    for (;; ++runs) {
        if (maxRuns >= 0 && runs >= maxRuns)
            break;
        if ((runs & 63) == 0) {
            const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
            if (spent.count() >= maxSeconds)
                break;
        }
        run(mutate(seeds, rng, maxLen));
    }
    std::fprintf(stderr, "standalone fuzz driver: %lld mutated inputs, no failure\n", runs);
    return 0;
}
