// A file's lines, read in blocks of 64 KiB (a line longer than a block widens
// it): a merge reads 10^7 lines, and a getline each costs a tenth of the check
// of the line.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::detail {

struct LineReader {
    explicit LineReader(const std::string& path)
        : file(std::fopen(path.c_str(), "r")), buffer(std::size_t{1} << 16) {}
    ~LineReader() {
        if (file) std::fclose(file);
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    // The next line, newline included (the last one may lack it), or nullopt
    // at the end; valid until the next call.
    std::optional<std::string_view> next() {
        for (;;) {
            const char* start = buffer.data() + begin;
            const std::size_t left = end - begin;
            if (const void* newline = std::memchr(start, '\n', left)) {
                const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - start) + 1;
                begin += length;
                return std::string_view(start, length);
            }
            if (at_end) {
                begin = end;
                if (left == 0) return std::nullopt;
                return std::string_view(start, left);
            }
            std::memmove(buffer.data(), start, left);
            begin = 0;
            end = left;
            if (end == buffer.size()) buffer.resize(2 * buffer.size());
            const std::size_t got = std::fread(buffer.data() + end, 1, buffer.size() - end, file);
            end += got;
            at_end = got == 0;
        }
    }
    std::FILE* file;
    std::vector<char> buffer;
    std::size_t begin = 0, end = 0;
    bool at_end = false;
};

}  // namespace morvane::detail
