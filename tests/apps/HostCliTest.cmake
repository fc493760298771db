# Runs zarvik-host as a process; each case gives the arguments, the exit code
# wanted and a pattern its output must match.
function(expect name code pattern)
  execute_process(COMMAND ${HOST} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                  TIMEOUT 60)
  if(NOT rc STREQUAL "${code}")
    message(FATAL_ERROR "${name}: exit ${rc}, wanted ${code}\n${out}\n${err}")
  endif()
  if(NOT "${out}${err}" MATCHES "${pattern}")
    message(FATAL_ERROR "${name}: output does not match '${pattern}'\n${out}\n${err}")
  endif()
  message(STATUS "${name}: ok")
endfunction()

expect("help" 0 "Usage:.*demo" --help)
expect("command help" 0 "--dispenser" status --help)
expect("info through dlopen" 0 "v2.50#.*capability 7: 100.*line result: 1" info)
expect("global option after the command" 0 "line result: 1" info --line 2)
# Every parse error is a usage error (2), whatever number the parser gives it.
expect("unknown command" 2 "subcommand is required" bogus-command)
expect("bad range" 2 "dispenser" status --dispenser 40 --port /dev/null)
# A library or a device that does not open is a configuration or port error (4).
expect("missing library" 4 "cannot load" --library /nonexistent/libZarvikTrk.so info)
expect("device that does not open" 4 "cannot open /nonexistent/tty: .*no such device" --port /nonexistent/tty status)
expect("demo" 0 "delivered 10.000 L.*nozzle total 10.000 L.*demo finished" demo)
expect("demo with trace" 0 "> 02 [0-9A-F][0-9A-F] 01 02 9B 00 .*< 02 " demo --trace)
