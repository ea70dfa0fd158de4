// records [-k K] p N [nmin]: the two record files that morvane-x writes for
// the same arguments, maxdevQ_<p>-<nmin>.txt and maxdevF_<p>-<nmin>.txt, in
// the current folder, from the library's run on every core.
#include <morvane.hpp>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    int first = 1;
    std::string k = "2";
    if (argc > 2 && std::string(argv[1]) == "-k") {
        k = argv[2];
        first = 3;
    }
    if (argc < first + 2 || argc > first + 3) {
        std::fprintf(stderr, "usage: records [-k K] p|all N [nmin]\n");
        return 2;
    }
    try {
        const morvane::Set set = morvane::read_set(argv[first], k);
        const std::uint64_t N = std::stoull(argv[first + 1]);
        const std::uint64_t nmin = argc > first + 2 ? std::stoull(argv[first + 2]) : 1;
        const morvane::Records records = morvane::run(set, N, nmin, 0);
        for (const std::string& path : morvane::write_files(records))
            std::printf("%s\n", path.c_str());
        std::printf("%zu Q records, %zu F records, C(%llu) = %llu\n", records.q.size(),
                    records.f.size(), static_cast<unsigned long long>(N),
                    static_cast<unsigned long long>(records.q_total));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
