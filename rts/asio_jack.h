// Our ASIO driver on a JACK server: one JACK client, one port per channel,
// 32-bit float samples, the server's period and rate.
#pragma once

#include <cstdint>

#include "rts/asio.h"

// The driver's class identifier (also accepted as its interface identifier).
extern const QZ_Guid QZ_CLSID_Asio_Jack;

// A new driver object with one reference; the caller releases it.
IASIO* QZ_asio_jack_create();

// Longest time one process cycle of our JACK drivers took, in nanoseconds,
// since the last call (which starts a new measurement).
std::uint64_t QZ_asio_jack_take_worst_cycle_ns();
