# Runs the reference-record generator on a record directory that does not exist, as the build
# would, and checks what the build sees: a failed exit status and one line on standard error.
#   cmake -DGENERATOR=... -DEMULATOR=... -DOUT_DIR=... -P refdata_gen_refusal.cmake
execute_process(
  COMMAND ${EMULATOR} ${GENERATOR} --out ${OUT_DIR} --import ${OUT_DIR}/no-such-dir
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
if(status EQUAL 0)
  message(FATAL_ERROR "the generator accepted a missing record directory")
endif()
if(NOT out STREQUAL "")
  message(FATAL_ERROR "the generator wrote to standard output: ${out}")
endif()
if(NOT err MATCHES "^tavo_refdata_gen: [^\n]*/no-such-dir: not a directory of reference records\n$")
  message(FATAL_ERROR "expected one line naming the directory, got: ${err}")
endif()
