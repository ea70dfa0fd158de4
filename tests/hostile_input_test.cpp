// Hostile input, end to end: arguments near the system's limit for one argument,
// bytes above 127, empty arguments, working folders that cannot be written (as
// an ordinary user: root would write anyway) or that no longer exist. Every case
// must end with the documented message and status, nothing on standard error
// and no crash.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.hpp"
#include "programs.hpp"

namespace morvane::testing {
namespace {

namespace fs = std::filesystem;

// The user the tests become when they run as root, so that file permissions
// apply: nobody and nogroup on Debian.
constexpr uid_t ordinary_uid = 65534;
constexpr gid_t ordinary_gid = 65534;

struct Launch {
    bool as_ordinary_user = false;  // drop root to nobody before exec
    bool remove_folder = false;     // enter the folder, then remove it, then exec
};

// Exit statuses of a child that failed before exec, distinct from the programs'.
constexpr int cannot_drop = 126, cannot_exec = 127;

// Runs the program in `folder` with both output streams caught through pipes.
Outcome launch(const std::string& program, const Args& args, const fs::path& folder,
               Launch how = {}) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {-1, "", ""};
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        // A guard against a run that never ends, not a timing.
        const rlimit cpu{300, 300};
        setrlimit(RLIMIT_CPU, &cpu);
        const int null_in = open("/dev/null", O_RDONLY);
        if (null_in < 0) _exit(cannot_exec);
        dup2(null_in, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1], null_in}) close(fd);
        if (how.as_ordinary_user && geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(ordinary_gid) != 0 ||
                setuid(ordinary_uid) != 0)
                _exit(cannot_drop);
        }
        if (chdir(folder.c_str()) != 0) _exit(cannot_exec);
        if (how.remove_folder && rmdir(folder.c_str()) != 0) _exit(cannot_exec);
        execv(program.c_str(), argv.data());
        _exit(cannot_exec);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    Outcome outcome{-1, "", ""};
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&outcome.out, &outcome.err};
    for (int open_fds = 2; open_fds > 0;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            ADD_FAILURE() << "poll failed";
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[8192];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            } else {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            }
        }
    }
    int wstatus = 0;
    while (waitpid(child, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus)) outcome.status = WEXITSTATUS(wstatus);
    return outcome;
}

bool is_narrow(const Program& program) { return std::string(program.data) == "morvane"; }

class HostileInput : public ::testing::TestWithParam<Program> {
protected:
    // A run that must fail with this message alone and leave the folder empty.
    void expect_refused(const Args& args, const std::string& message) const {
        Scratch own;
        const Outcome o = launch(GetParam().path, args, own.folder());
        EXPECT_EQ(o.status, 1);
        EXPECT_EQ(o.out, message);
        EXPECT_EQ(o.err, "");
        EXPECT_TRUE(own.names().empty());
    }

    Scratch dir;
};

INSTANTIATE_TEST_SUITE_P(Programs, HostileInput, ::testing::ValuesIn(all_programs()),
                         program_name);

// Linux takes at most 131072 bytes for one argument, its terminating NUL
// included.
constexpr std::size_t longest_argument = 131071;

// A p text of 100 KB, and one of the longest an argument can be: p is read
// through all its zeros, and the names are formed in full, far too long for the
// file system; the message carries the whole name.
TEST_P(HostileInput, LongestPTexts) {
    for (const std::size_t length : {std::size_t{100000}, longest_argument}) {
        SCOPED_TRACE(length);
        const std::string text = std::string(length - 1, '0') + "2";
        ASSERT_EQ(text.size(), length);
        expect_refused({text, "10"}, cannot_create("maxdevQ_" + text + "-1.txt"));
    }
}

// White space, signs, digits and trailing letters by the hundred thousand.
TEST_P(HostileInput, HundredKilobyteArguments) {
    const std::string spaces(100000, ' '), zeros(100000, '0'), letters(100000, 'x');
    // p after 100 KB of white space: p = 2 with an empty p text.
    EXPECT_EQ(files_of(GetParam().path, {spaces + "2", "10"}, "maxdevQ_-1.txt", "maxdevF_-1.txt"),
              std::make_pair(p2_q, p2_f));
    // N and nmin behind white space, zeros and a sign, or followed by letters.
    EXPECT_EQ(files_of(GetParam().path, {"2", spaces + "10", "+" + zeros + "1"},
                       "maxdevQ_2-1.txt", "maxdevF_2-1.txt"),
              std::make_pair(p2_q, p2_f));
    EXPECT_EQ(files_of(GetParam().path, {"2", "10" + letters}, "maxdevQ_2-1.txt",
                       "maxdevF_2-1.txt"),
              std::make_pair(p2_q, p2_f));
    // 100 KB of digits saturates at 2^63 - 1, whose low 32 bits make p = -1.
    expect_refused({std::string(100000, '1'), "10"}, bad_p);
    expect_refused({spaces, "10"}, bad_p);
    expect_refused({"2", letters}, small_N);
}

