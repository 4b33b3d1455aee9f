#include "host/menu_view.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "gui/text.h"

namespace menu_view {

namespace {

const QZ_Pix_A32 kFace{0xF0, 0xF0, 0xF0, 0xFF};     // button face
const QZ_Pix_A32 kHot{0xD7, 0x78, 0x33, 0xFF};      // selection (blue-ish)
const QZ_Pix_A32 kShadow{0xA0, 0xA0, 0xA0, 0xFF};   // borders and separators
const QZ_Pix_A32 kPressed{0xE0, 0xD0, 0xC8, 0xFF};  // an open bar item
const std::uint32_t kTextColour = 0x000000, kHotText = 0xFFFFFF, kGreyText = 0x8C8C8C;

QZ_Font_Desc font() {
    QZ_Font_Desc f;
    f.face = "Tahoma";
    f.size = kFontSize;
    return f;
}

// Glyph coverage of a text on one line, with the pixel width it takes; cached
// because menus redraw the same few labels over and over.
struct Rendered {
    QZ_Picture cover;
    int width = 0;
};
const Rendered& rendered(const std::string& text) {
    static std::map<std::string, Rendered> cache;
    auto it = cache.find(text);
    if (it != cache.end()) return it->second;
    Rendered& r = cache[text];
    const int w = 8 + static_cast<int>(text.size()) * kFontSize;
    r.cover.allocate(w, kItemHeight);
    r.cover.fill({0, 0, 0, 0});
    QZ_text_raster().render(r.cover, text, font(), 0xFFFFFF, -1);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < kItemHeight; ++y)
            if (r.cover.at(x, y).r) r.width = x + 1;
    return r;
}

int text_width(const std::string& text) { return text.empty() ? 0 : rendered(text).width; }

void fill(QZ_Picture& pic, int l, int t, int r, int b, QZ_Pix_A32 c) {
    l = std::max(l, 0);
    t = std::max(t, 0);
    r = std::min(r, pic.width);
    b = std::min(b, pic.height);
    for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x) pic.at(x, y) = c;
}

void draw_text(QZ_Picture& pic, const std::string& text, int x, int y, std::uint32_t colour) {
    if (text.empty()) return;
    const Rendered& r = rendered(text);
    const int cr = colour & 0xFF, cg = (colour >> 8) & 0xFF, cb = (colour >> 16) & 0xFF;
    for (int j = 0; j < r.cover.height; ++j)
        for (int i = 0; i < r.width; ++i) {
            const int a = r.cover.at(i, j).r;
            const int px = x + i, py = y + j;
            if (!a || px < 0 || py < 0 || px >= pic.width || py >= pic.height) continue;
            QZ_Pix_A32& d = pic.at(px, py);
            d.r = static_cast<std::uint8_t>(d.r + (cr - d.r) * a / 255);
            d.g = static_cast<std::uint8_t>(d.g + (cg - d.g) * a / 255);
            d.b = static_cast<std::uint8_t>(d.b + (cb - d.b) * a / 255);
        }
}

// A label with its mnemonic underlined.
void draw_label(QZ_Picture& pic, const Label& l, int x, int y, std::uint32_t colour, bool underline) {
    draw_text(pic, l.text, x, y, colour);
    if (!underline || l.mnemonic < 0) return;
    const int from = text_width(l.text.substr(0, static_cast<std::size_t>(l.mnemonic)));
    const int to = text_width(l.text.substr(0, static_cast<std::size_t>(l.mnemonic) + 1));
    const QZ_Pix_A32 c{static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
                       static_cast<std::uint8_t>(colour), 0xFF};
    fill(pic, x + from + (from ? 1 : 0), y + kItemHeight / 2 + kFontSize / 2 + 1, x + to, y + kItemHeight / 2 + kFontSize / 2 + 2, c);
}

constexpr int kBarPad = 8, kPopupLeft = 22, kPopupRight = 24, kPopupMin = 120;

}  // namespace

char Label::key() const {
    return mnemonic >= 0 ? static_cast<char>(std::tolower(static_cast<unsigned char>(text[mnemonic]))) : 0;
}

Label parse(const std::string& text) {
    Label l;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            if (text[i + 1] != '&' && l.mnemonic < 0) l.mnemonic = static_cast<int>(l.text.size());
            l.text += text[++i];
        } else {
            l.text += text[i];
        }
    }
    return l;
}

std::vector<Bar_Slot> bar_layout(const QZ_Host::Menu& bar) {
    std::vector<Bar_Slot> slots;
    int x = 2;
    for (const auto& it : bar.items) {
        const int w = text_width(parse(it.text).text) + 2 * kBarPad;
        slots.push_back({x, x + w});
        x += w;
    }
    return slots;
}

