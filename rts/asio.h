// Our declaration of the ASIO driver interface: the driver object (IASIO), the
// records that cross the driver boundary, result codes, sample types and
// message selectors. Written with fixed-width types, since the interface's
// "long" is 32 bits on Windows but 64 on Linux x86-64.
//
// Calling convention: on 32-bit Windows the drivers' methods are MSVC thiscall
// (object in ECX, callee pops). mingw-w64's g++ already uses that for member
// functions there, so plain virtuals match; the three IUnknown slots are
// stdcall. Elsewhere only our own drivers exist, so plain virtuals suffice.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && defined(__i386__)
#define QZ_ASIO_COMCALL __attribute__((stdcall))
#else
#define QZ_ASIO_COMCALL
#endif

using ASIOBool = std::int32_t;
using ASIOError = std::int32_t;
using ASIOSampleType = std::int32_t;
using ASIOSampleRate = double;

enum : ASIOBool { ASIOFalse = 0, ASIOTrue = 1 };

enum : ASIOError {
    ASE_OK = 0,
    ASE_SUCCESS = 0x3F4847A0,
    ASE_NotPresent = -1000,
    ASE_HWMalfunction = -999,
    ASE_InvalidParameter = -998,
    ASE_InvalidMode = -997,
    ASE_SPNotAdvancing = -996,
    ASE_NoClock = -995,
    ASE_NoMemory = -994,
};

enum : ASIOSampleType {
    ASIOSTInt16MSB = 0,
    ASIOSTInt24MSB = 1,
    ASIOSTInt32MSB = 2,
    ASIOSTFloat32MSB = 3,
    ASIOSTFloat64MSB = 4,
    ASIOSTInt32MSB16 = 8,
    ASIOSTInt32MSB18 = 9,
    ASIOSTInt32MSB20 = 10,
    ASIOSTInt32MSB24 = 11,
    ASIOSTInt16LSB = 16,
    ASIOSTInt24LSB = 17,
    ASIOSTInt32LSB = 18,
    ASIOSTFloat32LSB = 19,
    ASIOSTFloat64LSB = 20,
    ASIOSTInt32LSB16 = 24,
    ASIOSTInt32LSB18 = 25,
    ASIOSTInt32LSB20 = 26,
    ASIOSTInt32LSB24 = 27,
    ASIOSTDSDInt8LSB1 = 32,
    ASIOSTDSDInt8MSB1 = 33,
    ASIOSTDSDInt8NER8 = 40,
};

// Selectors of the host's message callback (driver asks, host answers).
enum : std::int32_t {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioMMCCommand = 9,
    kAsioSupportsInputMonitor = 10,
    kAsioOverload = 15,
};

// Selectors of the driver's future() method (host asks, driver answers).
enum : std::int32_t {
    kAsioEnableTimeCodeRead = 1,
    kAsioDisableTimeCodeRead = 2,
    kAsioCanTimeInfo = 10,
    kAsioCanTimeCode = 11,
};

// Time-info flags.
enum : std::uint32_t {
    kSystemTimeValid = 1,
    kSamplePositionValid = 2,
    kSampleRateValid = 4,
    kSpeedValid = 8,
    kSampleRateChanged = 16,
    kClockSourceChanged = 32,
};

// Records are laid out as MSVC lays them out with 4-byte packing, so that
// every compiler agrees with the drivers on sizes and offsets.
#pragma pack(push, 4)

// A 64-bit count in two halves, high half first (not an int64: on a
// little-endian machine the memory order would differ).
struct ASIOSamples {
    std::uint32_t hi;
    std::uint32_t lo;
};
using ASIOTimeStamp = ASIOSamples;  // nanoseconds

struct ASIODriverInfo {
    std::int32_t asioVersion;
    std::int32_t driverVersion;
    char name[32];
    char errorMessage[124];
    void* sysRef;
};

struct ASIOClockSource {
    std::int32_t index;
    std::int32_t associatedChannel;
    std::int32_t associatedGroup;
    ASIOBool isCurrentSource;
    char name[32];
};

struct ASIOChannelInfo {
    std::int32_t channel;  // in
    ASIOBool isInput;      // in
    ASIOBool isActive;     // out
    std::int32_t channelGroup;
    ASIOSampleType type;
    char name[32];
};

struct ASIOBufferInfo {
    ASIOBool isInput;      // in
    std::int32_t channelNum;  // in
    void* buffers[2];      // out: the two halves
};

