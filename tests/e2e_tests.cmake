# End-to-end tests: each tests/e2e/*.cpp starts its own JACK server (dummy
# driver) and plays through the real sound and MIDI services. They run one
# at a time (label "e2e").
pkg_check_modules(JACK REQUIRED IMPORTED_TARGET jack)
file(GLOB e2e_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/e2e/*_test.cpp)
foreach(src ${e2e_sources})
  get_filename_component(name ${src} NAME_WE)
  set(target e2e_${name})
  add_executable(${target} ${src} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/jack_kit.cpp)
  target_link_libraries(${target} PRIVATE plexora_platform plexora_testkit PkgConfig::JACK
                        GTest::gtest_main)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  gtest_discover_tests(${target} PROPERTIES LABELS e2e RUN_SERIAL TRUE TIMEOUT 180
                       DISCOVERY_TIMEOUT 120 TEST_PREFIX "e2e.")
endforeach()

# The program itself, started as a user would under a private X server (only
# when the windows are built).
if(TARGET plexora)
  pkg_check_modules(X11_E2E REQUIRED IMPORTED_TARGET x11)
  add_executable(e2e_program ${CMAKE_CURRENT_SOURCE_DIR}/e2e/program.cpp
                             ${CMAKE_CURRENT_SOURCE_DIR}/e2e/jack_kit.cpp)
  target_link_libraries(e2e_program PRIVATE PkgConfig::JACK PkgConfig::X11_E2E GTest::gtest_main)
  target_include_directories(e2e_program PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(e2e_program PRIVATE PLEXORA_EXE="$<TARGET_FILE:plexora>")
  add_dependencies(e2e_program plexora graf_bin)
  gtest_discover_tests(e2e_program PROPERTIES LABELS e2e RUN_SERIAL TRUE TIMEOUT 180
                       DISCOVERY_TIMEOUT 120 TEST_PREFIX "e2e.")
endif()

# The mute test drives the real channel window (offscreen).
if(TARGET plexora_ui AND TARGET e2e_jack_mute_test)
  target_link_libraries(e2e_jack_mute_test PRIVATE plexora_ui)
endif()
