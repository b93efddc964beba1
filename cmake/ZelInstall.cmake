# What `cmake --install` puts on a system: the shared library with its SONAME links, the public
# header, a CMake package (ZELTabletCore::ZELTabletCore), a pkg-config file and the udev rule
# that lets the logged-in user open the pads. Only the shipped library is installed; the
# object library, the test rig, tests, fuzzers and benchmarks are build-tree only.
include(CMakePackageConfigHelpers)

set(ZEL_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/ZELTabletCore" CACHE STRING
  "Where ZELTabletCoreConfig.cmake goes (relative to the prefix, or absolute)")
# udev reads /usr/lib/udev/rules.d and /usr/local/lib/udev/rules.d, so a prefix-relative
# "lib/udev/rules.d" works for both usual prefixes. The rules are not per architecture, hence
# not CMAKE_INSTALL_LIBDIR (lib/x86_64-linux-gnu on Debian with prefix /usr).
set(ZEL_INSTALL_UDEVRULESDIR "lib/udev/rules.d" CACHE STRING
  "Where the udev rule goes (relative to the prefix, or absolute, e.g. /etc/udev/rules.d)")

# The vendor ID as udev compares it: four lower-case hex digits, no "0x".
if(NOT ZEL_PAD_VENDOR_ID MATCHES "^0[xX]([0-9a-fA-F][0-9a-fA-F]?[0-9a-fA-F]?[0-9a-fA-F]?)$")
  message(FATAL_ERROR "ZEL_PAD_VENDOR_ID must be a 16-bit hexadecimal value such as 0x5A45, "
    "not '${ZEL_PAD_VENDOR_ID}'")
endif()
string(TOLOWER "${CMAKE_MATCH_1}" ZEL_UDEV_VENDOR_ID)
string(LENGTH "${ZEL_UDEV_VENDOR_ID}" zel_vendor_digits)
while(zel_vendor_digits LESS 4)
  string(PREPEND ZEL_UDEV_VENDOR_ID "0")
  math(EXPR zel_vendor_digits "${zel_vendor_digits} + 1")
endwhile()

install(TARGETS ZELTabletCore EXPORT ZELTabletCoreTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT Runtime NAMELINK_COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(FILES ${PROJECT_SOURCE_DIR}/include/zeltablet/ZELTabletCore.h
  ${PROJECT_SOURCE_DIR}/include/zeltablet/ZELPad.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeltablet COMPONENT Development)

# The library's own dependencies (zlib, OpenSSL, libusb, TurboJPEG, giflib) are private to the
# shared library: its ELF dependencies bring them in at run time, so the exported target
# carries no link interface and the package needs no find_dependency().
install(EXPORT ZELTabletCoreTargets NAMESPACE ZELTabletCore::
  DESTINATION ${ZEL_INSTALL_CMAKEDIR} COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ZELTabletCoreConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ZELTabletCoreConfig.cmake INSTALL_DESTINATION ${ZEL_INSTALL_CMAKEDIR})
# The SONAME changes with the major version, so a package of the same major version fits.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZELTabletCoreConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZELTabletCoreConfig.cmake
  ${PROJECT_BINARY_DIR}/ZELTabletCoreConfigVersion.cmake
  DESTINATION ${ZEL_INSTALL_CMAKEDIR} COMPONENT Development)

# pkg-config: the file finds the prefix from its own place (${pcfiledir}), so the tree stays
# valid when installed with `cmake --install --prefix` or moved; absolute directories are
# written as they are.
set(zel_pc_dir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${zel_pc_dir}")
  set(ZEL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  string(REGEX REPLACE "[^/]+" ".." zel_pc_up "${zel_pc_dir}")
  set(ZEL_PC_PREFIX "\${pcfiledir}/${zel_pc_up}")
endif()
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(ZEL_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(ZEL_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/zeltabletcore.pc.in
  ${PROJECT_BINARY_DIR}/zeltabletcore.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zeltabletcore.pc
  DESTINATION ${zel_pc_dir} COMPONENT Development)

configure_file(${PROJECT_SOURCE_DIR}/cmake/70-zeltabletcore.rules.in
  ${PROJECT_BINARY_DIR}/70-zeltabletcore.rules @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/70-zeltabletcore.rules
  DESTINATION ${ZEL_INSTALL_UDEVRULESDIR} COMPONENT Runtime)

# The signature library beside the driver: its own export set (the package's component
# Signature, target ZELTabletCore::ZELSignature) and its own pkg-config file (zelsignature).
# Like the driver, it carries its dependencies itself: consumers link the library alone.
install(TARGETS ZELSignature EXPORT ZELSignatureTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT Runtime NAMELINK_COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime)
install(FILES ${PROJECT_SOURCE_DIR}/include/zeltablet/ZELSignature.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zeltablet COMPONENT Development)
install(EXPORT ZELSignatureTargets NAMESPACE ZELTabletCore::
  DESTINATION ${ZEL_INSTALL_CMAKEDIR} COMPONENT Development)
configure_file(${PROJECT_SOURCE_DIR}/cmake/zelsignature.pc.in
  ${PROJECT_BINARY_DIR}/zelsignature.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zelsignature.pc
  DESTINATION ${zel_pc_dir} COMPONENT Development)
