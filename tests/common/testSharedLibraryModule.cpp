// A module for the loader's tests, built twice: each copy answers with its own number.

extern "C" int kiro_test_library_id() { return KIRO_TEST_LIBRARY_ID; }
