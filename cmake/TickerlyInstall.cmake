# Where `cmake --install` puts the deliverables, so a desktop finds them: the application in bin/
# with its desktop entry and icon under share/, the shared libraries in lib/, and the widget
# plug-in in lib/tickerly/, where its host looks for it.

set(TICKERLY_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/tickerly)

install(TARGETS TickerlyFoundation TickerlyLinkwork TickerlyAppKit TickerlyAPIMac TickerlyDataMac
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

set_target_properties(Tickerly_Widget_Mac PROPERTIES INSTALL_RPATH "$ORIGIN/..")
install(TARGETS Tickerly_Widget_Mac LIBRARY DESTINATION ${TICKERLY_PLUGIN_DIR})

# Installs into a temporary prefix and starts the program from there (needs the deliverables
# built, as a whole build does).
if(TICKERLY_TESTS)
    add_test(NAME install.program_starts_from_a_fresh_prefix
        COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/check-install.sh ${CMAKE_BINARY_DIR})
    # It starts X servers with xvfb-run -a, as the end-to-end session does.
    set_tests_properties(install.program_starts_from_a_fresh_prefix PROPERTIES
        LABELS integration TIMEOUT 300 RESOURCE_LOCK xvfb-display-number)
endif()
