# The release package: Q417_Stepper-<version>-win32.zip in the build folder, made by CPack on
# every build in which one of its files changed.
#
#   Q417_Stepper-1.0-win32/
#       Q417_Stepper.exe  vrexusbdrv.dll (the real locator)  readme.html  help.html
#       help_german.html  readme.txt  help.txt  help_german.txt (made from the HTML documents)
#       default.smp (an example project, loaded at start-up)
#       sim/  q417-sim.exe  vrexusbdrv.dll (the simulator's)  inpout32.dll (the simulator's)
#             readme.txt
#
# What goes in is said by the install() rules beside the targets (src/ui, vrexusbdrv, docs,
# sim/...). The build installs them into a staging folder and CPack zips that folder, instead of
# letting CPack install the project itself: CPack would first build the project's "preinstall"
# target, a build inside the build that is running it. Included for Windows builds only.

set(Q417_PACKAGE_STAGE ${CMAKE_BINARY_DIR}/package-stage)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Q417_Stepper)
set(CPACK_PACKAGE_VENDOR Q417_Stepper)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win32)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "")
set(CPACK_INSTALLED_DIRECTORIES "${Q417_PACKAGE_STAGE};/")
set(CPACK_OUTPUT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackConfig.cmake)
# Taken before include(CPack), which leaves the source package's name in CPACK_PACKAGE_FILE_NAME.
set(Q417_PACKAGE_FILE ${CMAKE_BINARY_DIR}/${CPACK_PACKAGE_FILE_NAME}.zip
    CACHE INTERNAL "The release package")
set(Q417_PACKAGE_TOP ${CPACK_PACKAGE_FILE_NAME} CACHE INTERNAL "Top folder of the release package")
include(CPack)

# Everything the install rules copy, so that the zip is made again when any of it changes.
set(package_targets Q417_Stepper vrexusbdrv q417_sim q417_sim_vrexusbdrv q417_sim_inpout32
    q417_help_documents)
set(package_files
    ${PROJECT_SOURCE_DIR}/docs/readme.html
    ${PROJECT_SOURCE_DIR}/docs/help.html
    ${PROJECT_SOURCE_DIR}/docs/help_german.html
    ${Q417_TEXT_DOCUMENTS}
    ${PROJECT_SOURCE_DIR}/docs/default.smp
    ${PROJECT_SOURCE_DIR}/sim/readme.txt)

add_custom_command(OUTPUT ${Q417_PACKAGE_FILE}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${Q417_PACKAGE_STAGE}
    COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${Q417_PACKAGE_STAGE}
    COMMAND ${CMAKE_CPACK_COMMAND} --config ${CPACK_OUTPUT_CONFIG_FILE}
    DEPENDS ${package_targets} ${package_files} ${CPACK_OUTPUT_CONFIG_FILE}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    COMMENT "Packing ${Q417_PACKAGE_TOP}.zip"
    VERBATIM)
add_custom_target(q417_package ALL DEPENDS ${Q417_PACKAGE_FILE})
