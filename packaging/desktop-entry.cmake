# Part of `cmake --install`: writes the desktop entry for the prefix installed to and
# installs it. Set before: QVR_DESKTOP_IN, QVR_DESKTOP_OUT, QVR_BINDIR and
# QVR_DESKTOP_DESTINATION (both relative to the prefix, or absolute).

if(IS_ABSOLUTE "${QVR_BINDIR}")
  set(command "${QVR_BINDIR}/quavero")
else()
  set(command "${CMAKE_INSTALL_PREFIX}/${QVR_BINDIR}/quavero")
endif()
if(command MATCHES "[\n\r\t]")
  message(FATAL_ERROR "A desktop entry cannot name a command whose path holds a line break or tab: ${command}")
endif()

# An argument of Exec in double quotes, as the Desktop Entry rules want a path with
# spaces: ", `, $ and \ get a backslash, % doubles; then the value as a whole has its
# backslashes doubled, the escape of every string value.
string(REPLACE "\\" "\\\\" quoted "${command}")
string(REPLACE "\"" "\\\"" quoted "${quoted}")
string(REPLACE "`" "\\`" quoted "${quoted}")
string(REPLACE "$" "\\$" quoted "${quoted}")
string(REPLACE "%" "%%" quoted "${quoted}")
string(REPLACE "\\" "\\\\" QVR_EXEC "\"${quoted}\"")

configure_file("${QVR_DESKTOP_IN}" "${QVR_DESKTOP_OUT}" @ONLY)
if(IS_ABSOLUTE "${QVR_DESKTOP_DESTINATION}")
  set(destination "${QVR_DESKTOP_DESTINATION}")
else()
  set(destination "${CMAKE_INSTALL_PREFIX}/${QVR_DESKTOP_DESTINATION}")
endif()
file(INSTALL DESTINATION "${destination}" TYPE FILE FILES "${QVR_DESKTOP_OUT}")
