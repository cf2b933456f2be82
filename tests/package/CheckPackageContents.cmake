# Checks the release package: run as
#   cmake -DZIP=<zip> -DTOP=<top folder> -DEXPECTED=<file> -DWORK=<scratch folder> -P <this>
# EXPECTED sets the list "entries" of pairs "<path in the top folder>|<file it must equal>".
# Fails naming every missing entry, every unexpected one (also any outside the top folder), and
# every entry whose content differs from its file (a stale or swapped file).
cmake_minimum_required(VERSION 3.25)
include(${EXPECTED})

if(NOT EXISTS ${ZIP})
    message(FATAL_ERROR "no package: ${ZIP}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${ZIP}
    OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot list ${ZIP}")
endif()

string(REPLACE "\n" ";" listed "${listing}")
set(found)
set(problems)
foreach(entry IN LISTS listed)
    if(entry STREQUAL "" OR entry MATCHES "/$")  # folders
        continue()
    endif()
    string(LENGTH "${TOP}/" top_length)
    string(SUBSTRING "${entry}" 0 ${top_length} head)
    if(NOT head STREQUAL "${TOP}/")
        list(APPEND problems "unexpected entry outside ${TOP}/: ${entry}")
        continue()
    endif()
    string(SUBSTRING "${entry}" ${top_length} -1 inside)
    list(APPEND found "${inside}")
endforeach()

set(wanted)
foreach(pair IN LISTS entries)
    string(REPLACE "|" ";" parts "${pair}")
    list(GET parts 0 name)
    list(APPEND wanted "${name}")
    if(NOT name IN_LIST found)
        list(APPEND problems "missing: ${name}")
    endif()
endforeach()
foreach(name IN LISTS found)
    if(NOT name IN_LIST wanted)
        list(APPEND problems "unexpected entry: ${name}")
    endif()
endforeach()

# Each expected file as packed must equal its original.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    list(APPEND problems "cannot unpack ${ZIP}")
endif()
foreach(pair IN LISTS entries)
    string(REPLACE "|" ";" parts "${pair}")
    list(GET parts 0 name)
    list(GET parts 1 original)
    if(NOT name IN_LIST found)
        continue()
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
        ${WORK}/${TOP}/${name} ${original} RESULT_VARIABLE differs)
    if(NOT differs EQUAL 0)
        list(APPEND problems "${name} differs from ${original}")
    endif()
endforeach()
file(REMOVE_RECURSE ${WORK})

if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "${ZIP}:\n  ${text}")
endif()
list(LENGTH found count)
message(STATUS "${ZIP}: ${count} entries as expected")
