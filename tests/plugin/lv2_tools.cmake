# The LV2 tools on the bundle the build made, as a packager would run them.
#   cmake -DTOOL=validate|info -DBUNDLE=<dir>/zelo.lv2 -DURI=<plug-in URI> -P lv2_tools.cmake
cmake_minimum_required(VERSION 3.25)
file(GLOB ttl "${BUNDLE}/*.ttl")
if(TOOL STREQUAL "validate")
  # Checked against every installed LV2 vocabulary; the tool's own note about
  # a vocabulary file it skips is not ours.
  execute_process(COMMAND lv2_validate ${ttl} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  set(all "${out}${err}")
  if(NOT rc EQUAL 0 OR all MATCHES "(^|\n)(error|warning)" OR NOT all MATCHES "Found 0 errors")
    message(FATAL_ERROR "lv2_validate on ${BUNDLE}:\n${all}")
  endif()
  message(STATUS "${all}")
elseif(TOOL STREQUAL "info")
  get_filename_component(dir "${BUNDLE}" DIRECTORY)
  set(ENV{LV2_PATH} "${dir}")
  execute_process(COMMAND lv2info "${URI}" OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "lv2info ${URI} failed (${rc}):\n${err}\n${out}")
  endif()
  string(REGEX MATCHALL "\n\tPort [0-9]+:" ports "${out}")
  list(LENGTH ports n)
  set(missing "")
  foreach(want
      "Name:              1-st order low-pass"
      "${URI}#ui\n\t\t\tClass:  http://lv2plug.in/ns/extensions/ui#X11UI"
      "Binary: file://${BUNDLE}/zelo_lv2_ui.so"
      "Symbol:      in\n"
      "Symbol:      out_left\n"
      "Symbol:      out_right\n"
      "Symbol:      state\n\t\tName:        State\n\t\tMinimum:     0.000000\n\t\tMaximum:     1.000000\n\t\tDefault:     1.000000\n\t\tProperties:  http://lv2plug.in/ns/lv2core#toggled"
      "Symbol:      frequency\n\t\tName:        Frequency\n\t\tMinimum:     20.000000\n\t\tMaximum:     20000.000000\n\t\tDefault:     129.629639\n\t\tProperties:  http://lv2plug.in/ns/ext/port-props#logarithmic"
      "Warm (800 Hz)" "Gentle (5 kHz)")
    string(FIND "${out}" "${want}" at)
    if(at EQUAL -1)
      string(APPEND missing "\n  ${want}")
    endif()
  endforeach()
  if(NOT n EQUAL 5 OR NOT missing STREQUAL "")
    message(FATAL_ERROR "lv2info lists ${n} ports (5 wanted); missing:${missing}\n${out}")
  endif()
  message(STATUS "5 ports, the X11 UI and the presets:\n${out}")
else()
  message(FATAL_ERROR "TOOL must be validate or info")
endif()
