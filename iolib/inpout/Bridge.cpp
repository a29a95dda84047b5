#include "iolib/inpout/Bridge.h"

#include <array>
#include <cstdio>

#include "iolib/common/MessageText.h"
#include "iolib/common/PortBase.h"
#include "iolib/inpout/Messages.h"

namespace inpout {

namespace {

// How many addresses from flashlock's port on the bridge serves: the
// standard and enhanced parallel port's registers.
constexpr unsigned kServedAddresses = 8;

// The calls the bridge needs, in the order it looks them up.
constexpr std::array<const char*, 7> kCallNames{"Out32",
                                                "Inp32",
                                                "IsInpOutDriverOpen",
                                                "DlPortWritePortUshort",
                                                "DlPortReadPortUshort",
                                                "DlPortWritePortUlong",
                                                "DlPortReadPortUlong"};

// A variable of the process's environment; nullopt when it is unset or empty.
// Read from Windows itself, not from a C runtime's copy made at start-up.
std::optional<std::string> environmentValue(const char* name) {
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size <= 1) {
        return std::nullopt;
    }
    std::string value(size, '\0');
    const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
    if (length == 0 || length >= size) {
        return std::nullopt;
    }
    value.resize(length);
    return value;
}

// Whether the loader's search finds the file, of whichever width: mapped as
// data, none of its code runs.
bool foundByTheLoader(const char* file) {
    HMODULE found = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (found == nullptr) {
        return false;
    }
    FreeLibrary(found);
    return true;
}

void report(const char* line) noexcept {
    // Nothing is left to tell the user if standard error itself fails.
    static_cast<void>(std::fputs(line, stderr));
    static_cast<void>(std::fputc('\n', stderr));
    static_cast<void>(std::fflush(stderr));
}

template <typename Function>
Function typed(void (*call)()) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): InpOut's header gives the type
    return reinterpret_cast<Function>(call);
}

}  // namespace

Bridge::~Bridge() {
    if (!abandoned_) {
        release();
    }
}

void Bridge::write(std::uint16_t address, std::uint8_t value) noexcept {
    if (!usable()) {
        return;
    }
    if (const std::optional<std::uint16_t> real = realAddress(address, 1)) {
        calls_.out32(static_cast<short>(*real), static_cast<short>(value));
    }
}

std::uint8_t Bridge::read(std::uint16_t address) noexcept {
    if (!usable()) {
        return 0xFF;
    }
    const std::optional<std::uint16_t> real = realAddress(address, 1);
    return real ? static_cast<std::uint8_t>(calls_.inp32(static_cast<short>(*real)) & 0xFF) : 0xFF;
}

void Bridge::writeWord(std::uint16_t address, std::uint16_t value) noexcept {
    if (!usable()) {
        return;
    }
    if (const std::optional<std::uint16_t> real = realAddress(address, 2)) {
        calls_.writeUshort(*real, value);
    }
}

std::uint16_t Bridge::readWord(std::uint16_t address) noexcept {
    if (!usable()) {
        return 0xFFFF;
    }
    const std::optional<std::uint16_t> real = realAddress(address, 2);
    return real ? calls_.readUshort(*real) : 0xFFFF;
}

void Bridge::writeDoubleWord(std::uint16_t address, std::uint32_t value) noexcept {
    if (!usable()) {
        return;
    }
    if (const std::optional<std::uint16_t> real = realAddress(address, 4)) {
        calls_.writeUlong(*real, value);
    }
}

std::uint32_t Bridge::readDoubleWord(std::uint16_t address) noexcept {
    if (!usable()) {
        return 0xFFFFFFFF;
    }
    const std::optional<std::uint16_t> real = realAddress(address, 4);
    return real ? calls_.readUlong(*real) : 0xFFFFFFFF;
}

bool Bridge::driverOpen() noexcept {
    return usable() && calls_.isDriverOpen() != 0;
}

std::optional<std::uint16_t> Bridge::realAddress(std::uint16_t address, unsigned width) const {
    // Below the port the difference wraps to a large offset.
    const auto offset = static_cast<std::uint16_t>(address - iolib::kProgramsPort);
    if (offset + width > kServedAddresses) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(base_ + offset);
}

bool Bridge::usable() noexcept {
    if (state_ == State::NotOpened) {
        try {
            open();
        } catch (...) {  // no memory for a message: there is nothing else to throw
            release();
            state_ = State::Failed;
            report("flashlock: out of memory while setting up the port");
        }
    }
    return state_ == State::Usable;
}

void Bridge::open() {
    state_ = State::Failed;
    std::optional<std::string> problem;
    if (const std::optional<std::string> value = environmentValue("FLASHLOCK_PORT_BASE")) {
        const std::optional<std::uint16_t> base = iolib::parsePortBase(*value);
        if (base) {
            base_ = *base;
        } else {
            problem = badPortBase(*value);
        }
    }
    if (!problem) {
        problem = loadInpOut();
    }
    if (!problem) {
        problem = lockPort();
    }
    if (problem) {
        release();
        report(problem->c_str());
        return;
    }
    state_ = State::Usable;
}

std::optional<std::string> Bridge::loadInpOut() {
    // A file that is no DLL must not make Windows open an error box.
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    library_ = LoadLibraryA(kOurs.library);
    const DWORD error = GetLastError();
    SetThreadErrorMode(previousMode, nullptr);
    if (library_ == nullptr) {
        switch (error) {
        case ERROR_MOD_NOT_FOUND:
            return libraryNotFound(foundByTheLoader(kOther.library));
        case ERROR_BAD_EXE_FORMAT:
            return libraryOfTheOtherWidth();
        default:
            return libraryNotLoaded(error);
        }
    }
    std::array<void (*)(), kCallNames.size()> found{};
    for (std::size_t i = 0; i < kCallNames.size(); ++i) {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): any function, typed below
        found.at(i) = reinterpret_cast<void (*)()>(GetProcAddress(library_, kCallNames.at(i)));
        if (found.at(i) == nullptr) {
            return callMissing(kCallNames.at(i));
        }
    }
    calls_ = Calls{
        .out32 = typed<Out32Function>(found[0]),
        .inp32 = typed<Inp32Function>(found[1]),
        .isDriverOpen = typed<IsDriverOpenFunction>(found[2]),
        .writeUshort = typed<WriteUshortFunction>(found[3]),
        .readUshort = typed<ReadUshortFunction>(found[4]),
        .writeUlong = typed<WriteUlongFunction>(found[5]),
        .readUlong = typed<ReadUlongFunction>(found[6]),
    };
    // InpOut opens its driver when it loads, and installs it first if it may.
    if (calls_.isDriverOpen() == 0) {
        return driverNotOpen();
    }
    return std::nullopt;
}

std::optional<std::string> Bridge::lockPort() {
    // Named after the port's real base, so that two flashlocks meet on it
    // however each was told where the port is, and in the global namespace,
    // for the port is the machine's, whoever is logged on.
    const std::string name = "Global\\flashlock-port-" + iolib::hex(base_);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (mutex != nullptr && error == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return portInUse(base_);
    }
    if (mutex == nullptr) {
        // Made by another user's (or an elevated) flashlock, which still has it.
        return error == ERROR_ACCESS_DENIED ? portInUse(base_) : portLockFailed(name, error);
    }
    lock_ = mutex;
    return std::nullopt;
}

void Bridge::release() noexcept {
    if (lock_ != nullptr) {
        CloseHandle(lock_);
        lock_ = nullptr;
    }
    if (library_ != nullptr) {
        FreeLibrary(library_);
        library_ = nullptr;
    }
    calls_ = Calls{};
}

}  // namespace inpout
