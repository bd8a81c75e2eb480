# `cmake --install` in the FHS layout of the prefix (default /usr/local), in three components
# that scripts/package turns into Debian packages:
#   archiver   morvo, its desktop entry, icon, man page and systemd user units (package morvolan)
#   authoring  mkpackage, extractor and what a medium needs: setup, the uninstaller (package veltrin)
#   testing    mkmailstore (no package: a tool of the tests and benchmarks)
include(GNUInstallDirs)

# setup and the uninstaller are no commands of the author's system, only parts of the media
# mkpackage makes: they live off the PATH, where an installed mkpackage looks by default.
set(VELTRIN_MEDIUM_PROGRAMS_DIR ${CMAKE_INSTALL_LIBEXECDIR}/veltrin)
file(RELATIVE_PATH VELTRIN_MEDIUM_PROGRAMS_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR}
  ${CMAKE_INSTALL_FULL_LIBEXECDIR}/veltrin)
target_compile_definitions(mkpackage PRIVATE
  VELTRIN_MEDIUM_PROGRAMS_FROM_BIN="${VELTRIN_MEDIUM_PROGRAMS_FROM_BIN}")

# Man pages: scdoc sources in docs/man, rendered and compressed by the build.
find_program(SCDOC scdoc)
set(man_pages)
set(man_dir ${CMAKE_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${man_dir})
if(SCDOC)
  foreach(page morvo setup uninstall mkpackage extractor mkmailstore)
    set(src ${CMAKE_SOURCE_DIR}/docs/man/${page}.1.scd)
    add_custom_command(OUTPUT ${man_dir}/${page}.1.gz
      COMMAND ${SCDOC} < ${src} > ${man_dir}/${page}.1
      COMMAND gzip -9nf ${man_dir}/${page}.1
      DEPENDS ${src}
      COMMENT "Man page ${page}(1)"
      VERBATIM)
    list(APPEND man_pages ${man_dir}/${page}.1.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
else()
  message(WARNING "scdoc not found (scripts/bootstrap installs it): no man pages")
endif()

function(veltrin_install_man component)
  if(SCDOC)
    foreach(page ${ARGN})
      install(FILES ${man_dir}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT ${component})
    endforeach()
  endif()
endfunction()

# The archiver.
if(TARGET morvo)
  install(TARGETS morvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT archiver)
  install(FILES ${CMAKE_SOURCE_DIR}/dist/morvo.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT archiver)
  install(FILES ${CMAKE_SOURCE_DIR}/tools/sample/Morvolan.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME morvolan.svg
    COMPONENT archiver)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/morvolan COMPONENT archiver)
  veltrin_install_man(archiver morvo)
  # The service names the program by its path under the prefix given at install time.
  install(CODE "
    set(unit_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd/user\")
    set(MORVO \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/morvo\")
    message(STATUS \"Installing: \${unit_dir}/morvo.service\")
    configure_file(${CMAKE_SOURCE_DIR}/dist/systemd/morvo.service.in
      \"\${unit_dir}/morvo.service\" @ONLY)
    configure_file(${CMAKE_SOURCE_DIR}/dist/systemd/morvo.timer \"\${unit_dir}/morvo.timer\"
      COPYONLY)
    " COMPONENT archiver)
endif()

# The package authors' tools and the programs of a medium.
install(TARGETS mkpackage extractor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  COMPONENT authoring)
foreach(t setup uninstall)
  if(TARGET ${t})
    install(TARGETS ${t} RUNTIME DESTINATION ${VELTRIN_MEDIUM_PROGRAMS_DIR} COMPONENT authoring)
  endif()
endforeach()
# mkpackage takes the extractor from the same folder as setup and the uninstaller.
install(CODE "
  set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VELTRIN_MEDIUM_PROGRAMS_DIR}\")
  file(MAKE_DIRECTORY \"\${dir}\")
  file(RELATIVE_PATH target \"/${VELTRIN_MEDIUM_PROGRAMS_DIR}\" \"/${CMAKE_INSTALL_BINDIR}/extractor\")
  message(STATUS \"Installing: \${dir}/extractor -> \${target}\")
  file(CREATE_LINK \"\${target}\" \"\${dir}/extractor\" SYMBOLIC)
  " COMPONENT authoring)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/setup-script.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT authoring)
veltrin_install_man(authoring mkpackage extractor setup uninstall)

install(TARGETS mkmailstore RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT testing)
veltrin_install_man(testing mkmailstore)
