#include "platform/process.h"

namespace platform {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0;
    const size_t n = line.size();
    while (i < n && IsBlank(line[i]))
        ++i;
    if (i == n) return args;

    // The program token knows no escapes: paths end in backslashes on the
    // system this convention comes from.
    std::string program;
    if (line[i] == '"') {
        size_t close = line.find('"', i + 1);
        size_t end = close == std::string::npos ? n : close;
        program = line.substr(i + 1, end - i - 1);
        i = close == std::string::npos ? n : close + 1;
    } else {
        while (i < n && !IsBlank(line[i]))
            program += line[i++];
    }
    args.push_back(std::move(program));

    for (;;) {
        while (i < n && IsBlank(line[i]))
            ++i;
        if (i == n) break;
        std::string arg;
        bool quoted = false;
        while (i < n && (quoted || !IsBlank(line[i]))) {
            char c = line[i];
            if (c == '\\') {
                size_t count = 0;
                while (i < n && line[i] == '\\') {
                    ++count;
                    ++i;
                }
                if (i < n && line[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(count, '\\');
                }
            } else if (c == '"') {
                if (quoted && i + 1 < n && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
            } else {
                arg += c;
                ++i;
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

} // namespace platform
