// Fuzz target: argument conversion and the command line up to file creation.
//
// The input is split at its NUL bytes into argument texts (none for an empty
// input, at most five). Each text is read by the core and by the C library, and
// the values must agree: p as atoi and as strtol cut to 32 bits, N and nmin as
// atoi cut to 32 bits (morvane) and as strtoll in 64 bits (morvane-l). The p text
// cut is checked against a direct reimplementation, and whole command lines are
// run through every program's command-line logic, whose message must be the one
// predicted from the C library's values.
//
// The working folder is removed at start-up, so no record file can ever be
// created: a command line that passes the checks ends with the message about a
// file that cannot be created, naming the Q file, and no scan ever runs.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "run/command_line.hpp"
#include "run/set_command_line.hpp"
#include "run/decimal.hpp"
#include "profiles/exact_density.hpp"
#include "profiles/profile.hpp"

namespace {

using morvane::ExactProfile;
using morvane::ExtendedProfile;
using morvane::NarrowProfile;

[[noreturn]] void fail(const char* what, const std::string& text) {
    std::fprintf(stderr, "MISMATCH: %s for the text \"", what);
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"') std::fputc(c, stderr);
        else std::fprintf(stderr, "\\x%02x", c);
    }
    std::fprintf(stderr, "\"\n");
    std::abort();
}

void check_texts(const std::string& text) {
    const char* s = text.c_str();
    if (morvane::decimal_value(s) != std::strtoll(s, nullptr, 10)) fail("decimal_value", text);
    if (morvane::read_p(s) != std::atoi(s)) fail("read_p vs atoi", text);
    if (morvane::read_p(s) != static_cast<std::int32_t>(std::strtol(s, nullptr, 10)))
        fail("read_p vs strtol", text);
    if (morvane::read_count<std::uint32_t>(s) != static_cast<std::uint32_t>(std::atoi(s)))
        fail("read_count<uint32_t> vs atoi", text);
    if (morvane::read_count<std::uint64_t>(s) !=
        static_cast<std::uint64_t>(std::strtoll(s, nullptr, 10)))
        fail("read_count<uint64_t> vs strtoll", text);

    // The cut: in place, at the first byte that is not an ASCII digit, nothing
    // else touched.
    std::vector<char> storage(text.begin(), text.end());
    storage.push_back('\0');
    const std::vector<char> before = storage;
    const std::size_t digits = std::strspn(text.c_str(), "0123456789");
    const char* cut = morvane::cut_p_text(storage.data());
    if (cut != storage.data()) fail("cut_p_text returned another pointer", text);
    for (std::size_t i = 0; i < storage.size(); ++i) {
        const char want = i == digits ? '\0' : before[i];
        if (storage[i] != want) fail("cut_p_text position", text);
    }
}

// Standard output of one call, caught in an anonymous in-memory file.
class CapturedStdout {
public:
    CapturedStdout() : fd_(memfd_create("stdout", 0)), saved_(dup(1)) {
        if (fd_ < 0 || saved_ < 0) std::abort();
    }
    template <class F>
    std::string operator()(F&& call, int& status) {
        std::fflush(stdout);
        if (ftruncate(fd_, 0) != 0 || lseek(fd_, 0, SEEK_SET) != 0 || dup2(fd_, 1) < 0)
            std::abort();
        status = call();
        std::fflush(stdout);
        if (dup2(saved_, 1) < 0) std::abort();
        std::string out;
        char buffer[4096];
        for (off_t at = 0;;) {
            const ssize_t got = pread(fd_, buffer, sizeof buffer, at);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            out.append(buffer, static_cast<std::size_t>(got));
            at += got;
        }
        return out;
    }

private:
    int fd_, saved_;
};

struct Expected {
    int status;
    std::string out;
};

// What a run must print, from the C library's values.
template <class Profile>
Expected expected_run(const std::vector<std::string>& args) {
    using Count = typename Profile::Count;
    constexpr bool narrow = sizeof(Count) == 4;
    if (args.empty()) return {0, std::string(morvane::usage_text) + "\n"};
    auto count = [&](const std::string& t) {
        return narrow ? static_cast<Count>(std::atoi(t.c_str()))
                      : static_cast<Count>(std::strtoll(t.c_str(), nullptr, 10));
    };
    const std::int32_t p = narrow ? std::atoi(args[0].c_str())
                                  : static_cast<std::int32_t>(std::strtol(args[0].c_str(), nullptr, 10));
    const Count N = args.size() > 1 ? count(args[1]) : Count{900};
    const Count nmin = args.size() > 2 ? count(args[2]) : Count{1};
    if (p < 2 || p > 97) return {1, "Error: value of p out of range\n"};
    if (N < 2) return {1, "Error: value of N too small\n"};
    if (N < nmin) return {1, "Error: The value specified for n1 is larger than N\n"};
    const std::string p_text = args[0].substr(0, args[0].find_first_not_of("0123456789"));
    return {1, "The file maxdevQ_" + p_text + "-" + std::to_string(nmin) +
                   ".txt could not be created for writing. Aborting program."};
}

