#pragma once
// The image lines as compiled in. The definition is generated at build time by
// q218-image-check from q218-firmware.txt, after the file has passed every check.

#include <array>
#include <string_view>

#include "image/FirmwareImage.h"

namespace q218 {

extern const std::array<std::string_view, kImageLineCount> kEmbeddedImage;

}  // namespace q218
