#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The operating system as the layers above see it. Each OS has one source file
// in this folder; nothing outside it asks which OS it runs on.
namespace platform {

// Makes sure standard input, output and error are open before anything else
// opens a file: a program started with one of them closed would otherwise
// hand that number to the next file it opens (a log, the port device) and
// then read commands from it or write the console into it. A closed one is
// opened on the null device.
void ensureStandardStreams();

// Holds the console until the operator presses a key, so that a window opened
// just for this run stays readable. Returns at once when input is closed.
void pauseBeforeExit();

using ModuleHandle = void*;
// Any exported function, to be cast to its real type by the caller.
using ModuleSymbol = void (*)();

// Loads a module by its bare name ("io") through the system loader's own search:
// io.dll on Windows; libio.so on Linux, found through LD_LIBRARY_PATH, the
// program's RUNPATH and the system library directories, never the current
// directory. Null when it cannot be loaded.
ModuleHandle loadModule(const char* name);
// The file that loadModule looks for: "libio.so" or "io.dll".
std::string moduleFileName(const char* name);
ModuleSymbol findSymbol(ModuleHandle module, const char* name);
// Accepts a null handle, so a release after a failed load is harmless.
void unloadModule(ModuleHandle module);
// Why the last loadModule failed, and where the loader looked, for a message
// that tells the user what to do.
std::string moduleLoadProblem(const char* name);

// From this call on, SIGINT, SIGTERM, SIGHUP and SIGQUIT (on Windows the
// console's Ctrl-C, Ctrl-Break and closing) no longer end the program on the
// spot: the first one is recorded and the program ends itself at its next
// safe point, with the board's lines idle. A read or write that is blocked on
// the console returns early instead, so a stalled terminal or a pipe nobody
// reads cannot hold the program. SIGPIPE is ignored: a closed output shows
// as a failed write.
void catchInterrupts();
// 0 while no such signal came; otherwise the first one's number (2 for Ctrl-C).
int interruptSignal();

// Whether the standard error stream is a terminal (where a progress line can
// redraw itself).
bool standardErrorIsTerminal();

// A new file beside `target`, under a name of its own, that becomes `target`
// only when committed: a reader of `target` never sees half of it.
struct PendingFile {
    std::string path;
    std::FILE* stream = nullptr;
};
// Null stream and the reason in `problem` when it cannot be created.
PendingFile createFileBeside(const std::string& target, std::string& problem);
// Flushes the stream to the disk, closes it and renames it over `target`.
// On failure the pending file is removed and `problem` says why.
bool commitFile(PendingFile& file, const std::string& target, std::string& problem);
// Closes and removes a pending file that is not to become anything.
void discardFile(PendingFile& file);
bool fileExists(const std::string& path);

// A monotonic high-resolution tick counter.
class TickCounter {
public:
    virtual ~TickCounter() = default;
    virtual std::int64_t frequency() = 0;
    virtual std::int64_t now() = 0;

protected:
    TickCounter() = default;
    TickCounter(const TickCounter&) = default;
    TickCounter(TickCounter&&) = default;
    TickCounter& operator=(const TickCounter&) = default;
    TickCounter& operator=(TickCounter&&) = default;
};

// The OS's performance counter. Stateless, shared by the whole process.
TickCounter& systemCounter();

}  // namespace platform
