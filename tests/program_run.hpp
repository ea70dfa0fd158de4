// Running a built program in a scratch folder of its own, and reading back what
// it left there.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace morvane::testing {

struct Outcome {
    int status;       // exit status, or -1 when the program did not exit normally
    std::string out;  // everything written to standard output
    std::string err;  // everything written to standard error
};

// A fresh empty folder, removed with everything in it at the end of the test.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::filesystem::path& folder() const { return folder_; }

    // Runs the program with these arguments (argv[0] is the program's path),
    // in this folder, with no standard input.
    Outcome run(const std::string& program, const std::vector<std::string>& args) const;

    // The names in the folder, sorted.
    std::vector<std::string> names() const;
    // A file's bytes; fails the test if it cannot be read.
    std::string read(const std::string& name) const;
    void write(const std::string& name, const std::string& bytes) const;

private:
    std::filesystem::path root_;    // holds folder_ and the captured standard error
    std::filesystem::path folder_;  // the program's working folder
};

// A file in tests/data.
std::string data_file(const std::string& relative);

}  // namespace morvane::testing
