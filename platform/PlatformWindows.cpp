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

}  // namespace

void pauseBeforeExit() {
    // cmd's own PAUSE: the prompt and the key handling Windows users know.
    // NOLINTNEXTLINE(cert-env33-c,concurrency-mt-unsafe)
    static_cast<void>(std::system("PAUSE"));
}

ModuleHandle loadModule(const char* name) {
    return LoadLibraryA(name);
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
    return "the port-I/O module " + std::string(name) + ".dll could not be loaded (error " +
           std::to_string(GetLastError()) +
           "). Install a port-I/O library as io.dll next to flashlock.exe; a 64-bit flashlock needs a 64-bit io.dll.";
}

TickCounter& systemCounter() {
    static PerformanceCounter counter;
    return counter;
}

}  // namespace platform
