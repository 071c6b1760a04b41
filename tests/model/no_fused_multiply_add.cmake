# Disassembles the model libraries and fails on any fused multiply-add:
# a fused product skips the rounding the separate multiply and add make,
# so it would change the model's numbers on some processors and not on
# others. The dispatched copies of the vector loops are compiled for targets
# the build flags do not name, so they are checked too, and the check
# insists their wide-register code is present (otherwise it would pass on
# code it never saw).
#
#   cmake -DOBJDUMP=... -DLIBRARIES="a;b" -P no_fused_multiply_add.cmake
foreach(library IN LISTS LIBRARIES)
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${library}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0 OR listing STREQUAL "")
    message(FATAL_ERROR "cannot disassemble ${library}: ${errors}")
  endif()
  # The 256- and 512-bit code (the dispatched copies and the FFT stages
  # compiled for AVX2 and AVX-512) must be in what was read.
  foreach(register ymm zmm)
    if(NOT listing MATCHES "%${register}[0-9]")
      message(FATAL_ERROR "${library}: no code using ${register} registers")
    endif()
  endforeach()
  string(REGEX MATCHALL "\n[^\n]*[ \t]v(fn?m(add|sub)|fmaddsub|fmsubadd)[0-9a-z]*[ \t][^\n]*" found "${listing}")
  if(found)
    # Name the functions: the nearest label above each instruction.
    set(where "")
    string(REGEX MATCHALL "\n[0-9a-f]+ <[^>\n]+>:|\n[^\n]*[ \t]v(fn?m(add|sub)|fmaddsub|fmsubadd)[0-9a-z]*[ \t]" lines "${listing}")
    set(current "")
    foreach(line IN LISTS lines)
      if(line MATCHES "<([^>\n]+)>:")
        set(current "${CMAKE_MATCH_1}")
      else()
        list(APPEND where "${current}")
      endif()
    endforeach()
    list(REMOVE_DUPLICATES where)
    list(LENGTH found count)
    list(JOIN where "\n  " names)
    message(FATAL_ERROR "${library}: ${count} fused multiply-add instructions in\n  ${names}")
  endif()
endforeach()
message(STATUS "no fused multiply-add in ${LIBRARIES}")
