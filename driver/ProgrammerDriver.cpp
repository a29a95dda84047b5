#include "driver/ProgrammerDriver.h"

// Out of line so the vtable has one home; the base holds nothing to release.
ProgrammerDriver::~ProgrammerDriver() = default;
