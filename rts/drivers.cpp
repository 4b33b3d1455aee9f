#include "rts/drivers.h"

#include "rts/asio_driver.h"
#include "rts/mme.h"

QZ_error QZ_Rts_classInitAll(QZ_Rts_callback block) {
    const QZ_error asio = QZ_Rts_Asio::classInit(block);
    const QZ_error wave = QZ_Rts_Win32::classInit(block);
    return asio != QZ_OK ? asio : wave;
}

void QZ_Rts_classExitAll() {
    QZ_Rts_Asio::classExit();
    QZ_Rts_Win32::classExit();
}
