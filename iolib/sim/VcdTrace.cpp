#include "iolib/sim/VcdTrace.h"

#include <cstring>

namespace flashsim {

namespace {

constexpr unsigned textWidth = 64;  // eight ASCII characters

}  // namespace

// In the order of Signal, grouped by scope.
std::vector<VcdTrace::Variable> VcdTrace::declarations() {
    return {
        {"lpt", "data", 8, 0, false},
        {"lpt", "control", 8, 0, false},
        {"lpt", "status", 8, 0, false},
        {"lpt", "d0_address_clock", 1, 0, false},
        {"lpt", "d1_address_bit", 1, 0, false},
        {"lpt", "d2_read_clock", 1, 0, false},
        {"lpt", "c0_bus_mode", 1, 0, false},
        {"lpt", "c1_data_drive", 1, 0, false},
        {"lpt", "c2_access", 1, 0, false},
        {"lpt", "c3_write_strobe", 1, 0, false},
        {"lpt", "s6_serial_out", 1, 0, false},
        {"lpt", "s7_probe_answer", 1, 0, false},
        {"board", "address_register", 24, 0, false},
        {"bus", "cycle", textWidth, 0, false},
        {"bus", "address", 24, 0, false},
        {"bus", "byte", 8, 0, false},
        {"bus", "fault", 1, 0, false},
        {"chip", "mode", textWidth, 0, false},
    };
}

VcdTrace::VcdTrace(std::ostream& stream) : out(&stream), variables(declarations()) {
    *out << "$comment flashlock simulator: the lines of the parallel port at 0x378 and the bus cycles the "
            "simulated board decoded from them; one time step per port access $end\n"
         << "$version flashlock simulator $end\n"
         << "$timescale 1 us $end\n";
    const char* openScope = nullptr;
    for (std::size_t index = 0; index < variables.size(); ++index) {
        const Variable& variable = variables[index];
        if (openScope == nullptr || std::strcmp(openScope, variable.scope) != 0) {
            if (openScope != nullptr) {
                *out << "$upscope $end\n";
            }
            *out << "$scope module " << variable.scope << " $end\n";
            openScope = variable.scope;
        }
        *out << "$var wire " << variable.width << ' ' << static_cast<char>('!' + index) << ' ' << variable.name;
        if (variable.width > 1 && variable.width != textWidth) {
            *out << " [" << variable.width - 1 << ":0]";
        }
        *out << " $end\n";
    }
    *out << "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    for (std::size_t index = 0; index < variables.size(); ++index) {
        emit(static_cast<Signal>(index));
    }
    *out << "$end\n";
}

void VcdTrace::step(std::uint64_t time) {
    if (time > now) {
        now = time;
        stepWritten = false;
    }
    for (std::size_t index = 0; index < variables.size(); ++index) {
        if (variables[index].pulsed) {
            variables[index].pulsed = false;
            set(static_cast<Signal>(index), 0);
        }
    }
}

void VcdTrace::set(Signal signal, std::uint64_t value) {
    Variable& variable = variables.at(signal);
    if (variable.width < 64) {
        value &= (std::uint64_t{1} << variable.width) - 1U;
    }
    if (value == variable.value) {
        return;
    }
    variable.value = value;
    if (!stepWritten) {
        *out << '#' << now << '\n';
        stepWritten = true;
    }
    emit(signal);
}

void VcdTrace::setText(Signal signal, std::string_view text) {
    set(signal, textValue(text));
}

void VcdTrace::pulse(Signal signal, std::uint64_t value) {
    set(signal, value);
    variables.at(signal).pulsed = true;
}

void VcdTrace::pulseText(Signal signal, std::string_view text) {
    pulse(signal, textValue(text));
}

void VcdTrace::emit(Signal signal) {
    const Variable& variable = variables.at(signal);
    const auto id = static_cast<char>('!' + static_cast<std::size_t>(signal));
    if (variable.width == 1) {
        *out << (variable.value != 0 ? '1' : '0') << id << '\n';
        return;
    }
    *out << 'b';
    for (unsigned bit = variable.width; bit-- > 0;) {
        *out << (((variable.value >> bit) & 1U) != 0 ? '1' : '0');
    }
    *out << ' ' << id << '\n';
}

// Big-endian, so the viewer's ASCII format shows the text left to right;
// unused leading bytes stay zero.
std::uint64_t VcdTrace::textValue(std::string_view text) {
    std::uint64_t value = 0;
    for (std::size_t index = 0; index < text.size() && index < textWidth / 8; ++index) {
        value = (value << 8U) | static_cast<unsigned char>(text[index]);
    }
    return value;
}

}  // namespace flashsim
