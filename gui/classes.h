// Class descriptors of the widgets, for the class registry.
#pragma once

#include "core/object.h"

extern const QZ_Class QZ_Wid_class;
extern const QZ_Class QZ_Wid_Pic_class;
extern const QZ_Class QZ_Wid_Butt_class;
extern const QZ_Class QZ_Wid_Knob_class;
extern const QZ_Class QZ_Wid_Pal_class;
extern const QZ_Class QZ_Wid_Text_class;