// N and nmin of 100 KB of nines: the largest value each program takes from a
// text (2^32 - 1 in morvane, 2^63 - 1 in morvane-l), so the scan is one n.
// With p = 2 and that odd n, C(n) = (n - 3) / 4 and the F-excess is 3/4.
TEST_P(HostileInput, HundredKilobyteNinesScanOneNumber) {
    const std::string nines(100000, '9');
    const bool narrow = is_narrow(GetParam());
    const std::string n = narrow ? "4294967295" : "9223372036854775807";
    const std::string q_count = narrow ? "1073741823" : "2305843009213693951";
    const std::string f_count = narrow ? "3221225472" : "6917529027641081856";
    const auto [q, f] =
        files_of(GetParam().path, {"2", nines, nines}, "maxdevQ_2-" + n + ".txt",
                 "maxdevF_2-" + n + ".txt");
    EXPECT_EQ(q, n + " " + q_count + "\n");
    EXPECT_EQ(f, n + " " + f_count + " 0.750000000000\n" + n + " " + f_count + "\n");
}

// nmin of a minus sign and 100 KB of nines: the signed 64-bit minimum, whose low
// 32 bits are 0 in morvane; morvane-l takes all 64 bits, 2^63, above N.
TEST_P(HostileInput, HundredKilobyteNegativeNmin) {
    const Args args = {"2", "10", "-" + std::string(99999, '9')};
    if (is_narrow(GetParam())) {
        EXPECT_EQ(files_of(GetParam().path, args, "maxdevQ_2-0.txt", "maxdevF_2-0.txt"),
                  std::make_pair(p2_q, p2_f));
    } else {
        expect_refused(args, big_nmin);
    }
}

// Bytes above 127 are neither white space nor digits: reading stops at them,
// and so does the p text.
TEST_P(HostileInput, BytesAbove127) {
    const std::string program = GetParam().path;
    EXPECT_EQ(files_of(program, {"2\xe9", "10"}, "maxdevQ_2-1.txt", "maxdevF_2-1.txt"),
              std::make_pair(p2_q, p2_f));
    EXPECT_EQ(files_of(program, {"02\x80\xff" "3", "10\xff\xfe"}, "maxdevQ_02-1.txt",
                       "maxdevF_02-1.txt"),
              std::make_pair(p2_q, p2_f));
    // The acute accent of the usage text as nmin: no digits, so 0.
    EXPECT_EQ(files_of(program, {"2", "10", "\xc2\xb4"}, "maxdevQ_2-0.txt", "maxdevF_2-0.txt"),
              std::make_pair(p2_q, p2_f));
    // Further arguments are not read at all.
    EXPECT_EQ(files_of(program, {"2", "10", "1", "\xff\xfe\xfd"}, "maxdevQ_2-1.txt",
                       "maxdevF_2-1.txt"),
              std::make_pair(p2_q, p2_f));
    // A no-break space (Latin-1 and UTF-8) is not white space; other scripts'
    // digits (Arabic-Indic 7, fullwidth 1 0) are not digits.
    expect_refused({"\xa0" "7", "10"}, bad_p);
    expect_refused({"\xc2\xa0" "7", "10"}, bad_p);
    expect_refused({"\xd9\xa7", "10"}, bad_p);
    expect_refused({"\xff"}, bad_p);
    expect_refused({"2", "\xef\xbc\x91\xef\xbc\x90"}, small_N);
    expect_refused({"2", "\x80" "10"}, small_N);
}

// An empty argument has no digits and reads as 0.
TEST_P(HostileInput, EmptyArguments) {
    expect_refused({"", "10"}, bad_p);
    expect_refused({"", "", ""}, bad_p);
    expect_refused({"2", "", "5"}, small_N);
    EXPECT_EQ(files_of(GetParam().path, {"2", "10", ""}, "maxdevQ_2-0.txt", "maxdevF_2-0.txt"),
              std::make_pair(p2_q, p2_f));
    EXPECT_EQ(files_of(GetParam().path, {"2", "10", "1", ""}, "maxdevQ_2-1.txt",
                       "maxdevF_2-1.txt"),
              std::make_pair(p2_q, p2_f));
}

