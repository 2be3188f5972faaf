# Runs the built glowstep-cli once (through the cross build's emulator, if any) and checks its exit
# status and that its output and messages match the patterns given:
#   cmake -DPROGRAM=... [-DEMULATOR=a|b] -DARGS=a|b -DSTATUS=n [-DOUT=regex] [-DERR=regex] -P
string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
string(REPLACE "|" ";" ARGS "${ARGS}")
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${ARGS}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("exit status ${status}\n--- standard output\n${out}--- standard error\n${err}")
if(NOT status STREQUAL STATUS)
  message(FATAL_ERROR "expected exit status ${STATUS}")
endif()
if(DEFINED OUT AND NOT out MATCHES "${OUT}")
  message(FATAL_ERROR "standard output does not match ${OUT}")
endif()
if(DEFINED ERR AND NOT err MATCHES "${ERR}")
  message(FATAL_ERROR "standard error does not match ${ERR}")
endif()
