#include "plugin/editor.h"

#include "plugin/main_vst.h"

bool QZ_Main_Vst_Editor::getRect(ERect** rect) {
    if (!rect) return false;
    rect_.top = 0;
    rect_.left = 0;
    rect_.bottom = static_cast<VstInt16>(plugin->editor_height);
    rect_.right = static_cast<VstInt16>(plugin->editor_width);
    *rect = &rect_;
    return true;
}
