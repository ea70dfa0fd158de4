#include "program_run.hpp"
#include "programs.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

namespace morvane::testing {

namespace fs = std::filesystem;

namespace {
std::string slurp(const fs::path& path, bool* ok = nullptr) {
    std::ifstream in(path, std::ios::binary);
    if (ok) *ok = static_cast<bool>(in);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
}  // namespace

Scratch::Scratch() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/morvane-test-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        ADD_FAILURE() << "cannot make a scratch folder from " << pattern;
        return;
    }
    root_ = pattern;
    folder_ = root_ / "run";
    fs::create_directory(folder_);
}

Scratch::~Scratch() {
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
}

Outcome Scratch::run(const std::string& program, const std::vector<std::string>& args) const {
    const fs::path err_path = root_ / "stderr";
    int out_pipe[2];
    if (pipe(out_pipe) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {-1, "", ""};
    }
    const pid_t child = fork();
    if (child == 0) {
        // A program that ran away (scanning to 2^63, say) is stopped by the CPU
        // limit instead of holding up the suite; this is a guard, not a timing.
        const rlimit cpu{300, 300};
        setrlimit(RLIMIT_CPU, &cpu);
        const int null_in = open("/dev/null", O_RDONLY);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (null_in < 0 || err < 0 || chdir(folder_.c_str()) != 0) _exit(127);
        dup2(null_in, 0);
        dup2(out_pipe[1], 1);
        dup2(err, 2);
        close(out_pipe[0]);
        close(out_pipe[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    Outcome outcome{-1, "", ""};
    char buffer[4096];
    for (ssize_t got; (got = ::read(out_pipe[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        outcome.out.append(buffer, static_cast<std::size_t>(got));
    }
    close(out_pipe[0]);
    int wstatus = 0;
    while (waitpid(child, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus)) outcome.status = WEXITSTATUS(wstatus);
    outcome.err = slurp(err_path);
    return outcome;
}

std::vector<std::string> Scratch::names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Scratch::read(const std::string& name) const {
    bool ok = false;
    std::string bytes = slurp(folder_ / name, &ok);
    EXPECT_TRUE(ok) << "cannot read " << name;
    return bytes;
}

void Scratch::write(const std::string& name, const std::string& bytes) const {
    std::ofstream(folder_ / name, std::ios::binary) << bytes;
}

std::string data_file(const std::string& relative) {
    bool ok = false;
    std::string bytes = slurp(fs::path(MORVANE_TEST_DATA) / relative, &ok);
    EXPECT_TRUE(ok) << "cannot read test data " << relative;
    return bytes;
}

}  // namespace morvane::testing

namespace morvane::testing {

std::pair<std::string, std::string> files_of(const std::string& program, const Args& args,
                                             const std::string& q_name,
                                             const std::string& f_name) {
    Scratch own;
    const Outcome o = own.run(program, args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(own.names(), (Names{f_name, q_name}));
    return {own.read(q_name), own.read(f_name)};
}

void expect_refusals(const std::string& program, const std::vector<Refusal>& cases) {
    for (const auto& c : cases) {
        Scratch own;
        const Outcome o = own.run(program, c.args);
        std::string shown;
        for (const auto& a : c.args) shown += "[" + a + "]";
        EXPECT_EQ(o.status, 1) << shown;
        EXPECT_EQ(o.out, c.message) << shown;
        EXPECT_EQ(o.err, "") << shown;
        EXPECT_TRUE(own.names().empty()) << shown << ": a file was created";
    }
}

std::vector<std::string> record_ns(const std::string& file) {
    std::vector<std::string> ns;
    std::istringstream lines(file);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string n, count, excess;
        if (fields >> n >> count >> excess) ns.push_back(n);
    }
    return ns;
}

}  // namespace morvane::testing
