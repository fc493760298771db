# Precompiled headers for the heavy third-party headers (GoogleTest, Qt
# Widgets, nlohmann-json, CLI11), per target: each target's header is built
# with that target's own flags, so sanitizers, Qt's keyword switches and the
# x87 flags never disagree with it. Worth it where a target compiles several
# sources that include them (one header costs about two such sources); in a
# unity build a target compiles one batch per eight sources, so only targets
# of more than three batches get one.
# -DZARVIK_PCH=OFF builds without.
option(ZARVIK_PCH "Precompile the heavy third-party headers" ON)

set(ZARVIK_PCH_gtest <gtest/gtest.h>)
set(ZARVIK_PCH_qt <QApplication> <QDialog> <QLabel> <QPushButton> <QTimer> <QThread>
                  <QMessageBox> <QSpinBox> <QComboBox> <QLineEdit> <QPainter> <QString>)
set(ZARVIK_PCH_json <nlohmann/json.hpp>)
set(ZARVIK_PCH_cli <CLI/CLI.hpp>)

# zarvik_precompile(target kind...): kinds are gtest, qt, json, cli.
function(zarvik_precompile target)
  if(NOT ZARVIK_PCH)
    return()
  endif()
  get_target_property(unity ${target} UNITY_BUILD)
  if(unity)
    get_target_property(sources ${target} SOURCES)
    list(FILTER sources INCLUDE REGEX "\\.(cpp|cc|cxx)$")
    list(LENGTH sources count)
    if(count LESS_EQUAL 24)
      return()
    endif()
  endif()
  set(headers)
  foreach(kind IN LISTS ARGN)
    list(APPEND headers ${ZARVIK_PCH_${kind}})
  endforeach()
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()
