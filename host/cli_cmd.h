// The command console: runs toolkit command lines and prints their results.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Runs one command line in the text form. Prints the result line (or the error
// code's text) to `out`. Returns true when the command succeeded.
bool zelo_cmd_run_line(const std::string& line, std::FILE* out);

// `zelo cmd [COMMAND...]`: runs each argument as a command; with no argument,
// reads commands from standard input, one per line. Returns the exit status.
int zelo_cmd_main(const std::vector<std::string>& args);

// The built-in command script of `zelo cmd --demo`.
extern const char* const zelo_cmd_demo_script[];
