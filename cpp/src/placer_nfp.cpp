#include "quarvo/placer_nfp.hpp"
