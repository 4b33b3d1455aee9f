// Parameters named on the command line.
#pragma once

#include <string>
#include <vector>

#include "host/hosted.h"
#include "host/vsthost/vsthost.h"

// A parameter's short name (as hosts show it) and full name (when told).
using Param_Names = QZ_Hosted::Names;

// A VST 2.4 effect's names for parameter `index`: the built-in effect's full
// names come from its own parameter record when the properties call gives none.
Param_Names zelo_vst_parameter_names(zelo::vsthost::Plugin& p, int index, bool builtin);

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
