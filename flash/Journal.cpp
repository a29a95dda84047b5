#include "flash/Journal.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "flash/Digest.h"
#include "platform/Durable.h"

namespace {

// A first line a person can read, so that whoever opens the file learns what it is.
constexpr std::string_view magic = "flashlock journal 1\n";
// No journal holds more than a 16 MiB chip's bytes and its bookkeeping.
constexpr std::uint64_t largestJournal = 64ULL * 1024 * 1024;
constexpr std::size_t digestLength = 32;

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFU;
    for (std::size_t i = 0; i < size; ++i) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1U) ^ (0xEDB88320U & (0U - (crc & 1U)));
        }
    }
    return ~crc;
}

class Writer {
public:
    void u8(std::uint8_t value) { out.push_back(value); }
    void u32(std::uint32_t value) {
        for (unsigned shift = 0; shift < 32; shift += 8) {
            out.push_back(static_cast<std::uint8_t>(value >> shift));
        }
    }
    void bytes(const std::uint8_t* data, std::size_t size) {
        u32(static_cast<std::uint32_t>(size));
        out.insert(out.end(), data, data + size);  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    }
    void text(const std::string& value) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
        bytes(reinterpret_cast<const std::uint8_t*>(value.data()), value.size());
    }
    void flags(const std::vector<bool>& values) {
        u32(static_cast<std::uint32_t>(values.size()));
        for (std::size_t i = 0; i < values.size(); i += 8) {
            std::uint8_t packed = 0;
            for (std::size_t bit = 0; bit < 8 && i + bit < values.size(); ++bit) {
                packed = static_cast<std::uint8_t>(packed | (values[i + bit] ? 1U << bit : 0U));
            }
            out.push_back(packed);
        }
    }

    std::vector<std::uint8_t> out;
};

// Every read is checked against what is left: a damaged length can never
// make it read past the end or allocate more than the file holds.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

    bool u8(std::uint8_t& value) {
        if (left() < 1) {
            return false;
        }
        value = data[at++];  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        return true;
    }
    bool u32(std::uint32_t& value) {
        if (left() < 4) {
            return false;
        }
        value = 0;
        for (unsigned shift = 0; shift < 32; shift += 8) {
            value |= std::uint32_t{data[at++]} << shift;  // NOLINT(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        }
        return true;
    }
    bool bytes(std::vector<std::uint8_t>& value) {
        std::uint32_t length = 0;
        if (!u32(length) || left() < length) {
            return false;
        }
        // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
        value.assign(data + at, data + at + length);
        at += length;
        return true;
    }
    bool text(std::string& value) {
        std::vector<std::uint8_t> raw;
        if (!bytes(raw)) {
            return false;
        }
        value.assign(raw.begin(), raw.end());
        return true;
    }
    bool flags(std::vector<bool>& values) {
        std::uint32_t count = 0;
        if (!u32(count) || left() < (std::uint64_t{count} + 7) / 8) {
            return false;
        }
        values.assign(count, false);
        for (std::uint32_t i = 0; i < count; ++i) {
            // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
            values[i] = ((data[at + i / 8] >> (i % 8)) & 1U) != 0;
        }
        at += (std::size_t{count} + 7) / 8;
        return true;
    }
    [[nodiscard]] std::size_t left() const { return size - at; }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
};

bool decodePayload(Reader& in, JournalState& state) {
    std::uint8_t kind = 0;
    std::uint32_t board = 0;
    std::uint32_t commandSet = 0;
    std::uint32_t savedCount = 0;
    std::uint32_t words = 0;
    std::vector<std::uint8_t> digest;
    if (!in.text(state.port) || !in.u32(board) || !in.u8(state.identity.manufacturer) || !in.u8(state.identity.bank) ||
        !in.bytes(state.identity.device) || !in.u32(commandSet) || !in.u32(state.size) || !in.u32(state.blockCount) ||
        !in.flags(state.locksBefore) || !in.u8(kind) || !in.bytes(digest) || digest.size() != digestLength ||
        !in.flags(state.job.blocks) || !in.u32(words)) {
        return false;
    }
    if (kind < static_cast<std::uint8_t>(JobKind::Write) || kind > static_cast<std::uint8_t>(JobKind::Unlock)) {
        return false;
    }
    state.board = static_cast<std::int32_t>(board);
    state.commandSet = static_cast<std::uint16_t>(commandSet);
    state.job.kind = static_cast<JobKind>(kind);
    std::copy(digest.begin(), digest.end(), state.job.digest.begin());
    for (std::uint32_t i = 0; i < words; ++i) {
        std::string word;
        if (!in.text(word)) {
            return false;
        }
        state.job.command.push_back(std::move(word));
    }
    if (!in.u32(savedCount)) {
        return false;
    }
    for (std::uint32_t i = 0; i < savedCount; ++i) {
        SavedBlock block;
        std::uint32_t index = 0;
        std::uint32_t runs = 0;
        if (!in.u32(index) || !in.u32(runs) || index >= state.blockCount) {
            return false;
        }
        block.index = index;
        for (std::uint32_t run = 0; run < runs; ++run) {
            SavedRun saved;
            if (!in.u32(saved.address) || !in.bytes(saved.bytes) ||
                std::uint64_t{saved.address} + saved.bytes.size() > state.size) {
                return false;
            }
            block.runs.push_back(std::move(saved));
        }
        state.saved.push_back(std::move(block));
    }
    return in.left() == 0 && state.locksBefore.size() == state.blockCount;
}

}  // namespace

