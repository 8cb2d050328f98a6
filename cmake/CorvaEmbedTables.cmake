# corva_embed_tables(<out-var> <codec folder> <label> [FLOATS] TABLES name...): a build step that
# turns <codec>/tables/<name>.txt into one generated source, named in <out-var>.
function(corva_embed_tables out codec label)
  cmake_parse_arguments(ARG "FLOATS" "" "TABLES" ${ARGN})
  set(paths "")
  foreach(t IN LISTS ARG_TABLES)
    list(APPEND paths ${PROJECT_SOURCE_DIR}/${codec}/tables/${t}.txt)
  endforeach()
  set(script ${PROJECT_SOURCE_DIR}/cmake/EmbedTables.cmake)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/RawTables.cpp)
  add_custom_command(OUTPUT ${generated}
    COMMAND ${CMAKE_COMMAND} -DOUT=${generated} -DCODEC=${codec} -DFLOATS=${ARG_FLOATS} "-DTABLES=${paths}" -P ${script}
    DEPENDS ${paths} ${script}
    COMMENT "Embedding the ${label} tables"
    VERBATIM)
  set(${out} ${generated} PARENT_SCOPE)
endfunction()
