# Builds pathdrop.exe in two fresh trees at paths of different lengths and
# checks that both are byte for byte the program of the tree under test: the
# exe holds no time stamp and no build path.
# cmake -P, with SOURCE_DIR, WORK_DIR, TOOLCHAIN, BUILD_TYPE and EXPECTED set.
file(REMOVE_RECURSE ${WORK_DIR})
foreach(tree a second-tree-with-a-longer-path)
  set(binary_dir ${WORK_DIR}/${tree})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${binary_dir}
      -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DBUILD_TESTING=OFF
    RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "configuring ${binary_dir} failed")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${binary_dir} --target pathdrop
    RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "building ${binary_dir} failed")
  endif()
  file(SHA256 ${binary_dir}/pathdrop.exe built)
  file(SHA256 ${EXPECTED} expected)
  if(NOT built STREQUAL expected)
    message(FATAL_ERROR "${binary_dir}/pathdrop.exe differs from ${EXPECTED}")
  endif()
  message("${binary_dir}/pathdrop.exe is identical: sha256 ${built}")
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
