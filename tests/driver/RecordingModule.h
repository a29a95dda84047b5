#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "tests/io/RecordingIo.h"

// The recording "io" module, reached through the same loader search as the
// program's binding, so both hold the same instance. Events print as
// "W 890 09" / "R 889 40" (port decimal, byte hexadecimal).
class RecordingModule {
public:
    RecordingModule()
        : module(platform::loadModule("io")),
          reset(symbol<RecordingIoResetFunction>(module, "RecordingIoReset")),
          events(symbol<RecordingIoEventsFunction>(module, "RecordingIoEvents")) {}
    ~RecordingModule() { platform::unloadModule(module); }
    RecordingModule(const RecordingModule&) = delete;
    RecordingModule& operator=(const RecordingModule&) = delete;
    RecordingModule(RecordingModule&&) = delete;
    RecordingModule& operator=(RecordingModule&&) = delete;

    [[nodiscard]] bool loaded() const { return reset != nullptr && events != nullptr; }

    void answerStatus(const std::vector<std::uint8_t>& script, std::uint8_t afterwards = 0xFF) {
        reset(script.data(), script.size(), afterwards);
    }

    [[nodiscard]] std::vector<std::string> record() const {
        std::size_t count = 0;
        const PortEvent* first = events(&count);
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < count; ++i) {
            char text[24];
            std::snprintf(text, sizeof text, "%c %d %02X", first[i].kind, first[i].port,
                          static_cast<unsigned>(static_cast<std::uint8_t>(first[i].value)));
            lines.emplace_back(text);
        }
        return lines;
    }

    // The raw signed byte of each PortOut, as the module received it.
    [[nodiscard]] std::vector<int> writtenValues() const {
        std::size_t count = 0;
        const PortEvent* first = events(&count);
        std::vector<int> values;
        for (std::size_t i = 0; i < count; ++i) {
            if (first[i].kind == 'W') {
                values.push_back(first[i].value);
            }
        }
        return values;
    }

    platform::ModuleHandle module;

private:
    template <typename Function>
    static Function symbol(platform::ModuleHandle from, const char* name) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the export has this type
        return reinterpret_cast<Function>(platform::findSymbol(from, name));
    }

    RecordingIoResetFunction reset = nullptr;
    RecordingIoEventsFunction events = nullptr;
};
