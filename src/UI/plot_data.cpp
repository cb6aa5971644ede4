#include "UI/plot_data.h"
