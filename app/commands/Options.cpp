#include "app/commands/Options.h"

#include <CLI/CLI.hpp>

#include "app/Arguments.h"

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
                             kind);
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
