# Runs calcheck and datinfo as users start them: exit codes, messages on
# standard error, reports on standard output, on the bundled examples and on
# files made for the run.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# Runs a tool in the work directory (calibration file names are resolved
# as the library does: a name with a Unix root is not a full path on
# Windows, so the files are named relative to it); fails unless it exits with `code` and both streams contain
# what is asked (OUT and ERR lists of texts).
function(expect code)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "COMMAND;OUT;ERR")
  execute_process(COMMAND ${EMULATOR} ${arg_COMMAND} WORKING_DIRECTORY "${WORK}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL code)
    message(FATAL_ERROR "${arg_COMMAND}\nexited with ${rc}, not ${code}:\n${out}\n${err}")
  endif()
  foreach(stream out err)
    string(TOUPPER ${stream} name)
    foreach(text IN LISTS arg_${name})
      string(FIND "${${stream}}" "${text}" found)
      if(found EQUAL -1)
        message(FATAL_ERROR "${arg_COMMAND}\nstd${stream} lacks \"${text}\":\n${${stream}}")
      endif()
    endforeach()
  endforeach()
endfunction()

file(GLOB examples "${EXAMPLES}/calibration/*.cal")
set(copies)
foreach(example IN LISTS examples)
  get_filename_component(name "${example}" NAME)
  file(COPY_FILE "${example}" "${WORK}/${name}")
  list(APPEND copies "${name}")
endforeach()
expect(0 COMMAND "${CALCHECK}" --show ${copies} OUT "System = Kite" "Version = ")
expect(0 COMMAND "${CALCHECK}" --help OUT "Usage: calcheck")
expect(2 COMMAND "${CALCHECK}" --frob kite.cal ERR "calcheck: unknown option \"--frob\"")

set(bad "Birch4  5  23  12345\nVersion  None  0  None\nZoom  300\n")
file(WRITE "${WORK}/broken.cal" "${bad}")
file(WRITE "${WORK}/messy.cal" "birch4 5 23 12345\nVERSION none 0 none\n")
expect(1 COMMAND "${CALCHECK}" --rewrite broken.cal messy.cal
  ERR "broken.cal:3: 300 out of range [0,255]" "broken.cal: not rewritten")
file(READ "${WORK}/broken.cal" after)
if(NOT after STREQUAL bad)
  message(FATAL_ERROR "calcheck --rewrite changed a file that did not read cleanly")
endif()
file(READ "${WORK}/messy.cal" rewritten)
string(FIND "${rewritten}" "# Trel System Calibration File" found)
if(NOT found EQUAL 0)
  message(FATAL_ERROR "messy.cal was not rewritten:\n${rewritten}")
endif()
expect(0 COMMAND "${CALCHECK}" messy.cal)

# The sample under a name that is not plain ASCII; its point list gives the
# number of valid points, the offset (minimum) and the offset plus the span.
set(sample "${WORK}/échantillon.dat")
file(COPY_FILE "${SAMPLE}" "${sample}")
expect(0 COMMAND "${DATINFO}" --json "${sample}"
  OUT "\"format\": \"binary\"" "\"valid_points\": 2768, \"minimum\": -39942, \"maximum\": 45598, ")
execute_process(COMMAND ${EMULATOR} "${MKDATAFILE}" -w 5 -h 4 -A "${WORK}/made.txt" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "mkdatafile exited with ${rc}")
endif()
# Every command: --help prints its usage on standard output, an unknown
# option is refused with its usage (mapconv keeps its own fixed usage text
# and code 1), and nothing is made of either.
expect(0 COMMAND "${MKDATAFILE}" --help OUT "Usage: mkdatafile" "Exit codes:")
expect(2 COMMAND "${MKDATAFILE}" -q made.dat ERR "mkdatafile: unknown option \"-q\"" "Usage: mkdatafile")
expect(2 COMMAND "${MKDATAFILE}" ERR "mkdatafile: no output file given")
# A magic number above the 32-bit signed range is taken whole.
expect(0 COMMAND "${MKDATAFILE}" -m 0x881B0371 -w 3 -h 2 magic.dat)
expect(0 COMMAND "${DATINFO}" magic.dat OUT "phase_width = 3")
expect(1 COMMAND "${MAPCONV}" --help ERR "Usage:  mapconv [options] input output")
foreach(name --help -q made.dat)
  if(EXISTS "${WORK}/${name}")
    message(FATAL_ERROR "a refused command line made ${name}")
  endif()
endforeach()
if(SIMDEV)
  expect(0 COMMAND "${SIMDEV}" --help OUT "Usage: simdev" "board-uz2" "a Version line naming Kite")
  expect(0 COMMAND "${SIMDEV}" -h OUT "Usage: simdev")
  expect(2 COMMAND "${SIMDEV}" ERR "simdev: no device kind given" "Usage: simdev")
  expect(2 COMMAND "${SIMDEV}" --frob line ERR "simdev: unknown option \"--frob\"")
  # In the background, with nothing on standard input, it keeps serving
  # until its lifetime ends, and says why it stopped.
  execute_process(COMMAND "${SIMDEV}" --lifetime 1 loopback INPUT_FILE /dev/null
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT err MATCHES "serving until a signal or the lifetime" OR NOT err MATCHES "stopping after 1 s")
    message(FATAL_ERROR "simdev with standard input at its end: ${rc}\n${out}\n${err}")
  endif()
endif()
expect(0 COMMAND "${DATINFO}" "${WORK}/made.txt" OUT "format = \"ascii\"" "phase_width = 5" "phase_height = 4")
expect(1 COMMAND "${DATINFO}" "${WORK}/made.txt" "${WORK}/broken.cal"
  OUT "phase_width = 5" ERR "broken.cal: not a binary or ASCII data file")
expect(0 COMMAND "${DATINFO}" --help OUT "Usage: datinfo")
expect(2 COMMAND "${DATINFO}" ERR "datinfo: no file given")
