// The bash completion of reelpage-cli, written from the option table when the
// program is built, so that it offers exactly the options the parser takes.
#include "CliOptions.h"

#include <utility>

namespace reelpage::cli {

namespace {

constexpr const char* kIndent = "            ";

// Words for compgen -W, broken into lines that stay readable in the script
// (a line break is one more separator to compgen); the first line starts
// after `column` characters of the script.
std::string WordList(const std::vector<std::string>& words, size_t column) {
    constexpr size_t kWidth = 100;
    std::string list;
    size_t used = column;
    for (const std::string& word : words) {
        if (used > column && used + 1 + word.size() > kWidth) {
            list += std::string("\n") + kIndent;
            used = column = std::string(kIndent).size();
        } else if (used > column) {
            list += ' ';
            ++used;
        }
        list += word;
        used += word.size();
    }
    return list;
}

// The line that offers those of `words` that start with the shell variable
// `word`, after compgen's `options`.
std::string Compgen(const std::string& indent, const std::string& options,
                    const std::vector<std::string>& words, const char* word) {
    const std::string start = indent + "mapfile -t COMPREPLY < <(compgen " + options + "-W \"";
    return start + WordList(words, start.size()) + "\" -- \"$" + word + "\")\n";
}

std::string Offer(const std::vector<std::string>& words) {
    const std::string lines = Compgen(kIndent, "", words, "cur");
    // NAME= goes on with its value, without a space in between.
    for (const std::string& word : words)
        if (!word.empty() && word.back() == '=')
            return lines + kIndent + "compopt -o nospace 2>/dev/null\n";
    return lines;
}

// Files with one of the extensions, and folders to reach them.
std::string FilesAndFolders(const char* extensions) {
    const std::string indent = kIndent;
    return indent + "mapfile -t COMPREPLY < <(compgen -f -X '!*.@(" + extensions +
           ")' -- \"$cur\"\n" + indent + "                         compgen -d -- \"$cur\")\n";
}

// What follows "case $prev in NAME)" for one option's value.
std::string ValueCompletion(const OptionSpec& entry) {
    const std::string indent = kIndent;
    switch (entry.completion) {
    case Completion::None:
        return "";
    case Completion::Directory:
        return indent + "mapfile -t COMPREPLY < <(compgen -d -- \"$cur\")\n";
    case Completion::Picture:
        // The kinds of picture the engine's picture library reads.
        return FilesAndFolders("png|PNG|jpg|JPG|jpeg|JPEG|bmp|BMP|gif|GIF|tif|TIF|tiff|TIFF");
    case Completion::Captions:
        return FilesAndFolders("srt|SRT|vtt|VTT|ass|ASS|ssa|SSA");
    case Completion::Choice:
        return Offer(entry.choices());
    case Completion::ChoiceList:
        return indent + "# A comma-separated list: complete the last item.\n" + indent +
               "local head=\"${cur%,*}\" tail=\"${cur##*,}\"\n" + indent +
               "if [[ \"$cur\" == *,* ]]; then head=\"$head,\"; else head=\"\"; fi\n" +
               Compgen(indent, "-P \"$head\" ", entry.choices(), "tail");
    case Completion::Template:
        return indent + "local names\n" + indent +
               "# \"NUMBER  NAME  (advertisement)\" per template\n" + indent +
               "names=$(reelpage-cli --templates 2>/dev/null | awk '{print $1; print $2}')\n" +
               indent + "mapfile -t COMPREPLY < <(compgen -W \"$names\" -- \"$cur\")\n";
    }
    return "";
}

} // namespace

std::string BashCompletion() {
    // One case per way of completing; options that complete alike share it.
    std::vector<std::pair<std::string, std::string>> cases; // patterns, body
    std::vector<std::string> names;
    for (const OptionSpec& entry : OptionTable()) {
        const std::string shortName = entry.letter ? std::string("-") + entry.letter : "";
        const std::string longName = std::string("--") + entry.name;
        if (!shortName.empty()) names.push_back(shortName);
        names.push_back(longName);
        if (entry.negatable) names.push_back(std::string("--no-") + entry.name);
        if (!entry.value) continue;
        const std::string body = ValueCompletion(entry);
        const std::string patterns = shortName.empty() ? longName : shortName + "|" + longName;
        auto same = cases.begin();
        while (same != cases.end() && same->second != body)
            ++same;
        if (same == cases.end())
            cases.emplace_back(patterns, body);
        else
            same->first += "|" + patterns;
    }

    std::string script = R"(# bash completion for reelpage-cli
_reelpage_cli()
{
    local cur prev
    cur="${COMP_WORDS[COMP_CWORD]}"
    prev="${COMP_WORDS[COMP_CWORD-1]}"

    case "$prev" in
)";
    for (const auto& [patterns, body] : cases)
        script += "        " + patterns + ")\n" + body + kIndent + "return ;;\n";
    script += R"(    esac

    if [[ "$cur" == -* ]]; then
)" + Compgen("        ", "", names, "cur") +
              R"(        return
    fi
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
}
complete -o filenames -F _reelpage_cli reelpage-cli
)";
    return script;
}

} // namespace reelpage::cli
