#include "vell/tavo/value.hpp"
