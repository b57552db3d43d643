# A part that only some builds need (benchmarks, tests that call a tool) is built where all it
# needs was found and otherwise left out with one line saying what to install, so a missing
# extra never stops the program and its tests from configuring.
function(ostrim_leave_out part packages)
  message(STATUS "${part} left out: install ${packages} to build it")
endfunction()
