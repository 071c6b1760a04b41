# What `cmake --install` puts under the prefix, by component:
#   runtime      libvelumar.so.N (the shared library)
#   development  headers, libvelumar.a, the libvelumar.so link, the CMake
#                package (find_package(Velumar)) and velumar.pc
#   cli          bin/velumar-cli
#   wizard       bin/velumar
include(CMakePackageConfigHelpers)

set(VELUMAR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Velumar)
set(VELUMAR_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS velumar_model_shared velumar_model
  EXPORT VelumarTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES
    ${PROJECT_SOURCE_DIR}/model/include/velumar/model.h
    ${PROJECT_BINARY_DIR}/model/include/velumar/model_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/velumar COMPONENT development)

install(EXPORT VelumarTargets NAMESPACE velumar:: DESTINATION ${VELUMAR_CMAKE_DIR} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/install/VelumarConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VelumarConfig.cmake INSTALL_DESTINATION ${VELUMAR_CMAKE_DIR})
# The package's version is the library's: the interface is what a consumer
# depends on.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VelumarConfigVersion.cmake
  VERSION ${VELUMAR_LIBRARY_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VelumarConfig.cmake ${PROJECT_BINARY_DIR}/VelumarConfigVersion.cmake
  DESTINATION ${VELUMAR_CMAKE_DIR} COMPONENT development)

# pkg-config: a static link of the C++ library from C needs the C++ runtime
# and libm, named here rather than guessed by the consumer.
file(RELATIVE_PATH VELUMAR_PC_PREFIX_FROM_PCDIR /prefix/${VELUMAR_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" VELUMAR_PC_PREFIX_FROM_PCDIR "${VELUMAR_PC_PREFIX_FROM_PCDIR}")
set(VELUMAR_PC_PRIVATE_LIBS "-lstdc++ -lm")
configure_file(${CMAKE_CURRENT_LIST_DIR}/install/velumar.pc.in ${PROJECT_BINARY_DIR}/velumar.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velumar.pc DESTINATION ${VELUMAR_PKGCONFIG_DIR} COMPONENT development)

if(TARGET velumar_cli)
  install(TARGETS velumar_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
endif()
if(TARGET velumar_app)
  install(TARGETS velumar_app RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT wizard)
endif()
