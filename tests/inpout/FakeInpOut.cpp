// A stand-in for InpOut32/InpOutx64, built by the tests only, under InpOut's
// file name for the build's width (inpoutx64.dll or inpout32.dll). It exports
// the calls the bridge uses, __stdcall and undecorated as InpOut's own DLL
// does, and behaves as the variables of its process say, read at its first
// call:
//
//   FAKE_INPOUT_LOG=<file>       every call, one line each: "Out32 0x378 0xa5",
//                                "Inp32 0x379 0x87" (the answer), ...
//   FAKE_INPOUT_DRIVER=closed    IsInpOutDriverOpen answers FALSE, as InpOut
//                                does before its driver is installed
//   FAKE_INPOUT_PORTS=0x379=0x87,...
//                                what the I/O addresses hold at first; every
//                                other one holds 0xFF. Writes are kept, so a
//                                read answers the last byte written.
//   FAKE_INPOUT_BOARD=<dll>      a port-I/O module (the simulator's io.dll
//   FAKE_INPOUT_BOARD_BASE=<hex> under another name) that answers the eight
//                                addresses from that base on, as if they were
//                                0x378 and up: a board on an add-in card.
//
// It is compiled on its own, with nothing of the project, so that the tests
// can build it for the other width too with the other MinGW-w64 compiler.
#include <windows.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using BoardOut = void(__stdcall*)(std::int16_t, std::int8_t);
using BoardIn = std::int8_t(__stdcall*)(std::int16_t);

constexpr unsigned kBoardAddresses = 8;
constexpr std::uint16_t kBoardPort = 0x378;

struct Fake {
    bool configured = false;
    std::FILE* log = nullptr;
    bool driverOpen = true;
    std::array<std::uint8_t, 0x10000> ports{};
    std::uint16_t boardBase = 0;
    BoardOut boardOut = nullptr;
    BoardIn boardIn = nullptr;
};

std::string variable(const char* name) {
    std::array<char, 4096> value{};
    const DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    return length > 0 && length < value.size() ? std::string(value.data(), length) : std::string();
}

void configure(Fake& f) {
    f.configured = true;
    f.ports.fill(0xFF);
    if (const std::string path = variable("FAKE_INPOUT_LOG"); !path.empty()) {
        f.log = std::fopen(path.c_str(), "ab");
    }
    f.driverOpen = variable("FAKE_INPOUT_DRIVER") != "closed";
    // "0x379=0x87,0x37a=0x0c"
    const std::string ports = variable("FAKE_INPOUT_PORTS");
    const char* at = ports.c_str();
    while (*at != '\0') {
        char* end = nullptr;
        const unsigned long port = std::strtoul(at, &end, 0);
        if (*end != '=') {
            break;
        }
        const unsigned long value = std::strtoul(end + 1, &end, 0);
        f.ports.at(port & 0xFFFFU) = static_cast<std::uint8_t>(value);
        at = *end == ',' ? end + 1 : end;
    }
    if (const std::string board = variable("FAKE_INPOUT_BOARD"); !board.empty()) {
        if (HMODULE module = LoadLibraryA(board.c_str())) {
            // NOLINTBEGIN(cppcoreguidelines-pro-type-reinterpret-cast): the module's exports have these types
            f.boardOut = reinterpret_cast<BoardOut>(reinterpret_cast<void (*)()>(GetProcAddress(module, "PortOut")));
            f.boardIn = reinterpret_cast<BoardIn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "PortIn")));
            // NOLINTEND(cppcoreguidelines-pro-type-reinterpret-cast)
        }
        f.boardBase = static_cast<std::uint16_t>(std::strtoul(variable("FAKE_INPOUT_BOARD_BASE").c_str(), nullptr, 0));
    }
}

Fake& fake() {
    static Fake instance;
    if (!instance.configured) {
        configure(instance);
    }
    return instance;
}

void record(const char* call, unsigned long port, unsigned long value, int digits) {
    Fake& f = fake();
    if (f.log != nullptr) {
        std::fprintf(f.log, "%s 0x%lx 0x%0*lx\n", call, port, digits, value);
        std::fflush(f.log);
    }
}

bool onBoard(const Fake& f, std::uint16_t port) {
    return f.boardOut != nullptr && f.boardIn != nullptr &&
           static_cast<std::uint16_t>(port - f.boardBase) < kBoardAddresses;
}

void writeByte(std::uint16_t port, std::uint8_t value) {
    Fake& f = fake();
    if (onBoard(f, port)) {
        f.boardOut(static_cast<std::int16_t>(kBoardPort + port - f.boardBase), static_cast<std::int8_t>(value));
        return;
    }
    f.ports.at(port) = value;
}

std::uint8_t readByte(std::uint16_t port) {
    Fake& f = fake();
    if (onBoard(f, port)) {
        return static_cast<std::uint8_t>(f.boardIn(static_cast<std::int16_t>(kBoardPort + port - f.boardBase)));
    }
    return f.ports.at(port);
}

std::uint32_t readBytes(std::uint16_t port, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        value |= std::uint32_t{readByte(static_cast<std::uint16_t>(port + i))} << (8 * i);
    }
    return value;
}

void writeBytes(std::uint16_t port, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        writeByte(static_cast<std::uint16_t>(port + i), static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

}  // namespace

extern "C" {

__declspec(dllexport) void __stdcall Out32(short port, short data) {
    const auto address = static_cast<std::uint16_t>(port);
    record("Out32", address, static_cast<std::uint16_t>(data), 2);
    writeByte(address, static_cast<std::uint8_t>(data));
}

__declspec(dllexport) short __stdcall Inp32(short port) {
    const auto address = static_cast<std::uint16_t>(port);
    const std::uint8_t value = readByte(address);
    record("Inp32", address, value, 2);
    return value;
}

__declspec(dllexport) BOOL __stdcall IsInpOutDriverOpen() {
    const bool open = fake().driverOpen;
    if (fake().log != nullptr) {
        std::fprintf(fake().log, "IsInpOutDriverOpen %d\n", open ? 1 : 0);
        std::fflush(fake().log);
    }
    return open ? TRUE : FALSE;
}

__declspec(dllexport) void __stdcall DlPortWritePortUshort(USHORT port, USHORT value) {
    record("DlPortWritePortUshort", port, value, 4);
    writeBytes(port, value, 2);
}

__declspec(dllexport) USHORT __stdcall DlPortReadPortUshort(USHORT port) {
    const auto value = static_cast<USHORT>(readBytes(port, 2));
    record("DlPortReadPortUshort", port, value, 4);
    return value;
}

__declspec(dllexport) void __stdcall DlPortWritePortUlong(ULONG port, ULONG value) {
    record("DlPortWritePortUlong", port, value, 8);
    writeBytes(static_cast<std::uint16_t>(port), value, 4);
}

#ifndef FAKE_INPOUT_WITHOUT_READ_ULONG
__declspec(dllexport) ULONG __stdcall DlPortReadPortUlong(ULONG port) {
    const ULONG value = readBytes(static_cast<std::uint16_t>(port), 4);
    record("DlPortReadPortUlong", port, value, 8);
    return value;
}
#endif

}  // extern "C"
