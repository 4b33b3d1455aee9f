// Preset files and the editor's picture on the command line: both need the
// effect built into this program (its preset code and its widgets).
#pragma once

#include <string>
#include <vector>

#include "host/vsthost/vsthost.h"

class QZ_Main_Vst;

// The built-in effect behind a plug-in instance made from this program's own
// entry; null for any other module.
QZ_Main_Vst* zelo_builtin_effect(zelo::vsthost::Plugin& p);

// Loads a preset file into the effect. A failure shows the editor's message
// (caption "Error", on standard error) and returns false.
bool zelo_load_preset(zelo::vsthost::Plugin& p, const std::string& path);
// Writes the effect's two parameters to a preset file; false (with the
// message shown) on failure.
bool zelo_save_preset(zelo::vsthost::Plugin& p, const std::string& path);

// `zelo snapshot FILE.png [--preset FILE] [--set NAME=VALUE]...`: the open
// editor as a person sees it, texts included, written as a PNG.
int zelo_snapshot_main(const std::vector<std::string>& args);
