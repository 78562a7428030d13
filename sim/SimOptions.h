#pragma once
// The command line of q218-sim: which device to simulate, how it is paced, which faults it
// has, and where its ptys are linked. Parsing is pure so that it can be tested.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/DeviceSetup.h"

namespace q218::sim {

struct SimOptions {
    DeviceSetup device;
    bool paced = false;
    std::chrono::microseconds wordWriteTime{0};
    std::chrono::milliseconds replyDelay{0};
    std::optional<std::string> handshake;
    std::string linkPath;                  // symbolic link to the device's pty
    std::vector<std::string> silentLinks;  // one silent pty per path
    bool printTranscript = false;
    bool help = false;
};

struct ParsedOptions {
    std::optional<SimOptions> options;
    std::string error;  // set when options is empty
};

ParsedOptions ParseSimOptions(const std::vector<std::string>& args);

// Puts the options' state, timing and faults on `device`.
void ApplyOptions(const SimOptions& options, SimulatedQ218& device);

// Text with C-like escapes (\r, \n, \t, \\, \xHH) as bytes; nullopt when malformed.
std::optional<std::string> Unescape(std::string_view text);

// The --help text.
std::string SimUsage();

}  // namespace q218::sim
