# Fails when a source folder includes a header from a folder above its floor.
# Run as: cmake -DSOURCE_DIR=... -DSTAMP=... -P check_floors.cmake
#
# Floors, lowest first: platform < base < sms < storage < modem < gateway
# < integration, com, web < app < tools. A folder may include itself and the
# folders listed for it.
set(allowed_platform platform)
set(allowed_base platform base)
set(allowed_sms platform base sms)
set(allowed_storage platform base sms storage)
set(allowed_modem platform base sms storage modem)
set(allowed_gateway platform base sms storage modem gateway)
set(allowed_integration platform base sms storage modem gateway integration)
set(allowed_com platform base sms storage modem gateway integration com)
set(allowed_web platform base sms storage modem gateway integration web)
set(allowed_app platform base sms storage modem gateway integration com web app)
set(allowed_tools platform base sms storage modem gateway integration com web app tools)

set(violations "")
foreach(folder platform base sms storage modem gateway integration com web app tools)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(file ${files})
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z_]+/")
    foreach(line ${includes})
      string(REGEX MATCH "\"([a-z_]+)/" _ "${line}")
      set(target "${CMAKE_MATCH_1}")
      list(FIND allowed_${folder} "${target}" found)
      if(found EQUAL -1)
        file(RELATIVE_PATH rel "${SOURCE_DIR}" "${file}")
        string(STRIP "${line}" line)
        list(APPEND violations "${rel}: ${line} (${folder}/ may not include ${target}/)")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "Includes that run up the floors:\n  ${text}")
endif()
file(TOUCH "${STAMP}")
