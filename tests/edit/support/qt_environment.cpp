#include "gui_test_env.h"

static ::testing::Environment* const qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new testenv::QtEnvironment);
