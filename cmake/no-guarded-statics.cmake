# Fails when a library holds a function-local static whose first use is guarded: the guard
# allocates through the threads library without checking, so an allocation failure there ends
# the program. One-time set-up belongs to start-up instead.
#   cmake -DNM=<nm> -DLIBRARIES=<a;b;...> -P no-guarded-statics.cmake
foreach(library IN LISTS LIBRARIES)
  execute_process(COMMAND ${NM} -u ${library} OUTPUT_VARIABLE undefined RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${NM} could not read ${library}")
  elseif(undefined MATCHES "__cxa_guard_acquire")
    message(FATAL_ERROR "${library} keeps a guarded static")
  endif()
endforeach()
