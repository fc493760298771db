# The parameter window, its grid and editors, the calibration dialog and the
# menu entry: Qt 6 Widgets on top of the descriptors and the timer.
find_package(Qt6 REQUIRED COMPONENTS Widgets Test)

file(GLOB ZARVIK_PARAMS_UI_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/ParamFrame*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Grid*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CalculateForm*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AppWidget*.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MenuEntry*.cpp)
file(GLOB ZARVIK_PARAMS_UI_HEADERS CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/ParamFrame*.h
  ${CMAKE_CURRENT_LIST_DIR}/Grid*.h
  ${CMAKE_CURRENT_LIST_DIR}/CalculateForm*.h
  ${CMAKE_CURRENT_LIST_DIR}/AppWidget*.h
  ${CMAKE_CURRENT_LIST_DIR}/MenuEntry*.h)

add_library(zarvik_params_ui STATIC ${ZARVIK_PARAMS_UI_SOURCES} ${ZARVIK_PARAMS_UI_HEADERS})
set_target_properties(zarvik_params_ui PROPERTIES AUTOMOC ON)
target_compile_definitions(zarvik_params_ui PUBLIC QT_NO_CONTEXTLESS_CONNECT)
# zarvik_library is added after this folder; link it by name.
target_link_libraries(zarvik_params_ui PUBLIC zarvik_params zarvik_timer zarvik_library Qt6::Widgets)

# The shared library picks the window layer up through this list.
set(ZARVIK_LIBRARY_EXTRA_LIBS zarvik_params_ui CACHE INTERNAL "Window layer linked into ZarvikTrk")
