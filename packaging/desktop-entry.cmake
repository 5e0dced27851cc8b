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

# A command in /usr/bin is in the PATH of every session: the entry names it plainly,
# as distributions write theirs.
cmake_path(NORMAL_PATH command)
if(command STREQUAL "/usr/bin/quavero")
  set(QVR_EXEC quavero)
# Other paths go in double quotes only when they hold a character that the Desktop
# Entry rules reserve: openers that split Exec themselves (xdg-open of xdg-utils 1.1.3
# without a desktop) keep quotes as part of the name. Quoted, ", `, $ and \ get a
# backslash; then the value as a whole has its backslashes doubled, the escape of
# every string value. A % is doubled either way.
elseif(command MATCHES "[ \"'\\><~|&;$*?#()`]")
  string(REPLACE "\\" "\\\\" quoted "${command}")
  string(REPLACE "\"" "\\\"" quoted "${quoted}")
  string(REPLACE "`" "\\`" quoted "${quoted}")
  string(REPLACE "$" "\\$" quoted "${quoted}")
  string(REPLACE "%" "%%" quoted "${quoted}")
  string(REPLACE "\\" "\\\\" QVR_EXEC "\"${quoted}\"")
else()
  string(REPLACE "%" "%%" QVR_EXEC "${command}")
endif()

configure_file("${QVR_DESKTOP_IN}" "${QVR_DESKTOP_OUT}" @ONLY)
if(IS_ABSOLUTE "${QVR_DESKTOP_DESTINATION}")
  set(destination "${QVR_DESKTOP_DESTINATION}")
else()
  set(destination "${CMAKE_INSTALL_PREFIX}/${QVR_DESKTOP_DESTINATION}")
endif()
file(INSTALL DESTINATION "${destination}" TYPE FILE FILES "${QVR_DESKTOP_OUT}")
