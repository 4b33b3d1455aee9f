#include "host/menu_win32.h"

HMENU zelo_build_menu(const QZ_Host& host, QZ_Host::Menu_Id id) {
    HMENU m = id == QZ_Host::MENU_BAR ? CreateMenu() : CreatePopupMenu();
    if (!m) return nullptr;
    const QZ_Host::Menu& model = host.menu(id);
    UINT pos = 0;
    for (const QZ_Host::Menu_Item& it : model.items) {
        MENUITEMINFOA mi;
        ZeroMemory(&mi, sizeof mi);
        mi.cbSize = sizeof mi;  // 48 on 32-bit Windows
        if (it.separator()) {
            mi.fMask = MIIM_FTYPE;
            mi.fType = MFT_SEPARATOR;
        } else {
            mi.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_STATE | MIIM_ID;
            mi.fType = it.radio ? MFT_RADIOCHECK : MFT_STRING;
            mi.fState = (it.checked ? MFS_CHECKED : 0) | (it.greyed ? MFS_GRAYED : 0);
            mi.wID = static_cast<UINT>(it.id);
            mi.dwTypeData = const_cast<char*>(it.text.c_str());
            if (it.submenu >= 0 && it.submenu < QZ_Host::MENU_COUNT) {
                mi.fMask |= MIIM_SUBMENU;
                mi.hSubMenu = zelo_build_menu(host, static_cast<QZ_Host::Menu_Id>(it.submenu));
            }
        }
        // An item Windows refuses would shift every later one off its place:
        // the whole menu is given up instead.
        if (!InsertMenuItemA(m, pos++, TRUE, &mi)) {
            if (mi.hSubMenu) DestroyMenu(mi.hSubMenu);
            DestroyMenu(m);
            return nullptr;
        }
    }
    return m;
}
