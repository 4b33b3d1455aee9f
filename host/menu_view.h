// Drawing and navigating the host's menus, kept apart from any window system:
// the bar and popups are composed into pictures, hit-tested by position and
// walked by keys. The X11 front end puts the pictures on screen.
#pragma once

#include <string>
#include <vector>

#include "gui/pic.h"
#include "host/host_logic.h"

namespace menu_view {

constexpr int kBarHeight = 22;
constexpr int kItemHeight = 22;
constexpr int kSeparatorHeight = 9;
constexpr int kFontSize = 13;

// The label without its '&' and the index of the mnemonic letter (-1: none).
struct Label {
    std::string text;
    int mnemonic = -1;
    char key() const;  // lower-case mnemonic letter, 0 without one
};
Label parse(const std::string& text);

// Horizontal extent of the bar's items, from x = 0.
struct Bar_Slot {
    int left, right;
};
std::vector<Bar_Slot> bar_layout(const QZ_Host::Menu& bar);
// Index of the bar item at x, or -1.
int bar_hit(const std::vector<Bar_Slot>& slots, int x);
// The bar, `width` pixels wide, with item `open` shown pressed (-1: none) and
// mnemonics underlined when `underline`.
void draw_bar(QZ_Picture& pic, const QZ_Host::Menu& bar, int width, int open, bool underline);

// A popup's size and its items' tops.
struct Popup_Layout {
    int width = 0, height = 0;
    std::vector<int> top;  // per item
};
Popup_Layout popup_layout(const QZ_Host::Menu& menu);
// Index of the item at (x, y), or -1 (separators count as no item).
int popup_hit(const QZ_Host::Menu& menu, const Popup_Layout& layout, int x, int y);
void draw_popup(QZ_Picture& pic, const QZ_Host::Menu& menu, const Popup_Layout& layout, int hot);

// Whether an item can be chosen: not a separator, not greyed.
bool selectable(const QZ_Host::Menu_Item& it);
// The next selectable item from `from` in direction `step` (+1/-1), wrapping; -1 when none.
int next_selectable(const QZ_Host::Menu& menu, int from, int step);
// The item whose mnemonic is `key` (lower case), or -1.
int find_mnemonic(const QZ_Host::Menu& menu, char key);

}  // namespace menu_view