int bar_hit(const std::vector<Bar_Slot>& slots, int x) {
    for (std::size_t k = 0; k < slots.size(); ++k)
        if (x >= slots[k].left && x < slots[k].right) return static_cast<int>(k);
    return -1;
}

void draw_bar(QZ_Picture& pic, const QZ_Host::Menu& bar, int width, int open, bool underline) {
    pic.allocate(std::max(width, 1), kBarHeight);
    pic.fill(kFace);
    fill(pic, 0, kBarHeight - 1, pic.width, kBarHeight, kShadow);
    const auto slots = bar_layout(bar);
    for (std::size_t k = 0; k < bar.items.size(); ++k) {
        const bool is_open = static_cast<int>(k) == open;
        if (is_open) fill(pic, slots[k].left, 1, slots[k].right, kBarHeight - 2, kPressed);
        draw_label(pic, parse(bar.items[k].text), slots[k].left + kBarPad, 0,
                   bar.items[k].greyed ? kGreyText : kTextColour, underline);
    }
}

Popup_Layout popup_layout(const QZ_Host::Menu& menu) {
    Popup_Layout l;
    int y = 2, w = kPopupMin;
    for (const auto& it : menu.items) {
        l.top.push_back(y);
        y += it.separator() ? kSeparatorHeight : kItemHeight;
        w = std::max(w, kPopupLeft + text_width(parse(it.text).text) + kPopupRight);
    }
    l.width = w;
    l.height = std::max(y + 2, kItemHeight / 2);
    return l;
}

int popup_hit(const QZ_Host::Menu& menu, const Popup_Layout& layout, int x, int y) {
    if (x < 0 || x >= layout.width) return -1;
    for (std::size_t k = 0; k < menu.items.size(); ++k) {
        const int h = menu.items[k].separator() ? kSeparatorHeight : kItemHeight;
        if (y >= layout.top[k] && y < layout.top[k] + h) return menu.items[k].separator() ? -1 : static_cast<int>(k);
    }
    return -1;
}

void draw_popup(QZ_Picture& pic, const QZ_Host::Menu& menu, const Popup_Layout& layout, int hot) {
    pic.allocate(layout.width, layout.height);
    pic.fill(kFace);
    fill(pic, 0, 0, pic.width, 1, kShadow);
    fill(pic, 0, pic.height - 1, pic.width, pic.height, kShadow);
    fill(pic, 0, 0, 1, pic.height, kShadow);
    fill(pic, pic.width - 1, 0, pic.width, pic.height, kShadow);
    for (std::size_t k = 0; k < menu.items.size(); ++k) {
        const auto& it = menu.items[k];
        const int top = layout.top[k];
        if (it.separator()) {
            fill(pic, 4, top + kSeparatorHeight / 2, pic.width - 4, top + kSeparatorHeight / 2 + 1, kShadow);
            continue;
        }
        const bool is_hot = static_cast<int>(k) == hot;
        if (is_hot) fill(pic, 2, top, pic.width - 2, top + kItemHeight, kHot);
        const std::uint32_t colour = it.greyed ? kGreyText : is_hot ? kHotText : kTextColour;
        const QZ_Pix_A32 mark{static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
                              static_cast<std::uint8_t>(colour), 0xFF};
        if (it.checked) {
            // A radio item's dot, or a check's square.
            const int cx = 11, cy = top + kItemHeight / 2;
            for (int y = -3; y <= 3; ++y)
                for (int x = -3; x <= 3; ++x)
                    if (!it.radio || x * x + y * y <= 10) pic.at(cx + x, cy + y) = mark;
        }
        draw_label(pic, parse(it.text), kPopupLeft, top, colour, true);
        if (it.submenu >= 0) {
            // The arrow of a submenu.
            const int ax = pic.width - 14, ay = top + kItemHeight / 2;
            for (int d = 0; d < 4; ++d)
                for (int y = -3 + d; y <= 3 - d; ++y) pic.at(ax + d, ay + y) = mark;
        }
    }
}

bool selectable(const QZ_Host::Menu_Item& it) { return !it.separator() && !it.greyed; }

int next_selectable(const QZ_Host::Menu& menu, int from, int step) {
    const int n = static_cast<int>(menu.items.size());
    if (n == 0) return -1;
    int k = from;
    for (int tries = 0; tries < n; ++tries) {
        k = ((k + step) % n + n) % n;
        if (selectable(menu.items[static_cast<std::size_t>(k)])) return k;
    }
    return -1;
}

int find_mnemonic(const QZ_Host::Menu& menu, char key) {
    for (std::size_t k = 0; k < menu.items.size(); ++k)
        if (!menu.items[k].greyed && parse(menu.items[k].text).key() == key && key) return static_cast<int>(k);
    return -1;
}

}  // namespace menu_view
