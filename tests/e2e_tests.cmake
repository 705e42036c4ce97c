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
