# The stored texts: scramble_texts enciphers src/scramble/stored_texts.txt with the program's
# own keys into two headers in the generated folder. A definition that does not fit its block
# stops the build with a message naming the line.
# A cross build cannot run what it compiles, so there the tool is compiled for the build machine
# with its own compiler (ROWFLUME_HOST_CXX) when configuring.
set(SCRAMBLE_TEXTS_SOURCES ${CMAKE_SOURCE_DIR}/tools/scramble_texts.cpp
                           ${CMAKE_SOURCE_DIR}/src/scramble/des3.cpp)
if(CMAKE_CROSSCOMPILING)
  set(ROWFLUME_HOST_CXX c++ CACHE STRING "C++ compiler of the build machine, for build tools")
  set(scramble_tool ${CMAKE_BINARY_DIR}/host/scramble_texts)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/host)
  execute_process(COMMAND ${ROWFLUME_HOST_CXX} -std=c++20 -O1 -I${CMAKE_SOURCE_DIR}/src
                          ${SCRAMBLE_TEXTS_SOURCES} -o ${scramble_tool}
                  RESULT_VARIABLE host_result ERROR_VARIABLE host_errors)
  if(NOT host_result EQUAL 0)
    message(FATAL_ERROR "Cannot build the stored-text tool with ${ROWFLUME_HOST_CXX}:\n${host_errors}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${SCRAMBLE_TEXTS_SOURCES})
else()
  add_executable(rowflume_scramble_texts ${SCRAMBLE_TEXTS_SOURCES})
  target_include_directories(rowflume_scramble_texts PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(rowflume_scramble_texts PRIVATE ${ROWFLUME_WARNINGS})
  set(scramble_tool rowflume_scramble_texts)
endif()

# The banner carries the project's version: the definitions are configured first.
configure_file(${CMAKE_SOURCE_DIR}/src/scramble/stored_texts.txt ${GENERATED_DIR}/stored_texts.txt
               @ONLY)
set(STORED_TEXTS_SOURCE ${GENERATED_DIR}/stored_texts.txt)
set(STORED_TEXTS_HEADERS ${GENERATED_DIR}/stored_texts.h ${GENERATED_DIR}/stored_text_ids.h)
add_custom_command(
  OUTPUT ${STORED_TEXTS_HEADERS}
  COMMAND ${scramble_tool} ${STORED_TEXTS_SOURCE} ${STORED_TEXTS_HEADERS}
  DEPENDS ${scramble_tool} ${STORED_TEXTS_SOURCE}
  COMMENT "Scrambling the stored texts"
  VERBATIM)
add_custom_target(rowflume_stored_texts DEPENDS ${STORED_TEXTS_HEADERS})
