// A message box of the toolkit's own on X11: the text over the panel's
// background and an OK button drawn from the panel's pictures, modal on the
// caller's thread (OK, Enter, Escape, Space or the window manager's close end
// it). Returns QZ_IDOK, or 0 when the display cannot be opened.
#pragma once

// `display` null means $DISPLAY; `transient_for` is the window to stay above (0: none).
int QZ_x11_message_box(const char* display, unsigned long transient_for, const char* text, const char* caption);
