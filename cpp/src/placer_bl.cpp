#include "quarvo/placer_bl.hpp"
