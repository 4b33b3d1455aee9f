// The ALSA wave device on a PCM of a given name (the platform device uses "default").
#pragma once

#include "rts/wave.h"

// A new device on the named PCM; the caller owns it.
QZ_Wave_Device* QZ_wave_alsa_device(const char* pcm);
