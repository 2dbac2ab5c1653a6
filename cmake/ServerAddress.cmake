# The download server's address is compiled in and never looked up, so a build with
# anything but a dotted IPv4 address would fail at every Check; refuse it when configuring.
function(quorvel_check_server address port)
  set(octet "(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])")  # no {n} in CMake's expressions
  if(NOT address STREQUAL "" AND NOT address MATCHES "^${octet}\\.${octet}\\.${octet}\\.${octet}$")
    message(FATAL_ERROR "QUORVEL_SERVER_ADDRESS must be an IPv4 address such as 203.0.113.7 "
                        "(the program looks up no names), not \"${address}\"")
  endif()
  if(NOT port MATCHES "^[1-9][0-9]*$" OR port GREATER 65535)
    message(FATAL_ERROR "QUORVEL_SERVER_PORT must be a port number, not \"${port}\"")
  endif()
endfunction()
