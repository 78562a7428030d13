#include "sim/DeviceSetup.h"

#include <cstdio>
#include <random>
#include <utility>

namespace q218::sim {

namespace {

// A little past the 367 frames of the image, so that some faults never strike.
constexpr int kFrameRange = 400;

std::string SixDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%06d", value);
    return text;
}

}  // namespace

void DeviceSetup::ApplyTo(SimulatedQ218& device) const {
    if (bootloaderOnly) {
        device.BreakApplication();
    }
    device.SetFaults(faults);
}

DeviceSetup DrawDevice(std::uint64_t seed, bool withSilence) {
    std::mt19937_64 random(seed);
    const auto chance = [&](double p) { return std::bernoulli_distribution(p)(random); };
    const auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const auto bytes = [&](int count) {
        std::string text;
        while (count-- > 0) {
            text += static_cast<char>(uniform(0, 255));
        }
        return text;
    };
    DeviceSetup d;
    const std::string serials[] = {
        SixDigits(uniform(0, 999998)), "", "999999",
        std::to_string(chance(0.5) ? uniform(1, 99'999) : uniform(1'000'000, 99'999'999))};
    d.firmware.serial = serials[uniform(0, 3)];
    d.bootloaderOnly = chance(0.25);
    for (int i = chance(0.4) ? uniform(1, 3) : 0; i > 0; --i) {
        d.faults.belAfterFrame[uniform(0, kFrameRange)] =
            chance(0.1) ? uniform(10, 60) : uniform(1, 3);
    }
    d.faults.noiseBeforeEnq = bytes(chance(0.3) ? uniform(1, 12) : 0);
    d.faults.noiseAfterEnq = bytes(chance(0.1) ? uniform(1, 3) : 0);
    for (const auto& [fault, p] : {std::pair{&Faults::unplugAtFrame, 0.2},
                                   {&Faults::silentFromFrame, withSilence ? 0.15 : 0.0},
                                   {&Faults::corruptFrame, 0.3},
                                   {&Faults::unplugAfterReplyToFrame, 0.1}}) {
        if (chance(p)) {
            d.faults.*fault = uniform(0, kFrameRange);
        }
    }
    return d;
}

}  // namespace q218::sim
