// The host's menus as Win32 menus, built from the portable model.
#pragma once

#include <windows.h>

#include "host/host_logic.h"

// The bar (a menu bar) or a popup of the model, its submenus built first; null
// when Windows refuses to create one.
HMENU zelo_build_menu(const QZ_Host& host, QZ_Host::Menu_Id id);
