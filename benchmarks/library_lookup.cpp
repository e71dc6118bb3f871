// Times keywords::find over the block names of a keyword file: the names as
// written, and canonical_base(name) followed by find (the deck scans' path).
//   library_lookup <deck.k> [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "keywords/library.hpp"
#include "parser/parsed_file.hpp"

using namespace tarvex;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s deck.k [rounds]\n", argv[0]);
        return 2;
    }
    int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    auto parsed = parse_file_blocks(argv[1]);
    if (!parsed.ok()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const ParsedFile& f = parsed.value();
    std::vector<std::string_view> names;
    names.reserve(f.blocks.size());
    for (const Block& b : f.blocks) names.push_back(keyword_name_bytes(f.keyword_line(b)));
    using clock = std::chrono::steady_clock;
    auto time_loop = [&](auto&& body) {
        double best = 1e300;
        std::size_t sink = 0;
        for (int r = 0; r < rounds; ++r) {
            auto t0 = clock::now();
            for (std::string_view n : names) sink += body(n);
            double ns = std::chrono::duration<double, std::nano>(clock::now() - t0).count();
            if (ns < best) best = ns;
        }
        return std::pair<double, std::size_t>{best / static_cast<double>(names.size()), sink};
    };
    auto [find_ns, hits] = time_loop([](std::string_view n) { return keywords::find(n) != nullptr ? 1u : 0u; });
    auto [base_ns, hits2] = time_loop(
        [](std::string_view n) { return keywords::find(keywords::canonical_base(n)) != nullptr ? 1u : 0u; });
    std::printf("blocks %zu\nfind_ns %.1f\nfind_hits %zu\ncanonical_find_ns %.1f\ncanonical_find_hits %zu\n",
                names.size(), find_ns, hits / static_cast<std::size_t>(rounds), base_ns,
                hits2 / static_cast<std::size_t>(rounds));
    return 0;
}
