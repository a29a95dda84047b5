#include "driver/BusCycles.h"

namespace board {

namespace {

constexpr LineChange setStrobe = 0x0008;
constexpr LineChange clearStrobe = 0x0800;
constexpr LineChange clearDataDirection = 0x0200;
constexpr LineChange raiseAccessLine = 0x0004;
constexpr LineChange idleLevels = 0x0209;
constexpr LineChange dropAccessLine = 0x0400;

constexpr std::uint32_t strobeMicroseconds = 1;
constexpr std::uint32_t settleMicroseconds = 10;

}  // namespace

void writeCycle(ProgrammerDriver& driver, std::uint32_t address, std::uint8_t value) {
    driver.shiftOutAddress(address, addressBits);
    driver.putDataByte(value);
    driver.changeLines(PortRegister::Control, setStrobe);
    driver.waitMicroseconds(strobeMicroseconds);
    driver.changeLines(PortRegister::Control, clearStrobe);
    driver.changeLines(PortRegister::Control, clearDataDirection);
}

std::uint8_t readCycle(ProgrammerDriver& driver, std::uint32_t address) {
    driver.shiftOutAddress(address, addressBits);
    return driver.shiftInByte();
}

std::uint8_t readAgain(ProgrammerDriver& driver) {
    return driver.shiftInByte();
}

void stepAddress(ProgrammerDriver& driver, bool bit) {
    driver.shiftOutAddress(bit ? 1U : 0U, 1);
}

void raiseAccess(ProgrammerDriver& driver) {
    driver.changeLines(PortRegister::Control, raiseAccessLine);
    driver.waitMicroseconds(settleMicroseconds);
}

void dropAccess(ProgrammerDriver& driver) {
    driver.changeLines(PortRegister::Control, idleLevels);
    driver.waitMicroseconds(settleMicroseconds);
    driver.changeLines(PortRegister::Control, dropAccessLine);
}

}  // namespace board
