// The sound driver on ASIO drivers: one instance per listed ASIO driver.
#pragma once

#include <atomic>
#include <cstdint>

#include "rts/asio.h"
#include "rts/rts.h"

class QZ_Rts_Asio : public QZ_Rts {
public:
    // A channel plus the ASIO driver's own number for it.
    struct Chan : QZ_Rts::Chan {
        std::int32_t index = 0;
        Chan(const char* name, QZ_Rts_format format, std::int32_t count, std::int32_t index);
    };

    static constexpr int kMaxBuffers = 136;
    static constexpr std::int32_t kMaxChannels = 16;  // per direction

    std::int32_t inputCount = 0;
    std::int32_t outputCount = 0;
    std::int32_t minSize = 0;
    std::int32_t maxSize = 0;
    std::int32_t preferredSize = 0;
    std::int32_t granularity = 0;
    // The interface packs to 4 bytes; aligned here so that the buffer pointers
    // inside stay naturally aligned on 64-bit builds whatever the base holds.
    alignas(alignof(void*)) ASIOBufferInfo bufferInfos[kMaxBuffers];
    ASIOCallbacks callbacks;
    QZ_Chain_Item classItem;     // in the class's instance list
    QZ_Chain_Item instanceItem;  // in QZ_Rts_instances

    explicit QZ_Rts_Asio(const char* name);
    ~QZ_Rts_Asio() override;

    QZ_error init() override;
    QZ_error exit() override;
    QZ_error mode(Mode* m) override;
    QZ_error free() override;

    // One instance per listed driver, linked into QZ_Rts_instances; `block` is
    // called once per sound block.
    static QZ_error classInit(QZ_Rts_callback block);
    static void classExit();

    // The handlers the ASIO driver calls.
    static void bufferSwitch(std::int32_t index, ASIOBool directProcess);
    static void sampleRateChanged(ASIOSampleRate rate);
    static std::int32_t asioMessage(std::int32_t selector, std::int32_t value, void* message, double* opt);
    static ASIOTime* bufferSwitchTimeInfo(ASIOTime* time, std::int32_t index, ASIOBool directProcess);

    // The instance whose init succeeded last (null after its exit).
    static QZ_Rts_Asio* active();
    // How often a driver asked for a reset (its device changed or went away).
    static std::uint32_t resetRequests();

    // The ASIO sample type's format word, or 0 for a type we do not convert.
    static QZ_Rts_format formatOf(ASIOSampleType type);

private:
    void switchTo(int half);
    void releaseStream();

    // The channels in buffer-information order (inputs, then outputs), so the
    // sound thread need not walk the lists.
    QZ_Rts::Chan* order_[kMaxBuffers] = {};
    int orderCount_ = 0;
    std::atomic<bool> live_{false};  // handlers may call the block callback
    bool started_ = false;           // ASIOStart succeeded since the last stop
    bool prepared_ = false;          // buffers exist on the driver
};
