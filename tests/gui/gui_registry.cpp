// The class registry for the graphics tests when the full one cannot be built
// (the engine's library is absent): the root and the widget classes.
#include "core/object.h"
#include "gui/classes.h"

extern "C" const QZ_Registry_Entry __QZ[] = {
    {"QZ_Object", &QZ_Object_class},     {"QZ_Wid", &QZ_Wid_class},
    {"QZ_Wid_Pic", &QZ_Wid_Pic_class},   {"QZ_Wid_Butt", &QZ_Wid_Butt_class},
    {"QZ_Wid_Knob", &QZ_Wid_Knob_class}, {"QZ_Wid_Pal", &QZ_Wid_Pal_class},
    {"QZ_Wid_Text", &QZ_Wid_Text_class}, {nullptr, nullptr},
};
