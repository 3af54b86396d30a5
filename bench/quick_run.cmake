# Runs the benchmark in quick mode (cmake -P, with EMULATOR and BENCH set):
# it must end with 0 and print every section's table with a figure in it.
execute_process(COMMAND ${EMULATOR} ${BENCH} --quick
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
message("${output}${errors}")
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the benchmark ended with ${result}")
endif()
# A section's title, its note, then its table: the header, the rule and a
# first row of figures.
foreach(section "Drop intake;100" "Where the floor goes;100" "Clipboard export;100"
                "Relay;2" "Start-up;pathdrop.exe")
  list(GET section 0 title)
  list(GET section 1 first_cell)
  if(NOT output MATCHES "### ${title}\n\n[^\n]+\n\n\\|[^\n]+\n\\|[^\n]+\n\\| ${first_cell} +\\| +[0-9]")
    message(FATAL_ERROR "no table of figures under \"${title}\"")
  endif()
endforeach()