struct AsioTimeInfo {
    double speed;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    ASIOSampleRate sampleRate;
    std::uint32_t flags;
    char reserved[12];
};

struct ASIOTimeCode {
    double speed;
    ASIOSamples timeCodeSamples;
    std::uint32_t flags;
    char future[64];
};

struct ASIOTime {
    std::int32_t reserved[4];
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};

// The host's functions that the driver calls (plain C functions).
struct ASIOCallbacks {
    void (*bufferSwitch)(std::int32_t doubleBufferIndex, ASIOBool directProcess);
    void (*sampleRateDidChange)(ASIOSampleRate sRate);
    std::int32_t (*asioMessage)(std::int32_t selector, std::int32_t value, void* message, double* opt);
    ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, std::int32_t doubleBufferIndex, ASIOBool directProcess);
};

#pragma pack(pop)

static_assert(sizeof(ASIOSamples) == 8);
static_assert(sizeof(ASIOChannelInfo) == 52 && offsetof(ASIOChannelInfo, name) == 20);
static_assert(offsetof(ASIODriverInfo, errorMessage) == 40 && offsetof(ASIODriverInfo, sysRef) == 164);
static_assert(offsetof(ASIOBufferInfo, buffers) == 8 && sizeof(ASIOBufferInfo) == 8 + 2 * sizeof(void*));
static_assert(sizeof(ASIOClockSource) == 48);
static_assert(sizeof(AsioTimeInfo) == 48 && offsetof(AsioTimeInfo, flags) == 32);
static_assert(sizeof(ASIOTimeCode) == 84);
static_assert(sizeof(ASIOTime) == 148 && offsetof(ASIOTime, timeCode) == 64);
static_assert(sizeof(ASIOCallbacks) == 4 * sizeof(void*));

// A COM class or interface identifier (the layout of a Windows GUID).
struct QZ_Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};
static_assert(sizeof(QZ_Guid) == 16);

bool operator==(const QZ_Guid& a, const QZ_Guid& b);

// The interface every ASIO driver object implements, slots in vtable order. A
// COM interface: no virtual destructor, the object goes away on its last Release.
class IASIO {
public:
    // IUnknown
    virtual std::int32_t QZ_ASIO_COMCALL QueryInterface(const QZ_Guid& iid, void** object) = 0;
    virtual std::uint32_t QZ_ASIO_COMCALL AddRef() = 0;
    virtual std::uint32_t QZ_ASIO_COMCALL Release() = 0;

    virtual ASIOBool init(void* sysHandle) = 0;
    virtual void getDriverName(char* name) = 0;  // 32 bytes
    virtual std::int32_t getDriverVersion() = 0;
    virtual void getErrorMessage(char* string) = 0;  // 124 bytes
    virtual ASIOError start() = 0;
    virtual ASIOError stop() = 0;
    virtual ASIOError getChannels(std::int32_t* numInputChannels, std::int32_t* numOutputChannels) = 0;
    virtual ASIOError getLatencies(std::int32_t* inputLatency, std::int32_t* outputLatency) = 0;
    virtual ASIOError getBufferSize(std::int32_t* minSize, std::int32_t* maxSize, std::int32_t* preferredSize,
                                    std::int32_t* granularity) = 0;
    virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) = 0;
    virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getClockSources(ASIOClockSource* clocks, std::int32_t* numSources) = 0;
    virtual ASIOError setClockSource(std::int32_t reference) = 0;
    virtual ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
    virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;
    virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, std::int32_t numChannels, std::int32_t bufferSize,
                                    ASIOCallbacks* callbacks) = 0;
    virtual ASIOError disposeBuffers() = 0;
    virtual ASIOError controlPanel() = 0;
    virtual ASIOError future(std::int32_t selector, void* opt) = 0;
    virtual ASIOError outputReady() = 0;

protected:
    ~IASIO() = default;
};

// The identifier of IUnknown, which every driver answers to.
extern const QZ_Guid QZ_IID_IUnknown;

// 64-bit counts to and from the two-halves form.
inline ASIOSamples QZ_asio_samples(std::uint64_t v) {
    return ASIOSamples{static_cast<std::uint32_t>(v >> 32), static_cast<std::uint32_t>(v)};
}
inline std::uint64_t QZ_asio_value(const ASIOSamples& s) { return (std::uint64_t{s.hi} << 32) | s.lo; }
