// The effect's editor: the VST side of the panel. The widgets belong to the
// application and live as long as it; the editor owns the frame window they are
// attached to while the host shows the editor.
#pragma once

#include <memory>

#include "plugin/audioeffect.h"

class QZ_Main_Vst;
class QZ_Win;

class QZ_Main_Vst_Editor : public AEffEditor {
public:
    explicit QZ_Main_Vst_Editor(QZ_Main_Vst* plugin);
    ~QZ_Main_Vst_Editor() override;

    bool getRect(ERect** rect) override;
    // `ptr` is the host's window (an X11 window id on Linux).
    bool open(void* ptr) override;
    void close() override;
    void idle() override;

    // The frame while the editor exists (for programs that look at it).
    QZ_Win* frame_window() const;

    struct Frame;  // the platform's window and its event handling

private:
    std::unique_ptr<Frame> frame;
    QZ_Main_Vst* plugin;
    ERect rect_{};
};
