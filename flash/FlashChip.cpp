#include "flash/FlashChip.h"

#include "driver/BusCycles.h"

FlashChip::FlashChip(ProgrammerDriver* driver) : driver(driver) {}

std::uint8_t FlashChip::readAt(std::uint32_t address) {
    return board::readCycle(*driver, address);
}

std::uint8_t FlashChip::readAgain() {
    return board::readAgain(*driver);
}

void FlashChip::writeAt(std::uint32_t address, std::uint8_t value) {
    board::writeCycle(*driver, address, value);
}

void FlashChip::stepAddress(bool bit) {
    board::stepAddress(*driver, bit);
}

void FlashChip::beginAccess() {
    board::raiseAccess(*driver);
}

void FlashChip::endAccess() {
    board::dropAccess(*driver);
}

void FlashChip::waitMicroseconds(std::uint32_t count) {
    driver->waitMicroseconds(count);
}

BoardKind FlashChip::detectBoard() {
    return driver->detectBoard();
}
