#include <windows.h>

#include <cstdlib>

#include "platform/Platform.h"

namespace platform {

namespace {

class PerformanceCounter final : public TickCounter {
public:
    std::int64_t frequency() override {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }
    std::int64_t now() override {
        LARGE_INTEGER value{};
        QueryPerformanceCounter(&value);
        return value.QuadPart;
    }
};

// The loader's errors that a user meets, in words; others by number.
std::string loadErrorText(DWORD error) {
    switch (error) {
    case ERROR_MOD_NOT_FOUND:
        return "not found next to flashlock.exe, in the system folders or on PATH";
    case ERROR_BAD_EXE_FORMAT:
        return "not a DLL for this program: damaged, not a library at all, or built for the other of 32-bit and 64-bit";
    case ERROR_DLL_INIT_FAILED:
        return "its start-up code failed";
    default:
        return "error " + std::to_string(error);
    }
}

}  // namespace

// Nothing to do on Windows: the C runtime keeps descriptors 0 to 2 marked
// open at start-up even when no handle stands behind them, so a file opened
// later never takes their numbers, and reads from a missing input fail, which
// the dialogue takes as the end of its input.
void ensureStandardStreams() {}

void pauseBeforeExit() {
    // cmd's own PAUSE: the prompt and the key handling Windows users know.
    // NOLINTNEXTLINE(cert-env33-c,concurrency-mt-unsafe)
    static_cast<void>(std::system("PAUSE"));
}

ModuleHandle loadModule(const char* name) {
    return LoadLibraryA(name);
}

std::string moduleFileName(const char* name) {
    return std::string(name) + ".dll";
}

ModuleSymbol findSymbol(ModuleHandle module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
    return reinterpret_cast<ModuleSymbol>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void unloadModule(ModuleHandle module) {
    if (module != nullptr) {
        FreeLibrary(static_cast<HMODULE>(module));
    }
}

std::string moduleLoadProblem(const char* name) {
    const DWORD error = GetLastError();
    return "the port-I/O module " + moduleFileName(name) + " could not be loaded (" + loadErrorText(error) +
           "). Install a port-I/O library as io.dll next to flashlock.exe; a 64-bit flashlock needs a 64-bit io.dll.";
}

TickCounter& systemCounter() {
    static PerformanceCounter counter;
    return counter;
}

}  // namespace platform
