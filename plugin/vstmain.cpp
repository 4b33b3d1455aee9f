// The plug-in entry: one effect object per call.
#include <new>

#include "plugin/main_vst.h"

#if defined(_WIN32)
#define QZ_ENTRY_VISIBLE  // the module definition file lists the exports
#else
#define QZ_ENTRY_VISIBLE __attribute__((visibility("default")))
#endif

extern "C" QZ_ENTRY_VISIBLE AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
    if (!audioMaster) return nullptr;
    // A host that answers 0 is too old for this interface.
    if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
    QZ_Main_Vst* effect = nullptr;
    try {
        effect = new QZ_Main_Vst(audioMaster);
    } catch (...) {
        return nullptr;  // no exception crosses into the host
    }
    return effect->getAeffect();
}
