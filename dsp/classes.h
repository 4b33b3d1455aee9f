// Descriptors of the engine's registered classes (the registry lists them).
#pragma once

#include "core/object.h"

extern const QZ_Class QZ_Soundpipe_class;
extern const QZ_Class QZ_Buffer_class;
extern const QZ_Class QZ_Effect_class;
extern const QZ_Class QZ_Effect_Zero_class;
extern const QZ_Class QZ_Effect_Hipass_class;
extern const QZ_Class QZ_Effect_Lgd_class;
extern const QZ_Class QZ_Effect_Lopass_class;
extern const QZ_Class QZ_Effect_Bapass_class;
extern const QZ_Class QZ_Effect_Copy_class;
