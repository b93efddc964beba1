# nlohmann-json for the signature library: header-only, so a cross build for Windows uses a
# copy of just the host's headers (Debian's nlohmann-json3-dev) instead of a package for the
# target; a native build uses the installed package.
if(TARGET zel_json)
  return()
endif()
add_library(zel_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  find_path(ZEL_JSON_HOST_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH
    NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ZEL_JSON_HOST_INCLUDE)
    message(FATAL_ERROR "nlohmann/json.hpp not found on the build machine (nlohmann-json3-dev)")
  endif()
  # Only the library's own headers: the host's include folder must not shadow the target's.
  set(zel_json_copy ${PROJECT_BINARY_DIR}/third_party/json/include)
  file(COPY ${ZEL_JSON_HOST_INCLUDE}/nlohmann DESTINATION ${zel_json_copy})
  target_include_directories(zel_json SYSTEM INTERFACE ${zel_json_copy})
else()
  find_package(nlohmann_json 3.9 REQUIRED)
  target_link_libraries(zel_json INTERFACE nlohmann_json::nlohmann_json)
endif()
