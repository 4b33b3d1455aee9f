# zelo_windows_version(TARGET FILENAME DESCRIPTION APP|DLL)
# Gives a Windows program or module a version resource from the project's
# version, so Explorer, hosts and installers see which release a file is.
# Elsewhere it does nothing.
function(zelo_windows_version target filename description kind)
  if(NOT WIN32)
    return()
  endif()
  set(ZELO_RC_FILENAME "${filename}")
  set(ZELO_RC_DESCRIPTION "${description}")
  if(kind STREQUAL "DLL")
    set(ZELO_RC_FILETYPE "VFT_DLL")
  else()
    set(ZELO_RC_FILETYPE "VFT_APP")
  endif()
  set(rc "${CMAKE_BINARY_DIR}/generated/version_${target}.rc")
  configure_file("${CMAKE_SOURCE_DIR}/cmake/version.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
