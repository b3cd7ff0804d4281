// Where the tests find this checkout's files and the built programs. One
// small file the build generates defines them (tests/CMakeLists.txt), so no
// other test file holds a path of this checkout, and the compiler cache
// serves those files to a checkout in any folder.
#pragma once

extern const char* const BRASTOK_SOURCE_DIR;      // the checkout
extern const char* const BRASTOK_FUZZ_DIR;        // fuzz/ of the checkout
extern const char* const BRASTOK_E2E_DIR;         // tests/e2e
extern const char* const BRASTOK_HOSTING_TESTDIR; // tests/hosting
extern const char* const BRASTOK_SERVER_BIN;
extern const char* const BRASTOK_CLIENT_BIN;
extern const char* const BRASTOK_REPLAY_BIN;