// The working folder is removed after the program was started in it: the Q file
// cannot be created. The checks and the usage text come first all the same.
TEST_P(HostileInput, FolderThatNoLongerExists) {
    struct Case {
        Args args;
        int status;
        std::string out;
    };
    const Case cases[] = {
        {{"2", "10"}, 1, cannot_create("maxdevQ_2-1.txt")},
        {{"05", "10", "3"}, 1, cannot_create("maxdevQ_05-3.txt")},
        {{"1"}, 1, bad_p},
        {{"2", "1"}, 1, small_N},
    };
    for (const auto& c : cases) {
        Scratch own;
        const Outcome o = launch(GetParam().path, c.args, own.folder(), {.remove_folder = true});
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.out, c.out);
        EXPECT_EQ(o.err, "");
        EXPECT_FALSE(fs::exists(own.folder()));
    }
    Scratch own;
    const Outcome o = launch(GetParam().path, {}, own.folder(), {.remove_folder = true});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out.rfind(std::string(GetParam().usage) + "\n", 0), 0u);
    EXPECT_EQ(o.err, "");
}

// Runs as an ordinary user in folders that user may not write to. Root is
// dropped to nobody in the child, which then needs its own copy of the program
// (the build folder may be out of its reach) and a way into the scratch folder.
class OrdinaryUser : public HostileInput {
protected:
    void SetUp() override {
        const fs::path root = dir.folder().parent_path();
        program_ = root / "program";
        fs::copy_file(GetParam().path, program_);
        fs::permissions(program_, fs::perms(0755));
        fs::permissions(root, fs::perms(0711));
        // As root: can the child become nobody and reach the folder?
        if (geteuid() == 0) {
            const pid_t child = fork();
            if (child == 0) {
                if (setgroups(0, nullptr) != 0 || setgid(ordinary_gid) != 0 ||
                    setuid(ordinary_uid) != 0)
                    _exit(cannot_drop);
                _exit(access(dir.folder().c_str(), X_OK) == 0 ? 0 : 1);
            }
            int wstatus = 0;
            while (waitpid(child, &wstatus, 0) < 0 && errno == EINTR) {
            }
            if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) == cannot_drop)
                GTEST_SKIP() << "running as root and cannot become user " << ordinary_uid;
            if (WEXITSTATUS(wstatus) != 0)
                GTEST_SKIP() << "user " << ordinary_uid << " cannot reach " << dir.folder()
                             << " (set TMPDIR to a folder open to all)";
        }
    }

    // The folder belongs to the ordinary user (when the tests are root).
    void own_folder() const {
        if (geteuid() == 0) {
            ASSERT_EQ(chown(dir.folder().c_str(), ordinary_uid, ordinary_gid), 0);
        }
    }

    Outcome run_as_user(const Args& args) const {
        return launch(program_.string(), args, dir.folder(), {.as_ordinary_user = true});
    }

    fs::path program_;
};

INSTANTIATE_TEST_SUITE_P(Programs, OrdinaryUser, ::testing::ValuesIn(all_programs()),
                         program_name);

// A read-only folder of the user's own.
TEST_P(OrdinaryUser, ReadOnlyFolder) {
    own_folder();
    fs::permissions(dir.folder(), fs::perms(0555));
    const Outcome o = run_as_user({"2", "10"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, cannot_create("maxdevQ_2-1.txt"));
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(dir.names().empty());
}

// Someone else's folder, open to read but not to write.
TEST_P(OrdinaryUser, FolderWithoutWritePermission) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another user";
    fs::permissions(dir.folder(), fs::perms(0755));
    const Outcome o = run_as_user({"7", "100", "3"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, cannot_create("maxdevQ_7-3.txt"));
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(dir.names().empty());
}

// A writable folder in which the F file exists and may not be written: the Q
// file is created and left empty, the F file is untouched.
TEST_P(OrdinaryUser, FFileWithoutWritePermission) {
    own_folder();
    fs::permissions(dir.folder(), fs::perms(0755));
    dir.write("maxdevF_2-1.txt", "kept\n");
    fs::permissions(dir.folder() / "maxdevF_2-1.txt", fs::perms(0444));
    const Outcome o = run_as_user({"2", "10"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, cannot_create("maxdevF_2-1.txt"));
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(dir.names(), (Names{"maxdevF_2-1.txt", "maxdevQ_2-1.txt"}));
    EXPECT_EQ(dir.read("maxdevQ_2-1.txt"), "");
    EXPECT_EQ(dir.read("maxdevF_2-1.txt"), "kept\n");
}

// The same user in a folder it may write to: the files are written, so the
// refusals above come from the permissions and not from the way it is run.
TEST_P(OrdinaryUser, WritableFolder) {
    own_folder();
    const Outcome o = run_as_user({"2", "10"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(dir.read("maxdevQ_2-1.txt"), p2_q);
    EXPECT_EQ(dir.read("maxdevF_2-1.txt"), p2_f);
}

}  // namespace
}  // namespace morvane::testing
