// The driver classes the host sets up on Linux: the wave-device driver on ALSA.
#include "host/host_front.h"
#include "rts/mme.h"

std::vector<QZ_Host::Driver_Class> zelo_driver_classes() {
    return {{&QZ_Rts_Win32::classInit, &QZ_Rts_Win32::classExit}};
}
