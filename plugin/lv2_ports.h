// The LV2 plug-in's ports, shared by the plug-in and its UI (their order is
// the one the plug-in description gives).
#pragma once

#include <cstdint>

enum QZ_Lv2_Port : std::uint32_t {
    QZ_LV2_IN = 0,
    QZ_LV2_OUT_LEFT = 1,
    QZ_LV2_OUT_RIGHT = 2,
    QZ_LV2_STATE = 3,
    QZ_LV2_FREQUENCY = 4,
    QZ_LV2_PORTS = 5,
};

// A toggled port is on above zero.
inline bool QZ_lv2_state_is_on(float value) { return value > 0.0f; }
