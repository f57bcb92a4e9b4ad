# Which kit the launcher carries.
#
#   -DKIT_DIR=<folder>        the ten files of that folder, under their target
#                             file names, byte for byte
#   -DKIT_ALLOW_MISSING=ON    leave out items whose file is missing (for tests)
#   (no KIT_DIR)              the repository's demo kit (kit/), packed with the
#                             native kitpack named by KITPACK
#
# Sets QUARVEL_KIT_FILES (the files the resources embed), QUARVEL_KIT_TARGET
# (the target that makes them, if any) and writes payload.rc. KIT_DIR,
# KIT_ALLOW_MISSING and KITPACK are defined in kit/CMakeLists.txt.

# Target file names in the order of the payload table (payload_table.h).
set(QUARVEL_KIT_NAMES
  Quarvel.ex_ Quarvel.ch_ Liesmich.txt Beispiel.dbqrv TrickTip.tx_
  Vertrag.txt eztw32.DL_ gdiplus.dl_ Setup.ex_ Setup.lst)

if(KIT_DIR)
  if(NOT IS_DIRECTORY "${KIT_DIR}")
    message(FATAL_ERROR "KIT_DIR: the folder ${KIT_DIR} does not exist")
  endif()
  set(kit_folder "${KIT_DIR}")
  set(QUARVEL_KIT_TARGET "")
  set(QUARVEL_KIT_DESCRIPTION "the kit in ${KIT_DIR}")
else()
  # Made at build time by kit/CMakeLists.txt.
  set(kit_folder "${QUARVEL_DEMO_KIT_DIR}")
  set(QUARVEL_KIT_TARGET demo_kit)
  set(QUARVEL_KIT_DESCRIPTION "the demo kit")
endif()

set(QUARVEL_KIT_FILES "")
set(QUARVEL_PAYLOAD_LINES "")
set(missing "")
set(index 0)
foreach(name IN LISTS QUARVEL_KIT_NAMES)
  math(EXPR index "${index} + 1")
  set(file "${kit_folder}/${name}")
  if(KIT_DIR AND (NOT EXISTS "${file}" OR IS_DIRECTORY "${file}"))
    if(KIT_ALLOW_MISSING)
      message(STATUS "Kit: item Test${index} (${name}) is missing and left out")
      string(APPEND QUARVEL_PAYLOAD_LINES "// TEST${index} (${name}) left out: missing from the kit\n")
    else()
      list(APPEND missing "${name}")
    endif()
    continue()
  endif()
  list(APPEND QUARVEL_KIT_FILES "${file}")
  # Resource script strings escape the backslash and double the quote.
  string(REPLACE "\\" "\\\\" rc_path "${file}")
  string(REPLACE "\"" "\"\"" rc_path "${rc_path}")
  string(APPEND QUARVEL_PAYLOAD_LINES "TEST${index} FILE \"${rc_path}\"\n")
endforeach()

if(missing)
  list(JOIN missing ", " missing_text)
  message(FATAL_ERROR
    "KIT_DIR ${KIT_DIR} lacks the kit file(s): ${missing_text}\n"
    "A kit has the ten files ${QUARVEL_KIT_NAMES}; pass -DKIT_ALLOW_MISSING=ON "
    "to build a launcher without the missing ones (for tests).")
endif()

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/resources/payload.rc.in
  ${CMAKE_CURRENT_BINARY_DIR}/payload.rc @ONLY)
