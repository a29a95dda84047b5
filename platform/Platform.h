#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

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
// Loads the module in this very file: the loader's search path plays no
// part, so whatever LD_LIBRARY_PATH or the DLL search path hold, this file is
// the one loaded. Null, with the system's reason in `problem`, when it cannot
// be loaded.
ModuleHandle loadModuleFile(const std::string& path, std::string& problem);
// The folder that holds the running program, as an absolute path; nullopt
// when the system cannot tell.
std::optional<std::string> programFolder();

// From this call on, SIGINT, SIGTERM, SIGHUP and SIGQUIT (on Windows the
// console's Ctrl-C, Ctrl-Break and closing) no longer end the program on the
// spot: the first one is recorded and the program ends itself at its next
// safe point, with the board's lines idle. A read or write that is blocked on
// the console returns early instead, so a stalled terminal or a pipe nobody
// reads cannot hold the program. SIGPIPE is ignored: a closed output shows
// as a failed write. A signal that was ignored when the program started
// (nohup, trap '' INT, a background job) stays ignored: whoever started the
// program meant it to outlive that signal.
void catchInterrupts();
// 0 while no such signal came; otherwise the first one's number (2 for Ctrl-C).
int interruptSignal();

// Whether the standard error stream is a terminal (where a progress line can
// redraw itself).
bool standardErrorIsTerminal();

// Why a file could not serve. Each problem comes with a text that names the
// file and, where the system gave one, its reason, ready to be shown as it is.
enum class FileFault {
    None,
    // The name cannot serve as asked: it is empty, or names a folder, a
    // device, a FIFO, a socket or a symbolic link to nothing. Another name
    // fixes it.
    Unsuitable,
    // The target exists and replacing it was not asked for, or another
    // program created it while the data was being written.
    Exists,
    // The system refused or failed: a missing folder, no permission, a full
    // disk, an input/output error.
    System,
};

struct FileProblem {
    FileFault fault = FileFault::None;
    std::string text;
};

// The file name that stands for standard input or standard output.
inline constexpr std::string_view standardStreamName = "-";

// Whether Windows takes `name` for one of its devices rather than a file:
// its last component is CON, PRN, AUX, NUL, COM0 to COM9 or LPT0 to LPT9
// (also with a superscript 1, 2 or 3 for the digit), or the console's CONIN$
// or CONOUT$, in any letter case, with or without an extension or a stream
// (":x") after it and blanks before those, which Windows drops. Such a name
// opens the device in whatever folder it is given, so it is refused before
// anything is opened. Decided on every OS, so that it is tested everywhere;
// only Windows' own files ask.
bool isReservedWindowsName(std::string_view name);
// The problem of such a name (Unsuitable), in the same words everywhere.
FileProblem reservedWindowsNameProblem(std::string_view name);

// Data that reaches its file whole or not at all. It is written to a new
// file of its own in the target's folder, under a short name of its own (so
// any name the folder accepts can be the target), and takes the target's
// name only when committed: nobody ever sees half of it under that name.
// Standard output ("-") takes the data as it comes instead. What is not
// committed is removed when the object goes away.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;

    // Checks `target` and creates the new file, so that a name or a folder
    // that cannot take the data is found before any is produced. `target` is
    // "-", a new name in an existing folder, or, when `replace` is given, an
    // existing regular file; a symbolic link to one stays a link and its
    // target is replaced. Not open, with `problem` set, when it cannot be.
    static OutputFile create(const std::string& target, bool replace, FileProblem& problem);

    [[nodiscard]] bool isOpen() const { return handle != closed || standardOutput; }
    [[nodiscard]] bool isStandardOutput() const { return standardOutput; }
    // The target as given, or "standard output", for messages.
    [[nodiscard]] const std::string& name() const { return shownName; }

    bool write(const std::uint8_t* data, std::size_t size, FileProblem& problem);
    // Puts the data on the disk and gives it the target's name; a file it
    // replaces passes on its permissions. A target that did not exist at
    // create() is never replaced: if another program made one meanwhile, it
    // is left alone (Exists). When the data cannot take the target's name, it
    // stays in its own file, which keptPath() names. Closed afterwards either
    // way.
    bool commit(FileProblem& problem);
    // Closes and removes the new file; the target stays as it was.
    void discard();
    // Where the data was left by a commit that could not name it; else empty.
    [[nodiscard]] const std::string& keptPath() const { return kept; }

private:
    // A file descriptor or a Windows HANDLE, whichever the OS uses.
    static constexpr std::intptr_t closed = -1;
    std::intptr_t handle = closed;
    bool standardOutput = false;
    // The target existed at create() and may be replaced.
    bool replaceExisting = false;
    std::string shownName;
    // Where the data goes: the target, or the file a symbolic link leads to.
    std::string finalPath;
    std::string pendingPath;
    std::string kept;
};

// A file read from start to end in pieces: a regular file (through symbolic
// links), or standard input ("-"). Anything else is refused when opened,
// before a byte is read, so a FIFO, a device or a folder can neither block
// the reader nor feed it without end.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;

    // Not open, with `problem` set, when `name` is no readable regular file.
    static InputFile open(const std::string& name, FileProblem& problem);

    [[nodiscard]] bool isOpen() const { return handle != closed || standardInput; }
    [[nodiscard]] bool isStandardInput() const { return standardInput; }
    // The name as given, or "standard input", for messages.
    [[nodiscard]] const std::string& name() const { return shownName; }
    // A regular file's size as the system reports it; nothing for standard
    // input, nor for a file that reports none (0, as the kernel's own files
    // in /proc do: such a file is read to its end like a stream).
    [[nodiscard]] std::optional<std::uint64_t> size() const { return knownSize; }

    // Fills `buffer` with up to `capacity` bytes. Fewer only at the end of the
    // input (then atEnd()), on a failure (`problem` set), or when a caught
    // signal (interruptSignal()) ended a wait for input.
    std::size_t read(std::uint8_t* buffer, std::size_t capacity, FileProblem& problem);
    [[nodiscard]] bool atEnd() const { return ended; }

private:
    void close();

    static constexpr std::intptr_t closed = -1;
    std::intptr_t handle = closed;
    bool standardInput = false;
    bool ended = false;
    std::string shownName;
    std::optional<std::uint64_t> knownSize;
};

// Whether anything, even a symbolic link to nothing, has this name.
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