// morvane-x's: options first, "-r" and "-k K" or "-kK" (K digits only, 2 to
// 63) in any order, then p as strtoll reads it, from 2 to 4294967295, or the
// word "all"; the p text of the file names carries the power when it is not 2.
// Without p, its own usage text.
Expected expected_set_run(const std::vector<std::string>& args) {
    std::size_t first = 0;
    int k = 2;
    while (first < args.size()) {
        if (args[first] == "-r") {
            ++first;
            continue;
        }
        if (args[first].compare(0, 2, "-k") != 0) break;
        const bool joined = args[first].size() > 2;
        const std::string text = joined                       ? args[first].substr(2)
                                 : args.size() > first + 1 ? args[first + 1]
                                                           : "";
        first += joined ? 1 : 2;
        if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
            return {1, "Error: value of k is not a number\n"};
        const std::string digits = text.substr(std::min(text.find_first_not_of('0'), text.size() - 1));
        if (digits.size() > 2 || std::stoi(digits) < 2 || std::stoi(digits) > 63)
            return {1, "Error: value of k out of range\n"};
        k = std::stoi(digits);
    }
    if (first >= args.size()) return {0, std::string(morvane::set_usage_text) + "\n"};
    const std::string& p_arg = args[first];
    const long long p = std::strtoll(p_arg.c_str(), nullptr, 10);
    if (p_arg != "all" && (p < 2 || p > 4294967295LL)) return {1, "Error: value of p out of range\n"};
    auto count = [](const std::string& t) {
        return static_cast<std::uint64_t>(std::strtoll(t.c_str(), nullptr, 10));
    };
    const std::uint64_t N = args.size() > first + 1 ? count(args[first + 1]) : 900;
    const std::uint64_t nmin = args.size() > first + 2 ? count(args[first + 2]) : 1;
    if (N < 2) return {1, "Error: value of N too small\n"};
    if (N < nmin) return {1, "Error: The value specified for n1 is larger than N\n"};
    std::string p_text =
        p_arg == "all" ? p_arg : p_arg.substr(0, p_arg.find_first_not_of("0123456789"));
    if (k != 2) p_text += "k" + std::to_string(k);
    return {1, "The file maxdevQ_" + p_text + "-" + std::to_string(nmin) +
                   ".txt could not be created for writing. Aborting program."};
}

template <class Profile>
void check_command_line(const std::vector<std::string>& args, CapturedStdout& capture) {
    // Each argument in storage of its own, as the program receives it.
    std::vector<std::vector<char>> storage;
    std::vector<char*> argv;
    static char name[] = "morvane";
    argv.push_back(name);
    for (const auto& a : args) {
        storage.emplace_back(a.begin(), a.end());
        storage.back().push_back('\0');
    }
    for (auto& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    int status = -1;
    constexpr bool any_set = std::is_same_v<Profile, morvane::ExactProfile>;
    const std::string out = capture(
        [&] {
            if constexpr (any_set)
                return morvane::run_set_command_line(int(argv.size() - 1), argv.data());
            else
                return morvane::run_command_line<Profile>(int(argv.size() - 1), argv.data());
        },
        status);
    const Expected want = any_set ? expected_set_run(args) : expected_run<Profile>(args);
    std::string shown;
    for (const auto& a : args) shown += "[" + a + "]";
    if (status != want.status) fail("command line status", shown);
    if (out != want.out) fail("command line output", shown);
    // The first argument is cut in place once p has been read from it.
    if (!args.empty() && !any_set) {
        const std::size_t digits = std::strspn(args[0].c_str(), "0123456789");
        if (std::strlen(storage[0].data()) != digits ||
            std::memcmp(storage[0].data(), args[0].data(), digits) != 0)
            fail("first argument not cut", shown);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A working folder that no longer exists: every record file fails to be
    // created, so no run can start a scan.
    char folder[] = "/tmp/morvane-fuzz-XXXXXX";
    if (!mkdtemp(folder) || chdir(folder) != 0 || rmdir(folder) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    if (size > 0) {
        const char* text = reinterpret_cast<const char*>(data);
        std::size_t start = 0;
        for (std::size_t i = 0; i <= size && args.size() < 5; ++i) {
            if (i == size || text[i] == '\0') {
                args.emplace_back(text + start, i - start);
                start = i + 1;
            }
        }
    }
    for (const auto& a : args) check_texts(a);
    static CapturedStdout capture;
    check_command_line<NarrowProfile>(args, capture);
    check_command_line<ExtendedProfile>(args, capture);
    check_command_line<ExactProfile>(args, capture);
    return 0;
}
