# Gathers the sample package source in STAGE: the files of this folder that belong to the
# package, and the product program MORVO (stripped of debug data). Without MORVO (a build
# without the window programs) a small stand-in script says that Morvolan was not built.
set(package_files Setup.INX Lizenz.rtf Liesmich.txt Morvolan.svg background.jpg Wizard.jpg button.bmp
  logo.dat)
file(REMOVE_RECURSE "${STAGE}")
file(MAKE_DIRECTORY "${STAGE}")
foreach(f ${package_files})
  file(COPY "${SOURCE}/${f}" DESTINATION "${STAGE}")
endforeach()
if(MORVO AND EXISTS "${MORVO}")
  file(COPY "${MORVO}" DESTINATION "${STAGE}")
  if(STRIP)
    execute_process(COMMAND "${STRIP}" --strip-debug "${STAGE}/morvo" RESULT_VARIABLE rc)
  endif()
else()
  file(WRITE "${STAGE}/morvo"
    "#!/bin/sh\necho 'Morvolan wurde in dieser Konfiguration nicht gebaut.' >&2\nexit 1\n")
  file(CHMOD "${STAGE}/morvo" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  message(STATUS "sample package: morvo is not built here, the medium carries a stand-in")
endif()
