// The program's live modes: the host window, and headless processing on a driver.
#pragma once

#include <string>
#include <vector>

#include "host/host_logic.h"

// `zelo host`: the main window with its menus and the selected instance's editor.
int zelo_host_main(const std::vector<std::string>& args);

// `zelo run --driver NAME [--mode N] [--instances K] [--seconds S]`.
int zelo_run_main(const std::vector<std::string>& args);

// The driver classes of this platform, in the order the host sets them up.
std::vector<QZ_Host::Driver_Class> zelo_driver_classes();

// The host's documentation page shipped with the program (a file path), or
// empty when it cannot be found.
std::string zelo_help_page(const char* argv0_dir);
