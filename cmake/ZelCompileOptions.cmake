# Warnings are shown everywhere. They stop the build only where asked for (scripts/test.sh and
# developers): a packager's or user's compiler may warn about things ours does not, and their
# build must not fail on that. Symbols are hidden unless the public header exports them.
option(ZEL_WARNINGS_AS_ERRORS "Treat compiler warnings as errors (CI and development builds)" OFF)
add_compile_options(-Wall -Wextra)
if(ZEL_WARNINGS_AS_ERRORS)
  add_compile_options(-Werror)
endif()
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# With fuzzers, every object is instrumented for libFuzzer's coverage feedback, so a fuzz
# target learns from the library code it drives and not only from its own file. Programs
# that do not link libFuzzer get the hooks' default bodies from the sanitizer runtime.
if(ZEL_BUILD_FUZZERS)
  if(NOT ZEL_SANITIZE)
    message(FATAL_ERROR "ZEL_BUILD_FUZZERS goes with ZEL_SANITIZE (address,undefined)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(ZEL_SANITIZE)
  add_compile_options(-fsanitize=${ZEL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${ZEL_SANITIZE})
endif()

# Every test, fuzz replay and benchmark links the library's objects directly.
function(zel_target_defaults target)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
endfunction()
