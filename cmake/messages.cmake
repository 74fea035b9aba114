# The message table of the driver's event log entries (driver/messages.mc):
# windmc makes messages.h, which the driver and the Wine kernel test include,
# and the resource script and binary the driver image carries.
#   dio_messages(DIR) sets DIR to the directory that holds them.
find_program(DIO_WINDMC NAMES x86_64-w64-mingw32-windmc i686-w64-mingw32-windmc REQUIRED)

function(dio_messages dir)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/messages)
  add_custom_command(OUTPUT ${out}/messages.h ${out}/messages.rc ${out}/MSG00409.bin
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${DIO_WINDMC} -c -U -h ${out} -r ${out} ${PROJECT_SOURCE_DIR}/driver/messages.mc
    WORKING_DIRECTORY ${out}
    DEPENDS ${PROJECT_SOURCE_DIR}/driver/messages.mc
    COMMENT "The driver's message table")
  set(${dir} ${out} PARENT_SCOPE)
endfunction()
