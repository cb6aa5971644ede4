#include "UI/plot_data.h"

#include <gtest/gtest.h>
