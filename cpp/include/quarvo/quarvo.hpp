// The whole engine: kernel, shapes, no-fit polygons, their cache and union,
// the candidate search, both placers, the first-fit driver and the checker.
#pragma once
#include "quarvo/cancel.hpp"
#include "quarvo/candidate_search.hpp"
#include "quarvo/check.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/first_fit.hpp"
#include "quarvo/inner_fit.hpp"
#include "quarvo/kernel.hpp"
#include "quarvo/minkowski.hpp"
#include "quarvo/nfp.hpp"
#include "quarvo/nfp_cache.hpp"
#include "quarvo/nfp_union.hpp"
#include "quarvo/placer.hpp"
#include "quarvo/placer_bl.hpp"
#include "quarvo/placer_nfp.hpp"
#include "quarvo/shapes.hpp"
