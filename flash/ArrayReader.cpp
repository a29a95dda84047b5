#include "flash/ArrayReader.h"

#include <array>

std::uint32_t readArray(CommandSet& commands, std::uint32_t offset, std::uint32_t length,
                        const ArrayReadCallbacks& callbacks) {
    commands.readArray();
    std::array<std::uint8_t, arrayChunkSize> chunk{};
    std::uint32_t done = 0;
    while (done < length) {
        std::size_t filled = 0;
        bool stopped = false;
        while (filled < chunk.size() && done + filled < length) {
            if (callbacks.stop && callbacks.stop()) {
                stopped = true;
                break;
            }
            chunk[filled] = commands.readByte(offset + done + static_cast<std::uint32_t>(filled));
            ++filled;
        }
        if (filled > 0 && callbacks.chunk) {
            callbacks.chunk(chunk.data(), filled);
        }
        done += static_cast<std::uint32_t>(filled);
        if (callbacks.progress) {
            callbacks.progress(done);
        }
        if (stopped) {
            break;
        }
    }
    return done;
}

std::function<std::uint8_t(std::uint32_t address)> arrayBytes(CommandSet& commands) {
    commands.readArray();
    return [&commands](std::uint32_t address) { return commands.readByte(address); };
}
