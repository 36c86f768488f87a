# The stored texts: scramble_texts enciphers src/scramble/stored_texts.txt with the program's
# own keys into two headers in the generated folder. A definition that does not fit its block
# stops the build with a message naming the line.
add_executable(rowflume_scramble_texts ${CMAKE_SOURCE_DIR}/tools/scramble_texts.cpp
                                       ${CMAKE_SOURCE_DIR}/src/scramble/des3.cpp)
target_include_directories(rowflume_scramble_texts PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_options(rowflume_scramble_texts PRIVATE ${ROWFLUME_WARNINGS})

set(STORED_TEXTS_SOURCE ${CMAKE_SOURCE_DIR}/src/scramble/stored_texts.txt)
set(STORED_TEXTS_HEADERS ${GENERATED_DIR}/stored_texts.h ${GENERATED_DIR}/stored_text_ids.h)
add_custom_command(
  OUTPUT ${STORED_TEXTS_HEADERS}
  COMMAND rowflume_scramble_texts ${STORED_TEXTS_SOURCE} ${STORED_TEXTS_HEADERS}
  DEPENDS rowflume_scramble_texts ${STORED_TEXTS_SOURCE}
  COMMENT "Scrambling the stored texts"
  VERBATIM)
add_custom_target(rowflume_stored_texts DEPENDS ${STORED_TEXTS_HEADERS})
