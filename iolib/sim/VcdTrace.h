#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace flashsim {

// A value change dump of the port lines and of what the board made of them,
// for GTKWave or PulseView. Simulated time advances one step per port access
// (shown as 1 us, about what one access to a real port takes); the program's
// own waits leave no trace, since the module never sees them.
//
// Text signals (bus.cycle, chip.mode) are 8-character ASCII vectors: choose
// the ASCII data format for them in the viewer.
class VcdTrace {
public:
    enum Signal : std::size_t {
        Data,
        Control,
        Status,
        AddressClock,
        AddressBit,
        ReadClock,
        BusMode,
        DataDrive,
        Access,
        WriteStrobe,
        SerialOut,
        ProbeAnswer,
        AddressRegister,
        CycleKind,
        CycleAddress,
        CycleByte,
        Fault,
        ChipMode,
        SignalCount
    };

    // Writes the header and the initial values; the stream is borrowed.
    explicit VcdTrace(std::ostream& stream);
    ~VcdTrace();
    VcdTrace(const VcdTrace&) = delete;
    VcdTrace& operator=(const VcdTrace&) = delete;
    VcdTrace(VcdTrace&&) = delete;
    VcdTrace& operator=(VcdTrace&&) = delete;

    // Everything set after this call belongs to the step `time`, which must not
    // be earlier than the last one. Pulses (a bus cycle's kind, a fault) fall
    // back at the next step.
    void step(std::uint64_t time);
    void set(Signal signal, std::uint64_t value);
    void setText(Signal signal, std::string_view text);
    // Pulses: shown at this step only.
    void pulse(Signal signal, std::uint64_t value);
    void pulseText(Signal signal, std::string_view text);
    // Hands the whole lines gathered so far to the stream and flushes it, in
    // one write, so that a run killed at any moment leaves a file that ends
    // at a line boundary. The caller picks the moments (bus cycles, access
    // line changes); the trace also commits by itself when much is pending.
    // False once a write has failed.
    bool commit();

private:
    struct Variable {
        const char* scope;
        const char* name;
        unsigned width;
        std::uint64_t value;
        bool pulsed;
    };

    static std::vector<Variable> declarations();
    void emit(Signal signal);
    static std::uint64_t textValue(std::string_view text);

    std::ostream* out;
    std::string pending;
    std::vector<Variable> variables;
    std::uint64_t now = 0;
    bool stepWritten = true;
};

}  // namespace flashsim
