# Packages with CPack (tools/package.sh builds them into build/packages/):
#   runtime      the library, its headers, the CMake package and the
#                command-line tools: the .deb "felbrin", on Windows
#                felbrin-<version>-win64.zip
#   development  the simulators: the sim/ headers, simdev (Linux),
#                mkdatafile, and the stand-in vendor libraries in a folder
#                no loader searches (sim/CMakeLists.txt): the .deb
#                "felbrin-dev-sim", felbrin-dev-sim-<version>-win64.zip
# Install rules without a component are the runtime's (CMakeLists.txt sets
# the default). Included last, so that the programs defined anywhere before
# are known.

foreach(tool simdev mkdatafile)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT development)
  endif()
endforeach()

set(CPACK_PACKAGE_NAME felbrin)
set(CPACK_PACKAGE_VENDOR "felbrin developers")
set(CPACK_PACKAGE_CONTACT "felbrin developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "felbrin instrument-support library")
set(CPACK_COMPONENTS_ALL runtime development)
set(CPACK_COMPONENT_RUNTIME_DISPLAY_NAME "felbrin")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "Instrument-support library (static), its headers and CMake package, mapconv and the command-line tools")
set(CPACK_COMPONENT_DEVELOPMENT_DISPLAY_NAME "felbrin simulators")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "Simulated devices and stand-in vendor libraries, for development machines without the hardware; the stand-ins in a folder no loader searches, with a README.txt")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)

# Debian: one package per component. The programs need only the C and C++
# runtimes, named here rather than found by dpkg-shlibdeps, so that a build
# machine without dpkg-dev can package too.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "felbrin developers")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(felbrin_deb_runtime_depends "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 12)")
if(TARGET mapview)
  string(APPEND felbrin_deb_runtime_depends ", zlib1g (>= 1:1.2.0)")
endif()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME felbrin)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${felbrin_deb_runtime_depends}")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME felbrin-dev-sim)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
  "felbrin (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}), ${felbrin_deb_runtime_depends}")

# Python: the module where Debian's Python 3 finds it, built for the
# interpreter it was built against.
if(TARGET _felbrin)
  math(EXPR felbrin_python_next_minor "${Python_VERSION_MINOR} + 1")
  list(APPEND CPACK_COMPONENTS_ALL python)
  set(CPACK_COMPONENT_PYTHON_DISPLAY_NAME "felbrin for Python")
  set(CPACK_COMPONENT_PYTHON_DESCRIPTION
    "The felbrin module: measurement data files as numpy arrays, the library's readers and checks")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-felbrin)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}), python3 (<< ${Python_VERSION_MAJOR}.${felbrin_python_next_minor}), python3-numpy, ${felbrin_deb_runtime_depends}")
endif()

# Windows: one .zip per component, each holding its part of the same tree
# (bin/, include/, lib/, standins/): unpacked into one folder they make the
# whole installation.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_RUNTIME_FILE_NAME felbrin-${PROJECT_VERSION}-win64)
set(CPACK_ARCHIVE_DEVELOPMENT_FILE_NAME felbrin-dev-sim-${PROJECT_VERSION}-win64)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
endif()
include(CPack)
