#pragma once
// What the tests check on the simulated device after a run: its transcript, and that an
// update left the image in its program memory word for word.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/DeviceMemory.h"
#include "support/ImageInput.h"

namespace q218::test {

// How often the device's transcript holds `kind`.
inline int Count(sim::PtyServer& server, sim::EntryKind kind) {
    return server.WithDevice([kind](sim::SimulatedQ218& d) {
        return static_cast<int>(
            std::count_if(d.Transcript().begin(), d.Transcript().end(),
                          [kind](const sim::TranscriptEntry& e) { return e.kind == kind; }));
    });
}

// Checks that the device, which held `before`, now holds the first `frames` frames of the
// image's update with `serial` (all by default) word for word; returns the frames of that
// update.
inline std::size_t ExpectTheImage(sim::PtyServer& server, const Memory& before,
                                  const std::string& serial, std::size_t frames = SIZE_MAX) {
    const std::vector<WrittenBlock> blocks = BlocksOfUpdate(ReadImageInput(), serial);
    const MemoryDifference difference =
        Compare(MemoryOf(server), AfterBlocks(before, blocks, frames));
    EXPECT_EQ(difference.count, 0U) << difference.firstFew;
    return blocks.size();
}

}  // namespace q218::test
