#include "pointscreens/QuovaButtonWithURL.hpp"
