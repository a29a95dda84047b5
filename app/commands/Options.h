#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace CLI {
class App;
class Option;
class FormatterBase;
}  // namespace CLI

// Options that several commands take, declared alike everywhere.

// A byte count or address option (decimal, 0x hex, k and M suffixes), kept
// as text until the command runs and checked as CLI11 parses it.
struct ByteOption {
    std::string text;
    CLI::Option* option = nullptr;

    // Nullopt when the option was not given.
    [[nodiscard]] std::optional<std::uint32_t> value() const;
};
void addByteOption(CLI::App* command, const char* name, ByteOption& storage, const char* help, const char* kind);

// --format: raw, ihex, srec or auto, for a FILE that may be a text image.
void addFormatOption(CLI::App* command, std::string& format);

// --progress and --quiet: nullopt leaves it to whether standard error is a terminal.
void addProgressOptions(CLI::App* command, std::optional<bool>& progress);

// CLI11's check for BLOCKS.
std::string checkBlocks(const std::string& text);

// --help as a person reads it: each option or command on a line of its own
// with the value it takes in words (ADDR, FILE, BLOCKS), its description on
// the lines below; a command's help names the options of flashlock itself
// that it takes too.
std::shared_ptr<CLI::FormatterBase> helpFormatter();
