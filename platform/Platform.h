#pragma once

// The operating system as the layers above see it. Each OS has one source file
// in this folder; nothing outside it asks which OS it runs on.
namespace platform {

// Holds the console until the operator presses a key, so that a window opened
// just for this run stays readable. Returns at once when input is closed.
void pauseBeforeExit();

}  // namespace platform
