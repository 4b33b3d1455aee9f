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
extern const QZ_Class QZ_Effect_Oper_class;
extern const QZ_Class QZ_Effect_Koef_class;
extern const QZ_Class QZ_Effect_Gtzero_class;
extern const QZ_Class QZ_Effect_Ltzero_class;
extern const QZ_Class QZ_Effect_Dist_class;
extern const QZ_Class QZ_Effect_Ampdet_class;
extern const QZ_Class QZ_Effect_Deline_class;
extern const QZ_Class QZ_Effect_Oversam_class;
extern const QZ_Class QZ_Effect_Shift_class;
extern const QZ_Class QZ_Effect_Nshift_class;
extern const QZ_Class QZ_Fourier_Transform_class;
extern const QZ_Class QZ_Fourier_Noisegate_class;
extern const QZ_Class QZ_Gener_class;
extern const QZ_Class QZ_Gener_White_class;
extern const QZ_Class QZ_Gener_Exp_class;
extern const QZ_Class QZ_Effect_Freqmul_class;
extern const QZ_Class QZ_Effect_Nefreqmul_class;
