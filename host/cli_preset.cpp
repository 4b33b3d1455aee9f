#include "host/cli_preset.h"

#include <cstdio>

#include "core/error.h"
#include "plugin/main_vst.h"
#include "plugin/preset.h"

QZ_Main_Vst* zelo_builtin_effect(zelo::vsthost::Plugin& p) {
    // Only an effect whose calls lead into this program's own classes is ours
    // to look into (a module loaded from a file has trampolines of its own).
    AEffect* e = p.effect();
    if (!e || !e->object || e->dispatcher != &AudioEffect::dispatchEffectClass) return nullptr;
    return dynamic_cast<QZ_Main_Vst*>(static_cast<AudioEffect*>(p.effect()->object));
}

bool zelo_load_preset(zelo::vsthost::Plugin& p, const std::string& path) {
    QZ_Main_Vst* vst = zelo_builtin_effect(p);
    if (!vst) {
        std::fprintf(stderr, "zelo: presets are read by the built-in effect only\n");
        return false;
    }
    QZ_Preset values;
    if (const char* message = QZ_preset_load(path.c_str(), &values)) {
        QZ_message_box(message, "Error");
        return false;
    }
    vst->apply_preset(values);
    return true;
}

bool zelo_save_preset(zelo::vsthost::Plugin& p, const std::string& path) {
    QZ_Main_Vst* vst = zelo_builtin_effect(p);
    if (!vst) {
        std::fprintf(stderr, "zelo: presets are written by the built-in effect only\n");
        return false;
    }
    if (const char* message = QZ_preset_save(path.c_str(), vst->current_preset())) {
        QZ_message_box(message, "Error");
        return false;
    }
    return true;
}
