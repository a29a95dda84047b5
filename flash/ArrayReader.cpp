#include "flash/ArrayReader.h"

#include <array>

#include "flash/CommandSet.h"

std::uint32_t readArray(FlashChip& chip, std::uint32_t offset, std::uint32_t length,
                        const ArrayReadCallbacks& callbacks) {
    chip.writeAt(0, cmdReadArray);
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
            chunk[filled] = chip.readAt(offset + done + static_cast<std::uint32_t>(filled));
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

std::function<std::uint8_t(std::uint32_t address)> arrayBytes(FlashChip& chip) {
    chip.writeAt(0, cmdReadArray);
    return [&chip](std::uint32_t address) { return chip.readAt(address); };
}
