// `zelo drivers`: every sound driver instance with its modes and channels.
#pragma once

#include <string>
#include <vector>

int zelo_drivers_main(const std::vector<std::string>& args);
