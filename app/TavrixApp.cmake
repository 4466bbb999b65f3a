# Included from the top-level CMakeLists.txt (not added as a subdirectory) so
# that the module's documents sit at "qrc:/qt/qml/Tavrix/qml/" and the
# catalogues at ":/i18n/", the paths the program loads them from.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Qml Quick QuickControls2 LinguistTools Test QuickTest)

set(CMAKE_AUTOMOC ON)

# The application's C++ lives in this library; it is also the backing target
# of the QML module, so its QML_ELEMENT types register with the module.
qt_add_library(tavrix_app STATIC)

qt_add_qml_module(tavrix_app
  URI Tavrix
  VERSION 1.0
  RESOURCE_PREFIX /qt/qml
  SOURCES
    app/AppNames.h
    app/SettingsStore.h
    app/SettingsStore.cpp
    app/LanguageManager.h
    app/LanguageManager.cpp
)
target_include_directories(tavrix_app PUBLIC app)
target_link_libraries(tavrix_app PUBLIC
  Qt6::Core Qt6::Gui Qt6::Qml Qt6::Quick Qt6::QuickControls2
  lagwell_base
)

# Catalogues: "cmake --build build --target update_translations" refreshes the
# .ts files from the sources (i18n/update.sh does that and rebuilds); every
# build compiles them into ":/i18n/tavrix_<code>.qm".
qt_add_translations(tavrix_app
  TS_FILES
    i18n/tavrix_en.ts
    i18n/tavrix_fr.ts
    i18n/tavrix_de.ts
    i18n/tavrix_es.ts
    i18n/tavrix_it.ts
    i18n/tavrix_nl.ts
  RESOURCE_PREFIX /i18n
  LUPDATE_OPTIONS -locations none -no-obsolete
)

if(TAVRIX_BUILD_TESTS)
  add_subdirectory(app/tests)
  add_subdirectory(qml/tests)
endif()
