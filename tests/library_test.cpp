// The public API (<morvane.hpp>) as a user links it: values against facts
// known independently of the engine, files against morvane-x's own, and the
// round trip of writing, reading and checking a run.
#include <morvane.hpp>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string bytes_of(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Scratch {
    fs::path dir = fs::temp_directory_path() / ("morvane-library-" + std::to_string(getpid()));
    Scratch() { fs::create_directories(dir); }
    ~Scratch() { fs::remove_all(dir); }
};

TEST(Library, CountsAndDensitiesAgreeWithFactsKnownApart) {
    const morvane::Set squares{morvane::Set::every_prime, 2};
    // 10^18 minus the squarefree count 607927101854026628 (OEIS A071171).
    EXPECT_EQ(morvane::q_count(squares, 1000000000000000000ull), 392072898145977250ull);
    // Up to 100: 4 8 9 12 16 18 20 24 25 27 28 32 36 40 44 45 48 49 50 52 54
    // 56 60 63 64 68 72 75 76 80 81 84 88 90 92 96 98 99 100.
    EXPECT_EQ(morvane::q_count(squares, 100), 39u);
    EXPECT_EQ(morvane::q_count(morvane::Set{2, 2}, ~0ull), ~0ull / 4);
    EXPECT_EQ(morvane::q_count(squares, 0), 0u);

    // delta of {2, 3}: 1 - (3/4)(8/9) = 1/3; of every prime: 1 - 6/pi^2.
    const morvane::Delta third = morvane::delta(morvane::Set{3, 2});
    EXPECT_EQ(third.numerator, "1");
    EXPECT_EQ(third.denominator, "3");
    EXPECT_EQ(third.nearest, 1.0 / 3);
    EXPECT_LT(third.lo, third.hi);
    const morvane::Delta all = morvane::delta(squares);
    EXPECT_TRUE(all.numerator.empty());
    EXPECT_NEAR(all.nearest, 1 - 6 / (M_PI * M_PI), 1e-15);
    EXPECT_LE(all.lo, all.nearest);
    EXPECT_GE(all.hi, all.nearest);
    EXPECT_EQ(std::nextafter(all.lo, 1.0), all.hi);
    // A dyadic delta is exact: 1/4 for {2}.
    const morvane::Delta quarter = morvane::delta(morvane::Set{2, 2});
    EXPECT_EQ(quarter.lo, 0.25);
    EXPECT_EQ(quarter.hi, 0.25);
}

TEST(Library, SetsAreReadAsMorvaneXReadsThem) {
    EXPECT_EQ(morvane::read_set("all", "3"), (morvane::Set{morvane::Set::every_prime, 3}));
    EXPECT_EQ(morvane::set_text(morvane::read_set("1000", "7")), "1000k7");
    EXPECT_EQ(morvane::set_text(morvane::read_set("97")), "97");
    for (const auto& [p, k, message] :
         {std::tuple{"1", "2", "Error: value of p out of range"},
          std::tuple{"4294967296", "2", "Error: value of p out of range"},
          std::tuple{"97", "64", "Error: value of k out of range"},
          std::tuple{"97", "x", "Error: value of k is not a number"}}) {
        try {
            morvane::read_set(p, k);
            ADD_FAILURE() << p << " " << k << " was taken";
        } catch (const std::invalid_argument& refusal) {
            EXPECT_STREQ(refusal.what(), message);
        }
    }
    EXPECT_THROW(morvane::q_count(morvane::Set{97, 1}, 10), std::invalid_argument);
    EXPECT_THROW(morvane::run(morvane::Set{97, 2}, 1), std::invalid_argument);
    EXPECT_THROW(morvane::run(morvane::Set{97, 2}, 100, 101), std::invalid_argument);
}

// A run's files written, read back and checked: the same records, the same
// bytes as morvane-x's, on one thread or several; a record line changed by
// one is refused at its line.
TEST(Library, RunsWriteReadAndCheckAsTheProgramsDo) {
    Scratch scratch;
    const morvane::Set cubes{morvane::Set::every_prime, 3};
    const morvane::Records one = morvane::run(cubes, 3000000, 10);
    EXPECT_EQ(morvane::run(cubes, 3000000, 10, 2), one);
    EXPECT_EQ(one.q_total, morvane::q_count(cubes, 3000000));
    ASSERT_FALSE(one.q.empty());
    ASSERT_FALSE(one.f.empty());
    const auto paths = morvane::write_files(one, scratch.dir.string());
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(fs::path(paths[0]).filename(), "maxdevQ_allk3-10.txt");
    EXPECT_EQ(morvane::read_files(paths[0], paths[1]), one);
    EXPECT_EQ(morvane::check_file(paths[0]), "");
    EXPECT_EQ(morvane::check_file(paths[1]), "");
#ifdef MORVANE_X_PATH
    const fs::path x = scratch.dir / "x";
    fs::create_directories(x);
    const std::string command = "cd '" + x.string() + "' && '" MORVANE_X_PATH "' -k 3 all 3000000 10";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(bytes_of(x / "maxdevQ_allk3-10.txt"), bytes_of(paths[0]));
    EXPECT_EQ(bytes_of(x / "maxdevF_allk3-10.txt"), bytes_of(paths[1]));
#endif

    // The second record's count made one larger.
    std::string q = bytes_of(paths[0]);
    const auto second = q.find('\n') + 1;
    const auto space = q.find(' ', second) + 1;
    const auto end = q.find(' ', space);
    q.replace(space, end - space, std::to_string(std::stoull(q.substr(space, end - space)) + 1));
    std::ofstream(paths[0], std::ios::binary) << q;
    EXPECT_NE(morvane::check_file(paths[0]).find(paths[0] + ": line 2: "), std::string::npos)
        << morvane::check_file(paths[0]);
    try {
        morvane::read_files(paths[0], paths[1]);
        ADD_FAILURE() << "a damaged file was read";
    } catch (const std::invalid_argument& refusal) {
        EXPECT_NE(std::string(refusal.what()).find("line 2"), std::string::npos) << refusal.what();
    }
}

}  // namespace
