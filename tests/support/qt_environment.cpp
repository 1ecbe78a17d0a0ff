// The one QApplication of every window test program, set up before its first test.
#include "gui_test_env.h"

static ::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new testenv::QtEnvironment);
