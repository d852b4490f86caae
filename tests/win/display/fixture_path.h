// Where make_display_fixtures writes the display tests' images and pages
// (FIXTURE_DIR, set by the build for every program that reads them).
#ifndef TESTS_WIN_DISPLAY_FIXTURE_PATH_H
#define TESTS_WIN_DISPLAY_FIXTURE_PATH_H

#include <string>

inline std::string FixturePath(const std::string& name) { return std::string(FIXTURE_DIR) + "/" + name; }

#endif
