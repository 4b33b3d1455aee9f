// Command-line modes that run a VST 2.4 effect without a sound card or display:
// render a sound file through it, or measure its frequency response.
#pragma once

#include <string>
#include <vector>

// `zelo render [IN] [-o OUT] [--plugin PATH] [--set NAME=VALUE]... [--rate HZ] [--block N]`
int zelo_render_main(const std::vector<std::string>& args);

// `zelo response [--plugin PATH] [--set NAME=VALUE]... [--rate HZ]`: the gain of
// the effect at a ladder of frequencies, measured through the plug-in interface.
int zelo_response_main(const std::vector<std::string>& args);
