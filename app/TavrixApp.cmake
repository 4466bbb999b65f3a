# Included from the top-level CMakeLists.txt (not added as a subdirectory) so
# that the module's documents sit at "qrc:/qt/qml/Tavrix/qml/" and the
# catalogues at ":/i18n/", the paths the program loads them from.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Qml Quick QuickControls2 LinguistTools Test QuickTest)

set(CMAKE_AUTOMOC ON)

# The application's C++ lives in this library; it is also the backing target
# of the QML module, so its QML_ELEMENT types register with the module.
qt_add_library(tavrix_app STATIC)

set_source_files_properties(qml/Theme.qml PROPERTIES QT_QML_SINGLETON_TYPE TRUE)

set(tavrix_app_sources
  app/AppNames.h
  app/SettingsStore.h
  app/SettingsStore.cpp
  app/LanguageManager.h
  app/LanguageManager.cpp
  app/ClipboardHelper.h
  app/ClipboardHelper.cpp
  app/RenderGate.h
  app/RenderGate.cpp
  app/EngineBridge.h
  app/EngineBridge.cpp
  app/PanelItem.h
  app/PanelItem.cpp
  app/PanelRenderNode.h
  app/PanelRenderNode.cpp
  app/ReferralStore.h
  app/ReferralStore.cpp
  app/RecordingPaths.h
  app/RecordingPaths.cpp
)
# Every document and script library of the module.
set(tavrix_qml_files
  qml/Main.qml
  qml/Theme.qml
  qml/Toast.qml
  qml/ClipboardBridge.qml
  qml/Layouts.js
  qml/StartScreen.qml
  qml/LayoutTile.qml
  qml/TourSteps.js
  qml/Tour.qml
  qml/InviteCodeSheet.qml
  qml/AliasSheet.qml
  qml/TitleCard.qml
  qml/ClosingCard.qml
  qml/SavedCard.qml
  qml/MenuDrawer.qml
  qml/LiveShareSheet.qml
  qml/LanguageSheet.qml
  qml/DelayPanel.qml
  qml/SessionForm.qml
  qml/SessionScreen.qml
)
# The application icon, one copy in the program: the window icon and the
# recording cards read it from the module at "qrc:/qt/qml/Tavrix/icons/";
# the 48 px one also under the name the documents use, "../icons/tavrix.png".
set_source_files_properties(icons/tavrix-48.png PROPERTIES QT_RESOURCE_ALIAS icons/tavrix.png)
set(tavrix_resource_files
  icons/tavrix-48.png
  icons/tavrix-128.png
  icons/tavrix-256.png
)

qt_add_qml_module(tavrix_app
  URI Tavrix
  VERSION 1.0
  RESOURCE_PREFIX /qt/qml
  OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/qmlmodules/Tavrix
  SOURCES ${tavrix_app_sources}
  QML_FILES ${tavrix_qml_files}
  RESOURCES ${tavrix_resource_files}
)
target_include_directories(tavrix_app PUBLIC app)
target_link_libraries(tavrix_app PUBLIC
  Qt6::Core Qt6::Gui Qt6::Qml Qt6::Quick Qt6::QuickControls2
  lagwell_base
)
# The engine facade behind the Engine singleton.
if(TARGET lagwell_engine)
  target_link_libraries(tavrix_app PUBLIC lagwell_engine)
endif()

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
  SOURCES ${tavrix_app_sources} ${tavrix_qml_files}
  RESOURCE_PREFIX /i18n
  LUPDATE_OPTIONS -locations none -no-obsolete
)

# The program: start-up, graphics tiers, command line and screenshot mode in
# tavrix_shell (the tests link it), main() in the executable.
qt_add_library(tavrix_shell STATIC
  app/GraphicsTier.h
  app/GraphicsTier.cpp
  app/StartupOptions.h
  app/StartupOptions.cpp
  app/ScreenshotRun.h
  app/ScreenshotRun.cpp
  app/TerminationSignals.h
  app/TerminationSignals.cpp
)
target_include_directories(tavrix_shell PUBLIC app)
target_link_libraries(tavrix_shell PUBLIC Qt6::Core Qt6::Gui Qt6::Quick lagwell_base)

qt_add_executable(tavrix app/main.cpp)
target_link_libraries(tavrix PRIVATE tavrix_shell tavrix_app tavrix_appplugin Qt6::QuickControls2)

include(GNUInstallDirs)
install(TARGETS tavrix RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/tavrix.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/tavrix.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 128 256)
  install(FILES icons/tavrix-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tavrix.png)
endforeach()

if(TAVRIX_BUILD_TESTS)
  add_subdirectory(app/tests)
  add_subdirectory(qml/tests)
endif()
