// Parameters named on the command line.
#pragma once

#include <string>
#include <vector>

#include "host/vsthost/vsthost.h"

// The names a parameter answers to: the short one every host shows, and the
// full one when the effect tells it.
struct Param_Names {
    std::string shown, full;
};

// Every parameter's names (the built-in effect's full names from its own
// parameter record when the properties call gives none).
std::vector<Param_Names> zelo_parameter_names(zelo::vsthost::Plugin& p, bool builtin);

constexpr int kNoParameter = -1;
constexpr int kAmbiguousParameter = -2;

// The parameter `name` means, in any case: the one whose short or full name it
// is; failing that, the one parameter whose short name, cut to the length the
// plug-in interface holds, starts it (a full name the effect does not tell,
// "Frequency" for "Frequen"). kNoParameter when none fits,
// kAmbiguousParameter when several fit only that way.
int zelo_find_parameter(const std::vector<Param_Names>& names, const std::string& name);

// "State, Frequen (Frequency)": the names for a message.
std::string zelo_parameter_list(const std::vector<Param_Names>& names);
