// Where the core finds the operating system's side of the seam. Each accessor returns the one
// process-wide implementation for this platform (src/platform/<os>/).
#pragma once

#include "platform/BulkPipe.h"
#include "platform/HidSystem.h"
#include "platform/PictureLoader.h"
#include "platform/SerialPort.h"

namespace zel::platform {

HidSystem& hidSystem();
BulkPipeSystem& bulkPipeSystem();
SerialSystem& serialSystem();
PictureLoader& pictureLoader();

}  // namespace zel::platform
