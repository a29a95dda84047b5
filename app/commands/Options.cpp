#include "app/commands/Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <set>

#include "app/Arguments.h"
#include "app/ImageFile.h"

std::optional<std::uint32_t> ByteOption::value() const {
    if (option == nullptr || option->count() == 0) {
        return std::nullopt;
    }
    std::string problem;
    return parseByteCount(text, problem);
}

void addByteOption(CLI::App* command, const char* name, ByteOption& storage, const char* help, const char* kind) {
    storage.option = command
                         ->add_option(name, storage.text, help)
                         // NOLINTNEXTLINE(performance-unnecessary-value-param): CLI11's validator signature
                         ->check(
                             [](const std::string& text) {
                                 std::string problem;
                                 return parseByteCount(text, problem) ? std::string() : problem;
                             },
                             "", kind)
                         ->type_name(kind);
}

void addFormatOption(CLI::App* command, std::string& format) {
    command
        ->add_option("--format", format,
                     "FILE's format: raw, ihex (Intel HEX), srec (Motorola S-record), or auto (default: by content)")
        ->check(
            // NOLINTNEXTLINE(performance-unnecessary-value-param): CLI11's validator signature
            [](const std::string& text) {
                return parseImageFormat(text) ? std::string()
                                              : "--format " + text + " is no format: give raw, ihex, srec or auto";
            },
            "FORMAT");
}

void addProgressOptions(CLI::App* command, std::optional<bool>& progress) {
    CLI::Option* on = command->add_flag_callback(
        "--progress", [&progress] { progress = true; }, "Show progress even when standard error is no terminal");
    CLI::Option* off = command->add_flag_callback(
        "--quiet", [&progress] { progress = false; }, "Show no progress line");
    on->excludes(off);
}

std::string checkBlocks(const std::string& text) {
    std::string problem;
    return parseBlocks(text, problem) ? std::string() : problem;
}

namespace {

constexpr std::size_t helpWidth = 80;
constexpr std::size_t nameIndent = 2;
constexpr std::size_t descriptionIndent = 6;

// The text in lines of at most helpWidth columns, each indented; a line
// break in the text is kept.
std::string wrapped(const std::string& text, std::size_t indent) {
    std::string lines;
    std::string line;
    const auto flush = [&] {
        lines += std::string(indent, ' ') + line + '\n';
        line.clear();
    };
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find_first_of(" \n", start), text.size());
        const std::string word = text.substr(start, end - start);
        if (!word.empty()) {
            if (!line.empty() && indent + line.size() + 1 + word.size() > helpWidth) {
                flush();
            }
            line += (line.empty() ? "" : " ") + word;
        }
        if (end < text.size() && text[end] == '\n') {
            flush();
        }
        start = end + 1;
    }
    if (!line.empty()) {
        flush();
    }
    return lines;
}

// The value an option takes as its help names it: the kind given to
// addByteOption or set as its type name, else its own name in capitals.
std::string valueName(const CLI::Option* option) {
    const std::string type = option->get_type_name();
    std::string name = type.substr(type.rfind(':') + 1);
    if (name.empty() || name == "TEXT") {
        name = option->get_name(false, false);
        name.erase(0, name.find_first_not_of('-'));
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    }
    return name;
}

std::string optionNames(const CLI::Option* option) {
    std::string names = option->get_name(false, true);
    for (std::size_t comma = names.find(','); comma != std::string::npos; comma = names.find(',', comma + 2)) {
        names.insert(comma + 1, " ");
    }
    return names;
}

class HelpFormatter final : public CLI::Formatter {
public:
    HelpFormatter() {
        label("SUBCOMMAND", "COMMAND");
        label("Positionals", "Arguments");
    }

    [[nodiscard]] std::string make_option(const CLI::Option* option, bool positional) const override {
        return std::string(nameIndent, ' ') + make_option_name(option, positional) +
               (positional ? std::string() : make_option_opts(option)) + '\n' +
               wrapped(make_option_desc(option), descriptionIndent);
    }

    [[nodiscard]] std::string make_option_name(const CLI::Option* option, bool positional) const override {
        return positional ? option->get_name(true, false) : optionNames(option);
    }

    [[nodiscard]] std::string make_option_opts(const CLI::Option* option) const override {
        // A flag has no type name: it takes no value.
        return option->get_type_name().empty() ? std::string() : " " + valueName(option);
    }

    [[nodiscard]] std::string make_option_desc(const CLI::Option* option) const override {
        std::string text = option->get_description();
        const auto list = [](const std::set<CLI::Option*>& options) {
            std::string names;
            for (const CLI::Option* other : options) {
                names += (names.empty() ? "" : " or ") + other->get_name(false, false);
            }
            return names;
        };
        // After a full stop as a sentence of its own, else as the last clause.
        const auto add = [&text](std::string clause) {
            if (text.ends_with('.')) {
                clause.front() = static_cast<char>(std::toupper(static_cast<unsigned char>(clause.front())));
                text += " " + clause + ".";
            } else {
                text += "; " + clause;
            }
        };
        if (!option->get_needs().empty()) {
            add("only with " + list(option->get_needs()));
        }
        if (!option->get_excludes().empty()) {
            add("not with " + list(option->get_excludes()));
        }
        return text;
    }

    [[nodiscard]] std::string make_description(const CLI::App* app) const override {
        const std::string& text = app->get_description();
        return text.empty() ? std::string() : wrapped(text, 0) + '\n';
    }

    [[nodiscard]] std::string make_subcommand(const CLI::App* command) const override {
        return std::string(nameIndent, ' ') + command->get_name() + '\n' +
               wrapped(command->get_description(), descriptionIndent);
    }

    [[nodiscard]] std::string make_footer(const CLI::App* app) const override {
        std::string text;
        if (const CLI::App* parent = app->get_parent(); parent != nullptr) {
            // Options of flashlock itself that are taken after a command too.
            std::string shared;
            for (const CLI::Option* option : parent->get_options([parent](const CLI::Option* candidate) {
                     return candidate->nonpositional() && candidate != parent->get_help_ptr() &&
                            candidate != parent->get_version_ptr();
                 })) {
                shared += (shared.empty() ? "" : ", ") + option->get_name(false, false) + make_option_opts(option);
            }
            if (!shared.empty()) {
                text = wrapped("Every command also takes " + shared + " (see flashlock --help).", 0) + '\n';
            }
        }
        return text + wrapped(app->get_footer(), 0);
    }
};

}  // namespace

std::shared_ptr<CLI::FormatterBase> helpFormatter() {
    return std::make_shared<HelpFormatter>();
}
