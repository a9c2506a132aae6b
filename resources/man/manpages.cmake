# Man pages for every program, written by help2man from the program's own
# --help and --version, so that a page cannot drift from the options the
# program takes. Each page adds the sections of its .h2m file. Sanitizer and
# fuzzing trees leave them out: their programs are not the ones installed.
find_program(HELP2MAN help2man)
if(NOT HELP2MAN OR VELQUETTE_SANITIZE OR VELQUETTE_FUZZ)
  if(NOT HELP2MAN)
    message(STATUS "help2man not found: the man pages are not built")
  endif()
  return()
endif()

set(velquette_man_names
  "velquette|serve the Velquette system monitor page, its calls and /metrics"
  "velquette-widget|the Velquette system monitor in a desktop window"
  "velquette-smc|read, list and write the keys of the System Management Controller"
  "velquette-module-installer|download and install the Velquette sensor module")
set(velquette_man_pages)
foreach(entry IN LISTS velquette_man_names)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 program)
  list(GET fields 1 summary)
  if(NOT TARGET ${program})
    continue()
  endif()
  set(include_file "${CMAKE_CURRENT_LIST_DIR}/${program}.h2m")
  set(page "${CMAKE_BINARY_DIR}/man/${program}.1")
  add_custom_command(OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1 --name=${summary}
            --include=${include_file} --output=${page} $<TARGET_FILE:${program}>
    DEPENDS ${program} ${include_file}
    COMMENT "Writing the man page of ${program}"
    VERBATIM)
  list(APPEND velquette_man_pages ${page})
endforeach()
add_custom_target(velquette-man-pages ALL DEPENDS ${velquette_man_pages})
install(FILES ${velquette_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
