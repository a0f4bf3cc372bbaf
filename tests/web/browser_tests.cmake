# The web console in headless Chromium against the real driver on its emulator
# (tests/web/browser/console_browser_test.py, standard library only); skipped
# when Chromium is not installed. Screenshots go to ${CMAKE_BINARY_DIR}/artifacts.
# The system's python3, as the other tests use, not a user's shim.
find_program(QM_SYSTEM_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(QM_SYSTEM_PYTHON3 NAMES python3 REQUIRED)
add_test(NAME WebConsoleBrowser
         COMMAND ${QM_SYSTEM_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/browser/console_browser_test.py
                 --driver $<TARGET_FILE:qmdriver> --template ${CMAKE_SOURCE_DIR}/packaging/qmdriver.cfg
                 --artifacts ${CMAKE_BINARY_DIR}/artifacts)
set_tests_properties(WebConsoleBrowser PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
