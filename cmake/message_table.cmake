# The message tables of Windows executables: an .mc file compiled by windmc into a resource script
# with its binary table, which windres links in (CMake's RC language), and a header with the
# message IDs. Event Viewer formats an event's text from the table of the file its source names.
if(WIN32)
  enable_language(RC)
  find_program(EVENTLOG_WINDMC NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-windmc
                                     x86_64-w64-mingw32-windmc windmc REQUIRED)
endif()

# eventlog_message_table(<target> <mcfile>): compiles the .mc file (relative to the calling
# folder) once per file; an executable gets the table as a resource, and every target the header
# (#include "<name>.h", name being the .mc file's) with its message IDs. Nothing elsewhere.
function(eventlog_message_table target mcfile)
  if(NOT WIN32)
    return()
  endif()
  get_filename_component(source ${mcfile} ABSOLUTE)
  get_filename_component(name ${mcfile} NAME_WE)
  set(dir ${CMAKE_BINARY_DIR}/messages/${name})
  set(outputs ${dir}/${name}.h ${dir}/${name}.rc)
  if(NOT TARGET eventlog_message_table_${name})
    add_custom_command(OUTPUT ${outputs}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                       COMMAND ${EVENTLOG_WINDMC} -h ${dir} -r ${dir} ${source}
                       DEPENDS ${source}
                       COMMENT "Compiling the message table ${mcfile}"
                       VERBATIM)
    add_custom_target(eventlog_message_table_${name} DEPENDS ${outputs})
  endif()
  add_dependencies(${target} eventlog_message_table_${name})
  target_include_directories(${target} PRIVATE ${dir})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    # windres finds the binary table beside the script.
    set_source_files_properties(${dir}/${name}.rc PROPERTIES GENERATED TRUE)
    target_sources(${target} PRIVATE ${dir}/${name}.rc)
  endif()
endfunction()
