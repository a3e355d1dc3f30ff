// The public engine: items and bins, both placers, the first-fit driver, the
// improvement search, the compression phase, the checker and the geometry
// kernel. The step functions of the placers' algorithms (no-fit polygons and
// their cache and union, the candidate search, the sweep of the slide) are
// the engine's own headers beside their sources.
#pragma once
#include "quarvo/cancel.hpp"
#include "quarvo/check.hpp"
#include "quarvo/compress.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/first_fit.hpp"
#include "quarvo/kernel.hpp"
#include "quarvo/options.hpp"
#include "quarvo/placer.hpp"
#include "quarvo/placer_bl.hpp"
#include "quarvo/placer_nfp.hpp"
#include "quarvo/search.hpp"
#include "quarvo/shapes.hpp"
