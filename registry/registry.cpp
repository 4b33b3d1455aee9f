// The class registry: the one place that joins the subsystems' classes into the
// constant table the command interpreter reads. It is compiled once per set of
// subsystems a program links, so a program without widgets has no widget rows.
#include "core/object.h"

#if QZ_WITH_DSP
#include "dsp/classes.h"
#endif
#if QZ_WITH_GUI
#include "gui/classes.h"
#endif

#define QZ_ROW(c) {#c, &c##_class},

// clang-format off

extern "C" const QZ_Registry_Entry __QZ[] = {
    QZ_ROW(QZ_Object)
#if QZ_WITH_DSP
    QZ_ROW(QZ_Soundpipe)
    QZ_ROW(QZ_Buffer)
    QZ_ROW(QZ_Effect)
    QZ_ROW(QZ_Effect_Zero)
    QZ_ROW(QZ_Effect_Hipass)
    QZ_ROW(QZ_Effect_Lgd)
    QZ_ROW(QZ_Effect_Lopass)
    QZ_ROW(QZ_Effect_Freqmul)
    QZ_ROW(QZ_Effect_Nefreqmul)
    QZ_ROW(QZ_Effect_Gtzero)
    QZ_ROW(QZ_Effect_Ltzero)
    QZ_ROW(QZ_Effect_Bapass)
    QZ_ROW(QZ_Effect_Ampdet)
    QZ_ROW(QZ_Effect_Copy)
    QZ_ROW(QZ_Effect_Oper)
    QZ_ROW(QZ_Effect_Koef)
    QZ_ROW(QZ_Effect_Dist)
    QZ_ROW(QZ_Effect_Deline)
    QZ_ROW(QZ_Effect_Oversam)
    QZ_ROW(QZ_Effect_Shift)
    QZ_ROW(QZ_Effect_Nshift)
    QZ_ROW(QZ_Fourier_Transform)
    QZ_ROW(QZ_Fourier_Noisegate)
    QZ_ROW(QZ_Gener)
    QZ_ROW(QZ_Gener_White)
    QZ_ROW(QZ_Gener_Exp)
#endif
#if QZ_WITH_GUI
    QZ_ROW(QZ_Wid)
    QZ_ROW(QZ_Wid_Pic)
    QZ_ROW(QZ_Wid_Butt)
    QZ_ROW(QZ_Wid_Knob)
    QZ_ROW(QZ_Wid_Pal)
    QZ_ROW(QZ_Wid_Text)
#endif
    {nullptr, nullptr},
};
// clang-format on
