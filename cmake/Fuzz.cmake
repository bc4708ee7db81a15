# kalidrome_add_fuzzer(NAME SOURCE file.cpp LIBS lib ...)
# The source defines LLVMFuzzerTestOneInput. With KALIDROME_FUZZ (clang) it becomes a
# libFuzzer binary; otherwise it gets a plain main() that replays every file of its seed
# corpus tests/fuzz/corpus/NAME, registered with ctest, so the corpus runs in every test run
# (and under the sanitizers in the sanitizer build).
add_custom_target(fuzz_all)
if(KALIDROME_FUZZ)
  # Coverage and sanitizers for the libraries under test too.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
  # The usual libFuzzer marker: decoders may relax checks that random inputs never pass (the
  # PNG decoder ignores chunk checksums), so that fuzzing reaches the code behind them.
  add_compile_definitions(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION)
endif()
function(kalidrome_add_fuzzer name)
  cmake_parse_arguments(F "" "SOURCE" "LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCE})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  kalidrome_warnings(${name})
  if(KALIDROME_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  else()
    target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/fuzz/ReplayMain.cpp)
    if(KALIDROME_TESTS)
      add_test(NAME ${name}_corpus COMMAND ${name} ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${name})
    endif()
  endif()
  add_dependencies(fuzz_all ${name})
endfunction()
