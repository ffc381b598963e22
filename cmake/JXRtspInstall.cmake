# `cmake --install` puts the base library, the module, their public headers, a
# CMake package (find_package(JXRtsp)) and a pkg-config file (jxrtsp.pc) under
# the prefix. A host links the base library and loads the module at run time:
# JXRtsp::Headers carries the include paths and the base library for that, and
# JXRTSP_MODULE_PATH (package) or the pc file's `module` variable names the
# module's installed file.
include(CMakePackageConfigHelpers)

set(JX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/JXRtsp)

install(TARGETS JXBase JXRtsp JXRtspHeaders EXPORT JXRtspTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

file(GLOB JX_BASE_HEADERS ${CMAKE_SOURCE_DIR}/src/JXBase/*.h)
install(FILES ${JX_BASE_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/JXBase)
# The module's public face: the entry points, the stream interface and the RTP
# packet builder it offers other modules. Its other headers stay private.
install(FILES ${CMAKE_SOURCE_DIR}/src/modules/JXRtsp/jxrtsp.h
              ${CMAKE_SOURCE_DIR}/src/modules/JXRtsp/JXStream.h
              ${CMAKE_SOURCE_DIR}/src/modules/JXRtsp/JXRtspDefs.h
              ${CMAKE_SOURCE_DIR}/src/modules/JXRtsp/rtpdata.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/JXRtsp)

install(EXPORT JXRtspTargets NAMESPACE JXRtsp:: DESTINATION ${JX_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/JXRtspConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/JXRtspConfig.cmake
                              INSTALL_DESTINATION ${JX_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/JXRtspConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/JXRtspConfig.cmake ${CMAKE_BINARY_DIR}/JXRtspConfigVersion.cmake
        DESTINATION ${JX_INSTALL_CMAKEDIR})

if(WIN32)
  set(JX_MODULE_DIR ${CMAKE_INSTALL_BINDIR})
else()
  set(JX_MODULE_DIR ${CMAKE_INSTALL_LIBDIR})
endif()
set(JX_MODULE_FILE ${CMAKE_SHARED_LIBRARY_PREFIX}JXRtsp${CMAKE_SHARED_LIBRARY_SUFFIX})
if(WIN32)
  set(JX_MODULE_FILE JXRtsp${CMAKE_SHARED_LIBRARY_SUFFIX})
endif()
# The pc file finds the prefix from its own place, so the tree can be moved
# (or installed with --prefix) after configuring.
file(RELATIVE_PATH JX_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" JX_PC_TO_PREFIX "${JX_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/jxrtsp.pc.in ${CMAKE_BINARY_DIR}/jxrtsp.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/jxrtsp.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The host program with its sample clips. Installed, it finds the module and
# the clips by their paths relative to its own folder (the build tree keeps
# them beside it), so a package moved to another prefix still works.
file(RELATIVE_PATH JX_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH JX_BIN_TO_CLIPS ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/jxrtsp/clips)
target_compile_definitions(jxrtsp PRIVATE JX_BIN_TO_LIB="${JX_BIN_TO_LIB}" JX_BIN_TO_CLIPS="${JX_BIN_TO_CLIPS}")
if(NOT WIN32)
  set_target_properties(jxrtsp PROPERTIES INSTALL_RPATH "$ORIGIN/${JX_BIN_TO_LIB}")
endif()
install(TARGETS jxrtsp RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/tools/serve/clips/ DESTINATION ${CMAKE_INSTALL_DATADIR}/jxrtsp/clips
        FILES_MATCHING PATTERN "sample*")

# The host program's manual page and bash completion (loaded by bash-completion
# on demand, by the command's name).
install(FILES ${CMAKE_SOURCE_DIR}/tools/jxrtsp.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/tools/completion/jxrtsp.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME jxrtsp)
