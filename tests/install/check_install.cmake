# Installs the build into a fresh prefix and checks what a desktop and a
# user find there, run as a test:
#   cmake -DBUILD_DIR=<build> -DPREFIX=<empty dir> -P check_install.cmake
# Without BUILD_DIR it checks the tree in PREFIX (an unpacked package's usr/),
# whose program must print VERSION when that is given.
# The program, its manual page, its application-menu entry and the entry's
# icon are installed; the program answers --version and --help without a
# display; the manual carries the program's version and every long option of
# --help and formats without warnings; the desktop entry starts the installed
# program, names the installed icon and passes desktop-file-validate (skipped
# when that tool is missing, except under CI); so does the AppStream metadata
# pass appstreamcli validate.

if(NOT PREFIX)
  message(FATAL_ERROR "usage: [-DBUILD_DIR=<build>] -DPREFIX=<dir> [-DVERSION=<v>] -P check_install.cmake")
endif()
if(BUILD_DIR)
  file(REMOVE_RECURSE "${PREFIX}")
  execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}${err}")
  endif()
endif()

set(program "${PREFIX}/bin/kestrelon")
set(manual "${PREFIX}/share/man/man1/kestrelon.1")
set(entry "${PREFIX}/share/applications/kestrelon.desktop")
set(icons "${PREFIX}/share/icons/hicolor/scalable/apps")
set(metainfo "${PREFIX}/share/metainfo/example.kestrelon.kestrelon.metainfo.xml")
foreach(file IN ITEMS "${program}" "${manual}" "${entry}" "${icons}/kestrelon.svg" "${metainfo}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "not installed: ${file}\n${out}")
  endif()
endforeach()

# No display at all: these two must not need one.
set(no_display env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
execute_process(COMMAND ${no_display} "${program}" --version
  RESULT_VARIABLE rc OUTPUT_VARIABLE version ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT version MATCHES "^kestrelon ([0-9.]+)\n$")
  message(FATAL_ERROR "installed kestrelon --version gave ${rc}: '${version}' '${err}'")
endif()
set(version_number "${CMAKE_MATCH_1}")
if(VERSION AND NOT version_number STREQUAL VERSION)
  message(FATAL_ERROR "installed kestrelon --version says ${version_number}, not ${VERSION}")
endif()
execute_process(COMMAND ${no_display} "${program}" --help
  RESULT_VARIABLE rc OUTPUT_VARIABLE help ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT help MATCHES "^Usage: kestrelon ")
  message(FATAL_ERROR "installed kestrelon --help gave ${rc}: '${help}' '${err}'")
endif()

file(READ "${manual}" roff)
string(REPLACE "\\-" "-" plain "${roff}")
if(NOT plain MATCHES "(^|\n)\\.TH KESTRELON 1 [^\n]*\"Kestrelon ${version_number}\"")
  message(FATAL_ERROR "the manual's title line does not name version ${version_number}")
endif()
string(REGEX MATCHALL "--[a-z][a-z-]*" options "${help}")
list(REMOVE_DUPLICATES options)
list(LENGTH options count)
if(count LESS 10)
  message(FATAL_ERROR "only ${count} long options found in --help:\n${help}")
endif()
# Each option heads an entry of its own (the line after a .TP).
string(REGEX MATCHALL "\n\\.TP\n[^\n]*" heads "${plain}")
foreach(option IN LISTS options)
  set(described FALSE)
  foreach(head IN LISTS heads)
    if(head MATCHES "[ \"]${option}([ =\"]|$)")
      set(described TRUE)
    endif()
  endforeach()
  if(NOT described)
    message(FATAL_ERROR "the manual has no entry for ${option}")
  endif()
endforeach()

find_program(GROFF groff)
if(GROFF)
  execute_process(COMMAND "${GROFF}" -man -Tutf8 -ww -z "${manual}"
    RESULT_VARIABLE rc ERROR_VARIABLE warnings)
  if(NOT rc EQUAL 0 OR warnings)
    message(FATAL_ERROR "the manual does not format cleanly:\n${warnings}")
  endif()
endif()

file(STRINGS "${entry}" exec REGEX "^Exec=")
file(STRINGS "${entry}" icon REGEX "^Icon=")
string(REGEX REPLACE "^Exec=([^ ]*).*" "\\1" exec "${exec}")
string(REGEX REPLACE "^Icon=" "" icon "${icon}")
if(NOT EXISTS "${PREFIX}/bin/${exec}")
  message(FATAL_ERROR "the desktop entry runs '${exec}', which is not installed in bin/")
endif()
if(NOT EXISTS "${icons}/${icon}.svg")
  message(FATAL_ERROR "the desktop entry's icon '${icon}' is not installed in ${icons}")
endif()

set(ci "$ENV{CI}")
foreach(tool IN ITEMS desktop-file-validate xmllint appstreamcli)
  find_program(found_${tool} ${tool})
  if(NOT found_${tool})
    if(ci)
      message(FATAL_ERROR "${tool} is missing (scripts/setup.sh installs it)")
    endif()
    message(STATUS "${tool} not found: that check is skipped")
  endif()
endforeach()
if(found_desktop-file-validate)
  execute_process(COMMAND "${found_desktop-file-validate}" "${entry}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR out OR err)
    message(FATAL_ERROR "desktop-file-validate: ${out}${err}")
  endif()
endif()
if(found_xmllint)
  execute_process(COMMAND "${found_xmllint}" --noout "${icons}/${icon}.svg"
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the icon is not well-formed SVG: ${err}")
  endif()
endif()
if(found_appstreamcli)
  execute_process(COMMAND "${found_appstreamcli}" validate --no-net "${metainfo}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate: ${out}${err}")
  endif()
endif()
message(STATUS "installed into ${PREFIX}: kestrelon ${version_number}, ${count} options in its manual")
