// Every driver class at once, in the order the host uses: the ASIO drivers
// first, then the wave-device driver, so that QZ_Rts_instances lists the ASIO
// drivers first and the wave device last.
#pragma once

#include "rts/rts.h"

// Initialises the driver classes with one block callback. Returns the first
// failing class's result, or QZ_OK.
QZ_error QZ_Rts_classInitAll(QZ_Rts_callback block);
// Cleans the classes up in the same order.
void QZ_Rts_classExitAll();
