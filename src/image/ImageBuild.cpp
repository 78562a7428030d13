#include "image/EmbeddedImage.h"
#include "image/FirmwareImage.h"

namespace q218 {

FirmwareImage Image_Build() {
    return FirmwareImage(kEmbeddedImage.begin(), kEmbeddedImage.end());
}

}  // namespace q218
