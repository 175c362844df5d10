# Checks that the monitor core keeps to its layers, run as a test:
#   cmake -DSOURCE_DIR=<repository> -DCHECK=includes -P check_layering.cmake
#   cmake -DCHECK=links "-DLINKS=<hexcore's link libraries>" -P check_layering.cmake
#
# includes: no source of hex/ or shell/ includes a Qt header, a display pane
#   header or a dialog-layer header other than dlg/dlg.h; the start-up code
#   that makes the QApplication (shell/main.cpp) is the one exception. The
#   pure core (hex/core/) includes nothing but its own headers, the window's
#   character set (resources/glyphs.h, plain C++) and the standard library.
# links: the pure core links neither Qt nor the serial library (nor the
#   dialog layer, the pane or the XMODEM driver).

if(CHECK STREQUAL "links")
  set(bad "")
  foreach(lib IN LISTS LINKS)
    if(lib MATCHES "^(Qt|ser$|serxydrv$|dlg$|pane$|panemodel$|hex$|shell$)")
      list(APPEND bad "${lib}")
    endif()
  endforeach()
  if(bad)
    message(FATAL_ERROR "hexcore links ${bad}")
  endif()
  message(STATUS "hexcore links: ${LINKS}")
  return()
endif()

if(NOT CHECK STREQUAL "includes" OR NOT IS_DIRECTORY "${SOURCE_DIR}/hex")
  message(FATAL_ERROR "usage: -DCHECK=includes -DSOURCE_DIR=<repository>")
endif()

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}"
  "${SOURCE_DIR}/hex/*.h" "${SOURCE_DIR}/hex/*.cpp"
  "${SOURCE_DIR}/shell/*.h" "${SOURCE_DIR}/shell/*.cpp")
list(REMOVE_ITEM sources "shell/main.cpp")
list(LENGTH sources count)
if(count LESS 10)
  message(FATAL_ERROR "only ${count} sources found under ${SOURCE_DIR}")
endif()

set(faults "")
foreach(source IN LISTS sources)
  file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*" "" header "${line}")
    string(REGEX REPLACE "[ \t]*//.*$" "" header "${header}")
    set(why "")
    if(header MATCHES "^<Q")
      set(why "a Qt header")
    elseif(header MATCHES "^\"pane/")
      set(why "a display pane header")
    elseif(header MATCHES "^\"dlg/" AND NOT header STREQUAL "\"dlg/dlg.h\"")
      set(why "a dialog-layer header other than dlg/dlg.h")
    elseif(source MATCHES "^hex/core/" AND header MATCHES "^\"" AND NOT header MATCHES "^\"hex/core/"
           AND NOT header STREQUAL "\"resources/glyphs.h\"")
      set(why "a header outside the pure core")
    endif()
    if(why)
      list(APPEND faults "${source}: ${header} (${why})")
    endif()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "the core includes what it must not:\n  ${text}")
endif()
message(STATUS "${count} sources of hex/ and shell/ checked")
