# Brings the updater stub of a Win32 build folder up to date for a native
# qa2 to carry: configures BUILD as scripts/test-all.sh configures
# build-win32 when it has no cache yet, then builds UPDATE.EXE alone.
#   cmake -DSOURCE=... -DBUILD=... -DGENERATOR=... -P build-stub.cmake
if(NOT EXISTS "${BUILD}/CMakeCache.txt")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BUILD} -G ${GENERATOR}
            -DCMAKE_TOOLCHAIN_FILE=${SOURCE}/cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
    RESULT_VARIABLE rc OUTPUT_QUIET)
  if(rc)
    message(FATAL_ERROR "cannot configure the Win32 build in ${BUILD}")
  endif()
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD} --target updater_exe --parallel 2
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "cannot build the updater stub in ${BUILD}")
endif()
