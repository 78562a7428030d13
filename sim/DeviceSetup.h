#pragma once
// A device as it comes to the technician, in one value: what q218-sim's options describe, and
// what the soak draws from a seed by the hundred thousand (q218-sim --random SEED serves the
// same device, so that a seed the soak reports can be replayed by hand).

#include <cstdint>

#include "sim/SimulatedQ218.h"

namespace q218::sim {

struct DeviceSetup {
    // The serial number is one of its own, none, the placeholder "999999", or not six digits.
    PreviousFirmware firmware;
    // A failed update erased the application: only a reset by hand starts the bootloader.
    bool bootloaderOnly = false;
    // Drawn: BEL after frames, characters before and after ENQ, the adapter pulled, silence
    // from a frame on, a refused checksum; each at a random frame, some past the image's last.
    Faults faults;

    // Puts the state and the faults on a device built with `firmware`.
    void ApplyTo(SimulatedQ218& device) const;
};

// A device drawn from `seed`; `withSilence` false leaves out the device that stops answering.
DeviceSetup DrawDevice(std::uint64_t seed, bool withSilence = true);

}  // namespace q218::sim
