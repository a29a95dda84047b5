#pragma once

#include <cstdint>

// InpOut32/InpOutx64 (Highrez), the free port-I/O library with a signed
// kernel driver for 32- and 64-bit Windows, as its own header publishes its
// calls. Every one is __stdcall and exported under its plain name:
//
//   void   Out32(short PortAddress, short data);
//   short  Inp32(short PortAddress);               the byte read, in the low 8 bits
//   BOOL   IsInpOutDriverOpen();                   TRUE once the driver is open
//   void   DlPortWritePortUshort(USHORT port, USHORT Value);
//   USHORT DlPortReadPortUshort(USHORT port);
//   void   DlPortWritePortUlong(ULONG port, ULONG Value);
//   ULONG  DlPortReadPortUlong(ULONG port);
//
// USHORT and ULONG are 16 and 32 bits wide on both kinds of Windows, and BOOL
// is an int. Nothing of InpOut itself is part of flashlock: the user installs
// it, and the bridge loads it at run time.
namespace inpout {

using Out32Function = void(__stdcall*)(short port, short value);
using Inp32Function = short(__stdcall*)(short port);
using IsDriverOpenFunction = int(__stdcall*)();
using WriteUshortFunction = void(__stdcall*)(std::uint16_t port, std::uint16_t value);
using ReadUshortFunction = std::uint16_t(__stdcall*)(std::uint16_t port);
using WriteUlongFunction = void(__stdcall*)(std::uint32_t port, std::uint32_t value);
using ReadUlongFunction = std::uint32_t(__stdcall*)(std::uint32_t port);

// The InpOut DLL that a program of this build's width loads, and the other one,
// with the folder of InpOut's binaries each comes in.
struct Flavour {
    const char* library;
    const char* folder;
    const char* bits;
};

inline constexpr Flavour kFlavour64{"inpoutx64.dll", "x64", "64-bit"};
inline constexpr Flavour kFlavour32{"inpout32.dll", "Win32", "32-bit"};
#if defined(_WIN64)
inline constexpr Flavour kOurs = kFlavour64;
inline constexpr Flavour kOther = kFlavour32;
#else
inline constexpr Flavour kOurs = kFlavour32;
inline constexpr Flavour kOther = kFlavour64;
#endif

}  // namespace inpout
