// reelpage-cli's command line: words split at NUL bytes, lines at an empty
// word, each line parsed in turn in the same process.
#include "CliOptions.h"
#include "fuzz_support.h"

#include <string>
#include <vector>

namespace {

void ParseLine(std::vector<std::string> words) {
    words.insert(words.begin(), "reelpage-cli");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    reelpage::cli::CliOptions options;
    std::string error;
    reelpage::cli::ParseCommandLine(int(words.size()), argv.data(), &options, &error);
    for (const std::string& w : words) {
        int64_t us = 0;
        reelpage::cli::ParseTime(w, &us);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input = fuzz::Bytes(data, size);
    std::vector<std::string> words;
    for (size_t at = 0; at <= input.size();) {
        const size_t end = std::min(input.find('\0', at), input.size());
        if (end == at && !words.empty()) {
            ParseLine(std::move(words));
            words.clear();
        } else if (words.size() < 64) {
            words.emplace_back(input.substr(at, end - at));
        }
        at = end + 1;
    }
    ParseLine(std::move(words));
    return 0;
}
