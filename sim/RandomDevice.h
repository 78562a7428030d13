#pragma once
// A device and its faults drawn from a seed: what the soak runs by the hundred thousand, and
// what q218-sim --random SEED serves, so that a seed the soak reports can be replayed by hand
// against the real updater.

#include <cstdint>

#include "sim/SimulatedQ218.h"

namespace q218::sim {

struct RandomDevice {
    // The serial number is one of its own, none, the placeholder "999999", or not six digits.
    PreviousFirmware firmware;
    // A failed update erased the application: only a reset by hand starts the bootloader.
    bool bootloaderOnly = false;
    // BEL after frames, characters before and after ENQ, the adapter pulled, silence from a
    // frame on, a refused checksum; each at a random frame, some past the image's last.
    Faults faults;
};

// `withSilence` false leaves out the device that stops answering.
RandomDevice DrawDevice(std::uint64_t seed, bool withSilence = true);

}  // namespace q218::sim
