// The wave-device driver: two input channels and two or four output channels on
// wave device 0, in blocks of 10 ms, eight buffers queued each way. Recording
// drives it: every returned input buffer yields one block, and the block's output
// is sent from the same completion call.
#pragma once

#include <atomic>
#include <cstdint>

#include "rts/rts.h"
#include "rts/wave.h"

class QZ_Rts_Win32 : public QZ_Rts {
public:
    static constexpr int BUFFERS = 8;

    // What a header's user data points at: the driver and the buffer's index.
    struct Buffer {
        QZ_Rts_Win32* driver;
        int index;
    };

    unsigned char* outBuffers[BUFFERS];  // outBuffers[0] is also the allocation
    unsigned char* inBuffers[BUFFERS];
    QZ_Wave_Header inHeaders[BUFFERS];
    QZ_Wave_Header outHeaders[BUFFERS];
    QZ_Wave_Format format;
    QZ_Wave_Handle waveIn;
    QZ_Wave_Handle waveOut;
    Buffer buffers[BUFFERS];
    QZ_Chain_Item classItem;
    QZ_Chain_Item instanceItem;
    QZ_Rts_Signal drained;

    QZ_Wave_Device* device;  // the seam this instance runs on (not owned)

    explicit QZ_Rts_Win32(QZ_Wave_Device* device);
    ~QZ_Rts_Win32() override;

    QZ_error init() override;
    QZ_error mode(Mode* m) override;
    QZ_error free() override;

    // Creates the one instance on the platform's wave device.
    static QZ_error classInit(QZ_Rts_callback callback);
    // The same on a given device, with the instance named `name`.
    static QZ_error classInit(QZ_Rts_callback callback, QZ_Wave_Device* device, const char* name);
    static void classExit();

    static QZ_Chain classInstances;

    // The input completion callback.
    static void waveInProc(QZ_Wave_Handle h, unsigned msg, std::uintptr_t instance, std::uintptr_t p1,
                           std::uintptr_t p2);

private:
    void resetHeaders();
    void send(int index);
    void release();
    void unprepareAll();
    bool retry(unsigned (QZ_Wave_Device::*call)(QZ_Wave_Handle), QZ_Wave_Handle h);
    QZ_error failMode(QZ_error code);
};
