// The process-wide dispatcher of pads arriving and leaving: the operating system's watcher
// and the virtual pads' one, behind the exported registrations and the library's own users
// (connections that follow their pad).
#pragma once

#include "tablet/PadEventDispatcher.h"

namespace zel {

// Created on first use and never destroyed: its thread may still be delivering while the
// process exits.
PadEventDispatcher& padEvents();

}  // namespace zel
