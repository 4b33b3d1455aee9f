// The driver classes the host sets up, in its order: the ASIO drivers first (on
// Linux our JACK driver), then the wave-device driver, so that the drivers'
// list shows the ASIO drivers first and the wave device last.
#include "host/host_front.h"
#include "rts/asio_driver.h"
#include "rts/mme.h"

std::vector<QZ_Host::Driver_Class> zelo_driver_classes() {
    return {{&QZ_Rts_Asio::classInit, &QZ_Rts_Asio::classExit}, {&QZ_Rts_Win32::classInit, &QZ_Rts_Win32::classExit}};
}
