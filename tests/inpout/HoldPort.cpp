// Another flashlock on the port, for the end-to-end tests: loads the io module
// through the program's binding, makes one port access so that the module
// takes the port, then runs the command line it was given (a second
// flashlock) with its own standard handles and ends with that command's exit
// status. It says nothing itself unless it cannot do that.
#include <windows.h>

#include <cstdio>
#include <string>

#include "driver/PortIoLibrary.h"

int main(int argc, char** argv) {
    if (argc < 2 || loadPortIoLibrary() != 0 || portIoLibrary.portOut() == nullptr) {
        std::fputs("hold_port: usage: hold_port <program> [argument...], with an io module to load\n", stderr);
        return 100;
    }
    portIoLibrary.portOut()(0x37A, 0x04);
    std::string command;
    for (int i = 1; i < argc; ++i) {
        command += std::string(command.empty() ? "" : " ") + "\"" + argv[i] + "\"";  // NOLINT: argv
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process) == 0) {
        std::fprintf(stderr, "hold_port: cannot start %s (error %lu)\n", command.c_str(), GetLastError());
        return 101;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 102;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    unloadPortIoLibrary();
    return static_cast<int>(status);
}
