# Installs the library into a scratch prefix, builds the example host program
# against it with find_package, and runs it on the sample.
#
# With GENERATOR (DEB or ZIP) the prefix comes from the packages CPack builds
# instead, each unpacked as it would be installed: the stand-in libraries
# (STANDINS, named LIBRARY_PREFIX<name>LIBRARY_SUFFIX) must be in the
# development package only, in a folder named standins; the example is built
# with TOOLCHAIN and it and the packaged mapconv run through EMULATOR.
file(REMOVE_RECURSE "${WORK}")
# Standard output only in `last_output`: Wine may tell of its prefix on the
# error stream.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed:\n${out}${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

# Sets `out` to the one file or folder under `dir` whose path ends in `tail`.
function(find_one out dir tail)
  file(GLOB_RECURSE found LIST_DIRECTORIES true "${dir}/*")
  list(FILTER found INCLUDE REGEX "/${tail}$")
  list(LENGTH found n)
  if(NOT n EQUAL 1)
    message(FATAL_ERROR "expected one ${tail} in ${dir}, found: ${found}")
  endif()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(configure_args -DCMAKE_BUILD_TYPE=Release)
if(NOT GENERATOR)
  run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK}/prefix")
  list(APPEND configure_args -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${WORK}/prefix)
else()
  run(${CPACK} --config "${BUILD_DIR}/CPackConfig.cmake" -G ${GENERATOR} -B "${WORK}/packages")
  file(GLOB packages "${WORK}/packages/*.deb" "${WORK}/packages/*.zip")
  list(LENGTH packages n)
  set(expected 2)
  if(PYTHON)
    set(expected 3)  # and the Python module's
  endif()
  if(NOT n EQUAL expected)
    message(FATAL_ERROR "expected a runtime, a development and a Python package (${expected} in all), got: ${packages}")
  endif()
  foreach(package IN LISTS packages)
    get_filename_component(name "${package}" NAME)
    if(name MATCHES "dev-sim")
      set(dir "${WORK}/development")
    elseif(name MATCHES "^python3-felbrin")
      set(dir "${WORK}/python")
    else()
      set(dir "${WORK}/runtime")
    endif()
    file(MAKE_DIRECTORY "${dir}")
    if(GENERATOR STREQUAL "DEB")
      run(dpkg-deb -x "${package}" "${dir}")
    else()
      run(${CMAKE_COMMAND} -E chdir "${dir}" ${CMAKE_COMMAND} -E tar xf "${package}")
    endif()
  endforeach()
  # A stand-in where a loader looks would be taken for the vendor's library.
  file(GLOB_RECURSE runtime_files "${WORK}/runtime/*")
  foreach(standin IN LISTS STANDINS)
    set(file "${LIBRARY_PREFIX}${standin}${LIBRARY_SUFFIX}")
    if(runtime_files MATCHES "/${file}")
      message(FATAL_ERROR "${file} is in the runtime package")
    endif()
    find_one(path "${WORK}/development" "${file}")
    get_filename_component(folder "${path}" DIRECTORY)
    if(NOT folder MATCHES "/standins$")
      message(FATAL_ERROR "${file} is installed outside a standins folder: ${path}")
    endif()
  endforeach()
  find_one(readme "${WORK}/development" "standins/README.txt")
  find_one(scenario "${WORK}/development" "standins/example.ini")
  find_one(package_dir "${WORK}/runtime" "lib/cmake/felbrin")
  if(PYTHON)
    # The module where Debian's Python finds it, imported from the scratch
    # root alone and reading the sample.
    find_one(module_dir "${WORK}/python" "usr/lib/python3/dist-packages")
    run(${CMAKE_COMMAND} -E env "PYTHONPATH=${module_dir}" ${PYTHON} -c
      "import felbrin\nprint(felbrin.__file__, felbrin.read_data('${SAMPLE}').phase.shape)")
    if(NOT last_output MATCHES "^${module_dir}/felbrin/__init__.py \\(48, 64\\)")
      message(FATAL_ERROR "the packaged module was not the one imported: ${last_output}")
    endif()
  endif()
  if(TOOLCHAIN)
    # A cross build searches its target's root only; one program file, as
    # the project's own, so that it runs without the compiler's DLLs.
    list(APPEND configure_args -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -Dfelbrin_DIR=${package_dir}
      -DCMAKE_EXE_LINKER_FLAGS=-static)
  else()
    string(REGEX REPLACE "/lib/cmake/felbrin$" "" prefix "${package_dir}")
    list(APPEND configure_args -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix})
  endif()
endif()
run(${CMAKE_COMMAND} -S "${CONSUMER}" -B "${WORK}/build" ${configure_args})
run(${CMAKE_COMMAND} --build "${WORK}/build")
find_one(consumer "${WORK}/build" "consumer${EXECUTABLE_SUFFIX}")
file(COPY_FILE "${SAMPLE}" "${WORK}/sample.dat")
run(${EMULATOR} "${consumer}" "${WORK}/sample.dat")
if(NOT last_output MATCHES "^points [0-9]+ peak")
  message(FATAL_ERROR "unexpected output: ${last_output}")
endif()

if(GENERATOR)
  # The packaged converter as users start it.
  find_one(MAPCONV "${WORK}/runtime" "bin/mapconv${EXECUTABLE_SUFFIX}")
  # The packaged picture command, where the build has one, on the sample.
  file(GLOB_RECURSE mapview "${WORK}/runtime/*")
  list(FILTER mapview INCLUDE REGEX "/bin/mapview${EXECUTABLE_SUFFIX}$")
  if(mapview)
    run(${EMULATOR} "${mapview}" "${WORK}/sample.dat" "${WORK}/sample.png")
    if(NOT last_output MATCHES "phase 64 x 48, values .* \\(2768 valid points\\)")
      message(FATAL_ERROR "unexpected output of mapview: ${last_output}")
    endif()
  endif()
  set(WORK "${WORK}/mapconv_sample")
  include(${CMAKE_CURRENT_LIST_DIR}/run_sample.cmake)
endif()
