# What `cmake --install build --prefix DIR` puts below DIR, and so what the Debian package holds:
# the three programs, the menu entry, the icon in the hicolor theme, a man page per program and
# the copyright file. Tests, benchmarks, fuzzers and the screenshot tool are never installed.
include(GNUInstallDirs)

install(TARGETS tolvane tolvane-sim tolvane-reader RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/packaging/tolvane.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The sizes the hicolor theme has directories for (20 px is only the tray's, from the resources).
set(TOLVANE_ICON_SIZES 16 22 24 32 48 64 128 256)
foreach(size IN LISTS TOLVANE_ICON_SIZES)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/tolvane${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME tolvane.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/tolvane.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Debian wants man pages compressed; -n leaves out the name and time so the .gz is the same on
# every build.
find_program(TOLVANE_GZIP gzip REQUIRED)
set(TOLVANE_MAN_PAGES tolvane tolvane-sim tolvane-reader)
set(man_dir ${CMAKE_BINARY_DIR}/man)
set(man_outputs "")
foreach(page IN LISTS TOLVANE_MAN_PAGES)
  set(source ${PROJECT_SOURCE_DIR}/packaging/man/${page}.1)
  add_custom_command(OUTPUT ${man_dir}/${page}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${man_dir}/${page}.1
    COMMAND ${TOLVANE_GZIP} -9nf ${man_dir}/${page}.1
    DEPENDS ${source}
    COMMENT "Compressing the man page ${page}.1"
    VERBATIM)
  list(APPEND man_outputs ${man_dir}/${page}.1.gz)
endforeach()
add_custom_target(tolvane_man_pages ALL DEPENDS ${man_outputs})
install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tolvane)

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)
