#include "quarvo/first_fit.hpp"
