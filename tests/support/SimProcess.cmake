# tavrin_use_sim(<target>): lets a test start the device simulator through
# tests/support/SimProcess.h.
function(tavrin_use_sim target)
  target_compile_definitions(${target} PRIVATE TAVRIN_SIM_PATH="$<TARGET_FILE:tavrin-sim>")
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  add_dependencies(${target} tavrin-sim)
endfunction()

# tavrin_use_test_support(<target>): only the header-only helpers that need
# no simulator (FormFixture.h, LoopbackPeer.h).
function(tavrin_use_test_support target)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
endfunction()