std::vector<std::uint8_t> encodeJournal(const JournalState& state) {
    Writer payload;
    payload.text(state.port);
    payload.u32(static_cast<std::uint32_t>(state.board));
    payload.u8(state.identity.manufacturer);
    payload.u8(state.identity.bank);
    payload.bytes(state.identity.device.data(), state.identity.device.size());
    payload.u32(state.commandSet);
    payload.u32(state.size);
    payload.u32(state.blockCount);
    payload.flags(state.locksBefore);
    payload.u8(static_cast<std::uint8_t>(state.job.kind));
    payload.bytes(state.job.digest.data(), state.job.digest.size());
    payload.flags(state.job.blocks);
    payload.u32(static_cast<std::uint32_t>(state.job.command.size()));
    for (const std::string& word : state.job.command) {
        payload.text(word);
    }
    payload.u32(static_cast<std::uint32_t>(state.saved.size()));
    for (const SavedBlock& block : state.saved) {
        payload.u32(static_cast<std::uint32_t>(block.index));
        payload.u32(static_cast<std::uint32_t>(block.runs.size()));
        for (const SavedRun& run : block.runs) {
            payload.u32(run.address);
            payload.bytes(run.bytes.data(), run.bytes.size());
        }
    }
    Writer file;
    file.out.assign(magic.begin(), magic.end());
    file.bytes(payload.out.data(), payload.out.size());
    file.u32(crc32(payload.out.data(), payload.out.size()));
    return file.out;
}

std::optional<JournalState> decodeJournal(const std::vector<std::uint8_t>& data, std::string& problem) {
    if (data.size() < magic.size() || !std::equal(magic.begin(), magic.end(), data.begin())) {
        problem = "it does not start as a flashlock journal";
        return std::nullopt;
    }
    Reader file(data.data() + magic.size(), data.size() - magic.size());
    std::vector<std::uint8_t> payload;
    std::uint32_t checksum = 0;
    if (!file.bytes(payload) || !file.u32(checksum)) {
        problem = "it ends before its last record";
        return std::nullopt;
    }
    if (file.left() != 0) {
        problem = "it holds more than its records";
        return std::nullopt;
    }
    if (crc32(payload.data(), payload.size()) != checksum) {
        problem = "its checksum does not match its content";
        return std::nullopt;
    }
    JournalState state;
    Reader in(payload.data(), payload.size());
    if (!decodePayload(in, state)) {
        problem = "its records do not fit together";
        return std::nullopt;
    }
    return state;
}

std::array<std::uint8_t, 32> imageDigest(const std::vector<WantedRange>& ranges) {
    Digest digest;
    for (const WantedRange& range : ranges) {
        digest.add(range.address);
        digest.add(static_cast<std::uint32_t>(range.bytes.size()));
        digest.add(range.bytes.data(), range.bytes.size());
    }
    return digest.finish();
}

Journal::Found Journal::load(JournalState& state, std::string& problem) const {
    if (!platform::fileExists(file)) {
        return Found::None;
    }
    platform::FileProblem read;
    const std::optional<std::vector<std::uint8_t>> data = platform::readWholeFile(file, largestJournal, read);
    if (!data) {
        problem = read.text;
        return Found::Damaged;
    }
    std::optional<JournalState> decoded = decodeJournal(*data, problem);
    if (!decoded) {
        return Found::Damaged;
    }
    state = std::move(*decoded);
    return Found::Valid;
}

bool Journal::write(const JournalState& state, platform::FileProblem& problem) const {
    return platform::replaceDurably(file, encodeJournal(state), problem);
}

bool Journal::remove(platform::FileProblem& problem) const {
    return platform::removeDurably(file, problem);
}

std::string journalFileName(const std::string& port) {
    std::string name = "journal-";
    for (const char c : port) {
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_';
        if (plain) {
            name += c;
        } else if (!name.empty() && name.back() != '-') {
            name += '-';
        }
    }
    while (name.back() == '-') {
        name.pop_back();
    }
    return name;
}

bool JournalKeeper::begin(platform::FileProblem& problem) {
    return journal->write(current, problem);
}

bool JournalKeeper::protect(const BlockPlan& block, platform::FileProblem& problem) {
    // Blocks read back in place since the last write need no keeping now.
    std::erase_if(current.saved, [this](const SavedBlock& saved) {
        return std::find(settledBlocks.begin(), settledBlocks.end(), saved.index) != settledBlocks.end();
    });
    settledBlocks.clear();
    SavedBlock saved;
    saved.index = block.index;
    for (const ProgramSpan& run : block.preserved) {
        const auto from = block.content.begin() + (run.address - block.base);
        saved.runs.push_back({run.address, std::vector<std::uint8_t>(from, from + run.length)});
    }
    current.saved.push_back(std::move(saved));
    return journal->write(current, problem);
}

void JournalKeeper::settled(std::size_t index) {
    settledBlocks.push_back(index);
}

bool JournalKeeper::isSettled(std::size_t index) const {
    return std::find(settledBlocks.begin(), settledBlocks.end(), index) != settledBlocks.end();
}

bool JournalKeeper::finish(platform::FileProblem& problem) {
    return journal->remove(problem);
}
