#include "iolib/sim/VcdTrace.h"

#include <cstring>
#include <string>

namespace flashsim {

namespace {

constexpr unsigned textWidth = 64;  // eight ASCII characters
// Enough to keep writes rare when no bus cycle comes for a long time.
constexpr std::size_t pendingLimit = std::size_t{1} << 16U;

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
    pending +=
        "$comment flashlock simulator: the lines of the parallel port at 0x378 and the bus cycles the "
        "simulated board decoded from them; one time step per port access $end\n"
        "$version flashlock simulator $end\n"
        "$timescale 1 us $end\n";
    const char* openScope = nullptr;
    for (std::size_t index = 0; index < variables.size(); ++index) {
        const Variable& variable = variables[index];
        if (openScope == nullptr || std::strcmp(openScope, variable.scope) != 0) {
            if (openScope != nullptr) {
                pending += "$upscope $end\n";
            }
            pending += std::string("$scope module ") + variable.scope + " $end\n";
            openScope = variable.scope;
        }
        pending +=
            "$var wire " + std::to_string(variable.width) + ' ' + static_cast<char>('!' + index) + ' ' + variable.name;
        if (variable.width > 1 && variable.width != textWidth) {
            pending += " [" + std::to_string(variable.width - 1) + ":0]";
        }
        pending += " $end\n";
    }
    pending += "$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n";
    for (std::size_t index = 0; index < variables.size(); ++index) {
        emit(static_cast<Signal>(index));
    }
    pending += "$end\n";
    commit();
}

VcdTrace::~VcdTrace() {
    commit();
}

bool VcdTrace::commit() {
    if (!pending.empty()) {
        out->write(pending.data(), static_cast<std::streamsize>(pending.size()));
        pending.clear();
    }
    out->flush();
    return static_cast<bool>(*out);
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
        pending += '#' + std::to_string(now) + '\n';
        stepWritten = true;
    }
    emit(signal);
    if (pending.size() >= pendingLimit) {
        commit();
    }
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
        pending += variable.value != 0 ? '1' : '0';
        pending += id;
        pending += '\n';
        return;
    }
    pending += 'b';
    for (unsigned bit = variable.width; bit-- > 0;) {
        pending += ((variable.value >> bit) & 1U) != 0 ? '1' : '0';
    }
    pending += ' ';
    pending += id;
    pending += '\n';
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
