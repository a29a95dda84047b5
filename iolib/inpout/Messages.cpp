#include "iolib/inpout/Messages.h"

#include "iolib/common/MessageText.h"

namespace inpout {

using iolib::hex;
using iolib::shown;

namespace {

// Where InpOut comes from, for the lines that send the user to get it.
std::string fromInpOut(const Flavour& flavour) {
    return std::string(flavour.library) + " from InpOut32/InpOutx64 (Highrez's free port-I/O library with a signed " +
           "driver; the file is in its " + flavour.folder + " folder)";
}

std::string ours() {
    return kOurs.library;
}

}  // namespace

std::string badPortBase(std::string_view value) {
    return "flashlock: FLASHLOCK_PORT_BASE=" + shown(value) +
           " is not a port base; set it to the card's I/O base in hexadecimal (0xD010) or decimal (53264), from "
           "0x100 to 0xFFF8 (Device Manager shows it: the card's Properties, Resources, I/O Range), or leave it "
           "unset for the port at 0x378";
}

std::string libraryNotFound(bool otherFound) {
    if (otherFound) {
        return "flashlock: " + ours() + " was not found, only " + kOther.library + ", which is InpOut for " +
               kOther.bits + " programs; this flashlock.exe is " + kOurs.bits + ": put " + fromInpOut(kOurs) +
               " next to flashlock.exe, or use the " + kOther.bits + " flashlock.exe";
    }
    return "flashlock: " + ours() + " was not found; this " + kOurs.bits + " flashlock.exe needs it: put " +
           fromInpOut(kOurs) +
           " next to flashlock.exe, then run flashlock once as administrator so that InpOut installs its driver";
}

std::string libraryOfTheOtherWidth() {
    return "flashlock: " + ours() + " is not a " + kOurs.bits + " DLL (it is the " + kOther.bits +
           " InpOut under this name, a damaged copy, or no DLL at all); this flashlock.exe is " + kOurs.bits +
           ": put " + fromInpOut(kOurs) + " next to flashlock.exe, or use the " + kOther.bits + " flashlock.exe with " +
           kOther.library;
}

std::string libraryNotLoaded(unsigned long error) {
    return "flashlock: " + ours() + " could not be loaded (Windows error " + std::to_string(error) +
           "); put a fresh copy of " + fromInpOut(kOurs) + " next to flashlock.exe";
}

std::string callMissing(const char* call) {
    return "flashlock: " + ours() + " does not export " + call + ", so it is not a current InpOut; put " +
           fromInpOut(kOurs) + " next to flashlock.exe";
}

std::string driverNotOpen() {
    return "flashlock: InpOut's driver is not open (" + ours() +
           " loaded, but IsInpOutDriverOpen says no); run flashlock once as administrator (right-click "
           "flashlock.exe or the console, Run as administrator) so that InpOut installs its driver; later runs "
           "need no administrator rights";
}

std::string portInUse(std::uint16_t base) {
    return "flashlock: another flashlock is using the port at " + hex(base) +
           "; wait until it has ended, then start again";
}

std::string portLockFailed(const std::string& name, unsigned long error) {
    return "flashlock: cannot make the lock " + name + " that keeps a second flashlock off the port (Windows error " +
           std::to_string(error) + ")";
}

}  // namespace inpout
