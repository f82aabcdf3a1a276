# Precompiled headers for a clean build (Q274_PCH=ON). Parsing the Qt, standard
# and GoogleTest headers is about 70 % of compiling one of our files, and a
# clean tree (CI builds four) compiles some 200 of them. Three donor targets
# compile the headers once; every target of their kind reuses that, so a
# one-file test program costs no precompiling of its own. Off by default:
# with ccache an incremental build gains nothing and the donors' header would
# be one more input to every object.

set(q274_pch_core_headers
  <QtCore/QObject> <QtCore/QString> <QtCore/QStringList> <QtCore/QList> <QtCore/QByteArray>
  <QtCore/QDateTime> <QtCore/QTimer> <QtCore/QFile> <QtCore/QDir> <QtCore/QLocale> <QtCore/QVariant>
  <QtCore/QHash> <QtCore/QMap> <QtCore/QThread> <QtCore/QCoreApplication>
  <algorithm> <array> <atomic> <chrono> <cstdint> <cstring> <functional> <memory> <mutex>
  <optional> <string> <thread> <vector>)
set(q274_pch_gui_headers ${q274_pch_core_headers}
  <QtGui/QColor> <QtGui/QFont> <QtGui/QPainter> <QtGui/QPalette> <QtGui/QKeyEvent>
  <QtWidgets/QApplication> <QtWidgets/QWidget> <QtWidgets/QLabel> <QtWidgets/QPushButton>
  <QtWidgets/QComboBox> <QtWidgets/QLineEdit> <QtWidgets/QCheckBox> <QtWidgets/QGroupBox>)
set(q274_pch_test_headers ${q274_pch_gui_headers} <gtest/gtest.h>)

file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/q274_pch_donor.cpp CONTENT "// The donors' only source.\n")
add_library(q274_pch_core OBJECT ${CMAKE_BINARY_DIR}/q274_pch_donor.cpp)
target_link_libraries(q274_pch_core PRIVATE Qt6::Core Threads::Threads)
target_precompile_headers(q274_pch_core PRIVATE ${q274_pch_core_headers})
add_library(q274_pch_gui OBJECT ${CMAKE_BINARY_DIR}/q274_pch_donor.cpp)
target_link_libraries(q274_pch_gui PRIVATE Qt6::Widgets Threads::Threads)
target_precompile_headers(q274_pch_gui PRIVATE ${q274_pch_gui_headers})
if(Q274_TESTS)
  find_package(GTest REQUIRED)
  add_library(q274_pch_test OBJECT ${CMAKE_BINARY_DIR}/q274_pch_donor.cpp)
  target_link_libraries(q274_pch_test PRIVATE Qt6::Widgets GTest::gtest Threads::Threads)
  target_precompile_headers(q274_pch_test PRIVATE ${q274_pch_test_headers})
endif()

# Build-time tools are built without the sanitizers, so their flags differ
# from the donors'.
set(q274_pch_skip q274-mkmanual)

# Whether TARGET links a library matching PATTERN, through its own libraries
# too. A header precompiled with Qt's -fPIC, or with a Qt module's define, is
# refused by a target without them (it still builds, only slower).
function(q274_pch_uses target pattern out)
  set(${out} FALSE PARENT_SCOPE)
  get_target_property(libs ${target} LINK_LIBRARIES)
  foreach(lib ${libs})
    if(lib MATCHES "${pattern}")
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
    if(TARGET ${lib} AND lib MATCHES "^q274_")
      q274_pch_uses(${lib} "${pattern}" uses)
      if(uses)
        set(${out} TRUE PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
endfunction()

function(q274_pch_targets dir)
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub ${subdirs})
    q274_pch_targets(${sub})
  endforeach()
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${dir})
  string(REGEX REPLACE "/.*" "" top "${rel}")
  if(top MATCHES "^(tools|fuzz|packaging)$")
    return()
  endif()
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY)$" OR t IN_LIST q274_pch_skip)
      continue()
    endif()
    q274_pch_uses(${t} "^Qt6::" uses_qt)
    if(NOT uses_qt)
      continue()
    endif()
    q274_pch_uses(${t} "^Qt6::Widgets$" uses_widgets)
    q274_pch_uses(${t} "^GTest::" uses_gtest)
    if(uses_widgets AND uses_gtest AND TARGET q274_pch_test)
      set(donor q274_pch_test)
    elseif(uses_widgets)
      set(donor q274_pch_gui)
    else()
      set(donor q274_pch_core)
    endif()
    target_precompile_headers(${t} REUSE_FROM ${donor})
  endforeach()
endfunction()
q274_pch_targets(${PROJECT_SOURCE_DIR})
