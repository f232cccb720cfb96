#pragma once
// What a batch of reelpage-cli works through: the files named on the command
// line, and the video files of the folders named.
#include <string>
#include <string_view>
#include <vector>

namespace reelpage::cli {

struct BatchInput {
    std::string path;  // as given, or the folder as given joined with the file's path in it
    std::string error; // why nothing of it can be tried (a folder without videos)
};

// By the name alone: what a folder's listing hands to the import, whose probe
// still judges each file. Ogg is left out: far more such files are music.
bool IsVideoFileName(std::string_view name);

// The inputs in the order named; a folder's videos (and with recursive, its
// subfolders' too) in name order, with numbers compared by value ("clip2"
// before "clip10"). Hidden files and folders are skipped; a file reached
// twice is taken once. Anything that is not a folder is taken as it is: the
// import says what is wrong with it.
std::vector<BatchInput> ListBatchInputs(const std::vector<std::string>& args, bool recursive);

} // namespace reelpage::cli
