# Adds the sub-folders of the current folder that hold a CMakeLists.txt.
function(confabo_add_existing_subdirs)
  foreach(dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# confabo_test(NAME name SOURCES a.cpp ... [LIBS lib ...] [LABELS label ...] [QT_MAIN | WIDGETS_MAIN])
# One GoogleTest executable, registered with CTest test by test. QT_MAIN gives it a main() that
# creates a QGuiApplication (offscreen) first, for tests that need an event loop; WIDGETS_MAIN one
# that creates a QApplication, for tests of windows.
function(confabo_test)
  cmake_parse_arguments(T "QT_MAIN;WIDGETS_MAIN;RUN_SERIAL" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  if(T_WIDGETS_MAIN)
    set(main QtWidgetsTestMain)
  elseif(T_QT_MAIN)
    set(main QtTestMain)
  else()
    set(main GTest::gtest_main)
  endif()
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock ${main})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  # RUN_SERIAL: a test that judges timing runs with no other test beside it.
  if(T_RUN_SERIAL)
    set(serial TRUE)
  else()
    set(serial FALSE)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABELS}" TIMEOUT 120 RUN_SERIAL ${serial})
endfunction()
