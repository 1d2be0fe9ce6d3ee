# `cmake --install build [--prefix DIR]`: the programs, the two libraries, and the desktop entry
# with its icon. Included after every folder has defined its targets.
include(GNUInstallDirs)

set(_confabo_programs)
foreach(program confabo confabo-cli confabo-service)
  if(TARGET ${program})
    list(APPEND _confabo_programs ${program})
  endif()
endforeach()
set(_confabo_libraries)
foreach(library confabo_lib pixmill)
  if(TARGET ${library})
    list(APPEND _confabo_libraries ${library})
  endif()
endforeach()

# The libraries beside bin/ wherever the tree is installed, and the configured library folder by
# its absolute path: a program with file capabilities runs in secure-execution mode, where the
# loader ignores $ORIGIN (so give CMAKE_INSTALL_PREFIX when configuring, not only --prefix at
# install time). libconfabo finds libpixmill beside itself.
set_target_properties(${_confabo_programs} ${_confabo_libraries} PROPERTIES
  INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR};${CMAKE_INSTALL_FULL_LIBDIR}")
install(TARGETS ${_confabo_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${_confabo_libraries} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

if(TARGET confabo)
  set(_resources ${PROJECT_SOURCE_DIR}/client/resources)
  install(FILES ${_resources}/confabo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${_resources}/confabo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${_resources}/confabo-48.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
    RENAME confabo.png)
  install(FILES ${_resources}/confabo-256.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
    RENAME confabo.png)
endif()

# The data port defaults to 80, which only a privileged program may bind on Linux: installed as
# root, the two clients get the one capability that allows it. Without root or setcap the install
# still succeeds and says how to choose a port of 1024 or above instead.
install(CODE "set(_confabo_bindir \"${CMAKE_INSTALL_BINDIR}\")")
install(CODE [[
  set(_targets)
  foreach(_name confabo confabo-cli)
    set(_path "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${_confabo_bindir}/${_name}")
    if(IS_ABSOLUTE "${_confabo_bindir}")
      set(_path "$ENV{DESTDIR}${_confabo_bindir}/${_name}")
    endif()
    if(EXISTS "${_path}")
      list(APPEND _targets "${_path}")
    endif()
  endforeach()
  execute_process(COMMAND id -u OUTPUT_VARIABLE _uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  find_program(_setcap setcap PATHS /usr/sbin /sbin)
  set(_advice "the clients can then bind only data ports of 1024 or above (choose one in Setup, the same for every buddy)")
  if(NOT _targets)
  elseif(NOT _uid STREQUAL "0")
    message(STATUS "Not installing as root: no cap_net_bind_service for ${_targets}; ${_advice}")
  elseif(NOT _setcap)
    message(WARNING "setcap not found (Debian package libcap2-bin): no cap_net_bind_service; ${_advice}")
  else()
    foreach(_path ${_targets})
      execute_process(COMMAND "${_setcap}" cap_net_bind_service=+ep "${_path}"
        RESULT_VARIABLE _result ERROR_VARIABLE _error)
      if(_result EQUAL 0)
        message(STATUS "Capability cap_net_bind_service: ${_path}")
      else()
        message(WARNING "setcap failed on ${_path} (${_error}); ${_advice}")
      endif()
    endforeach()
  endif()
]])
