// The host's Win32 menus built from the menu model by the program's own
// builder, read back through the Win32 menu calls; and the icons the host's
// window class loads from the program.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "host/host_logic.h"
#include "host/menu_win32.h"
#include "host_sim.h"

using host_sim::Sim_Class;
using host_sim::Sim_Effect;

namespace {

// Every item of `menu` against the model's, submenus included.
void expect_same(HMENU menu, const QZ_Host& host, QZ_Host::Menu_Id id, const std::string& where) {
    const QZ_Host::Menu& model = host.menu(id);
    ASSERT_EQ(GetMenuItemCount(menu), static_cast<int>(model.items.size())) << where;
    for (UINT pos = 0; pos < model.items.size(); ++pos) {
        const QZ_Host::Menu_Item& it = model.items[pos];
        const std::string at = where + " / " + std::to_string(pos) + " \"" + it.text + "\"";
        char text[128] = {};
        MENUITEMINFOA mi{};
        mi.cbSize = sizeof mi;
        mi.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU;
        ASSERT_TRUE(GetMenuItemInfoA(menu, pos, TRUE, &mi)) << at;
        const UINT state = GetMenuState(menu, pos, MF_BYPOSITION);
        if (it.separator()) {
            EXPECT_TRUE(mi.fType & MFT_SEPARATOR) << at;
            continue;
        }
        EXPECT_FALSE(mi.fType & MFT_SEPARATOR) << at;
        EXPECT_GT(GetMenuStringA(menu, pos, text, sizeof text, MF_BYPOSITION), 0) << at;
        EXPECT_EQ(std::string(text), it.text) << at;
        EXPECT_EQ((mi.fType & MFT_RADIOCHECK) != 0, it.radio) << at;
        EXPECT_EQ((state & MF_CHECKED) != 0, it.checked) << at;
        EXPECT_EQ((state & MF_GRAYED) != 0, it.greyed) << at;
        HMENU sub = GetSubMenu(menu, static_cast<int>(pos));
        if (it.submenu >= 0) {
            ASSERT_NE(sub, nullptr) << at;
            expect_same(sub, host, static_cast<QZ_Host::Menu_Id>(it.submenu), at);
        } else {
            EXPECT_EQ(sub, nullptr) << at;
            EXPECT_EQ(mi.wID, static_cast<UINT>(it.id)) << at;
            EXPECT_EQ(GetMenuItemID(menu, static_cast<int>(pos)), static_cast<UINT>(it.id)) << at;
        }
    }
}

void expect_built_as_modelled(const QZ_Host& host, const std::string& when) {
    HMENU bar = zelo_build_menu(host, QZ_Host::MENU_BAR);
    ASSERT_NE(bar, nullptr) << when;
    expect_same(bar, host, QZ_Host::MENU_BAR, when);
    DestroyMenu(bar);
}

std::string label(HMENU m, int pos) {
    char t[128] = {};
    GetMenuStringA(m, static_cast<UINT>(pos), t, sizeof t, MF_BYPOSITION);
    return t;
}

}  // namespace

TEST(HostWin32, MenusShowTheModelThroughEveryKindOfChange) {
    Sim_Class::add("Sim A", 2, {{48000, 32, 480, 2}, {44100, 16, 441, 4}});
    Sim_Class::add("Sim B", 1, {{96000, 24, 64, 2}});
    QZ_Host host(&Sim_Effect::entry);
    host.report_fn = [](int, const char*, const char*) {};
    host.start({Sim_Class::cls()});
    host.set_effect_window(reinterpret_cast<void*>(0x1234));
    ASSERT_TRUE(host.command(QZ_Host::CMD_ADD));

    // The table's shape, with its mnemonics, as a user sees the bar.
    HMENU bar = zelo_build_menu(host, QZ_Host::MENU_BAR);
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(GetMenuItemCount(bar), 3);
    EXPECT_EQ(label(bar, 0), "&Audio");
    EXPECT_EQ(label(bar, 1), "&Channel");
    EXPECT_EQ(label(bar, 2), "&Help (online)");
    EXPECT_EQ(GetMenuItemID(bar, 2), 0x7000u);
    HMENU channel = GetSubMenu(bar, 1);
    ASSERT_NE(channel, nullptr);
    const int add = GetMenuItemCount(channel) - 2;
    EXPECT_EQ(label(channel, add), "&Add");
    EXPECT_EQ(GetMenuState(channel, static_cast<UINT>(add + 1), MF_BYPOSITION) & MF_GRAYED, UINT(MF_GRAYED));
    DestroyMenu(bar);
    expect_built_as_modelled(host, "one instance");

    // A second instance (Delete enabled, the new one selected and connected), a
    // different input, the second mode, then the other driver.
    ASSERT_TRUE(host.command(QZ_Host::CMD_ADD));
    expect_built_as_modelled(host, "two instances");
    ASSERT_TRUE(host.command(QZ_Host::CMD_INPUT + 0));
    ASSERT_TRUE(host.command(QZ_Host::CMD_MODE + 1));
    expect_built_as_modelled(host, "input and mode changed");
    ASSERT_TRUE(host.command(QZ_Host::CMD_DRIVER + 1));
    expect_built_as_modelled(host, "other driver");
    ASSERT_TRUE(host.command(QZ_Host::CMD_DELETE));
    expect_built_as_modelled(host, "back to one instance");
    host.shutdown();
}

// The host's window class takes its large and small icons from the program.
TEST(HostWin32, ProgramCarriesItsIconsWithAlpha) {
    HMODULE exe = LoadLibraryExA(ZELO_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr) << ZELO_EXE << " error " << GetLastError();
    struct Want {
        const char* name;
        int size;
    };
    for (const Want& w : {Want{"icon", 32}, Want{"icon", 16}, Want{"ComboSmallIcon", 16}}) {
        SCOPED_TRACE(std::string(w.name) + " " + std::to_string(w.size));
        HICON icon = w.size == 32 ? LoadIconA(exe, w.name)
                                  : static_cast<HICON>(LoadImageA(exe, w.name, IMAGE_ICON, w.size, w.size, 0));
        ASSERT_NE(icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP bm{};
        ASSERT_TRUE(GetObjectA(info.hbmColor, sizeof bm, &bm));
        EXPECT_EQ(bm.bmWidth, w.size);
        EXPECT_EQ(bm.bmHeight, w.size);
        // The colour picture's own alpha: clear in the rounded corner, opaque in the middle.
        std::vector<DWORD> px(static_cast<std::size_t>(w.size) * w.size);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w.size;
        bi.bmiHeader.biHeight = -w.size;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        HDC dc = GetDC(nullptr);
        EXPECT_EQ(GetDIBits(dc, info.hbmColor, 0, static_cast<UINT>(w.size), px.data(), &bi, DIB_RGB_COLORS), w.size);
        ReleaseDC(nullptr, dc);
        EXPECT_EQ(px[0] >> 24, 0u);
        EXPECT_EQ(px[static_cast<std::size_t>(w.size / 2) * w.size + w.size / 2] >> 24, 255u);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
        if (w.size != 32) DestroyIcon(icon);
    }
    FreeLibrary(exe);
}
