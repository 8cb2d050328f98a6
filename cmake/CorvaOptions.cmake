# Flags shared by every target of the project.
add_library(corva_options INTERFACE)
add_library(corva::options ALIAS corva_options)
target_compile_features(corva_options INTERFACE cxx_std_20)
target_compile_options(corva_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Wunused -Woverloaded-virtual -Wimplicit-fallthrough)
target_compile_definitions(corva_options INTERFACE
  QT_NO_KEYWORDS)

# Tests are not part of the application folder.
set(CORVA_TEST_BIN_DIR ${CMAKE_BINARY_DIR}/tests/bin)
function(corva_test_target target)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CORVA_TEST_BIN_DIR})
endfunction()
