// The program's own description: `zelo --version`, `zelo --help`, `zelo help MODE`.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Prints the version line and the licence. Returns the exit status (0).
int zelo_version_main();

// `zelo help [MODE]`: the overview, or one mode's description. An unknown mode
// is reported on standard error with the overview; the status is then 2.
int zelo_help_main(const std::vector<std::string>& args);

// The overview: the modes this build has, one line or two each.
void zelo_usage(std::FILE* out);

// True for the words that ask for help (-h, --help).
bool zelo_is_help_flag(const std::string& arg);
