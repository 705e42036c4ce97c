# Tests that drive the real windows on Qt's offscreen platform: one program
# per tests/ui/*.cpp, label "ui".
if(NOT TARGET plexora_ui)
  return()
endif()
find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(plexora_uikit STATIC ${CMAKE_CURRENT_SOURCE_DIR}/ui/support/uikit.cpp)
target_link_libraries(plexora_uikit PUBLIC plexora_ui plexora_testkit GTest::gtest)
target_include_directories(plexora_uikit PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/ui)

file(GLOB ui_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.cpp)
foreach(src ${ui_sources})
  get_filename_component(name ${src} NAME_WE)
  add_executable(ui_${name} ${src})
  target_link_libraries(ui_${name} PRIVATE plexora_uikit)
  gtest_discover_tests(ui_${name} TEST_PREFIX "ui." DISCOVERY_TIMEOUT 120
                       PROPERTIES LABELS ui ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endforeach()
