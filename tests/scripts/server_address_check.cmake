# The build's download server option: dotted IPv4 addresses (or none) pass, anything the
# program could not connect to is refused.  Each case configures in a child cmake.
cmake_minimum_required(VERSION 3.16)
foreach(case "127.0.0.1;ok" "203.0.113.7;ok" "255.255.255.255;ok" ";ok"
             "256.1.1.1;no" "1.2.3;no" "01.2.3.4;no" "1.2.3.4.5;no" "server.example;no"
             " 1.2.3.4;no")
  list(GET case 0 address)
  list(GET case 1 want)
  file(WRITE "${WORK}/CMakeLists.txt"
       "cmake_minimum_required(VERSION 3.16)\nproject(c NONE)\ninclude(${SOURCE}/cmake/ServerAddress.cmake)\n"
       "quorvel_check_server(\"${address}\" \"80\")\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -S "${WORK}" -B "${WORK}/b" RESULT_VARIABLE rc
                  OUTPUT_QUIET ERROR_QUIET)
  file(REMOVE_RECURSE "${WORK}/b")
  set(got no)
  if(rc EQUAL 0)
    set(got ok)
  endif()
  if(NOT got STREQUAL want)
    message(FATAL_ERROR "\"${address}\": configure ended ${rc}, wanted ${want}")
  endif()
endforeach()
