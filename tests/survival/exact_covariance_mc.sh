#!/bin/sh
# The full Monte-Carlo check of the exact covariance: 20 000 simulated trials per design (the
# suite runs 2 000). Usage: tests/survival/exact_covariance_mc.sh [BUILD_DIR] [TRIALS]
build=${1:-build/release}
KESTREL_MC_TRIALS=${2:-20000} exec nice -n 15 "$build/test_survival" \
  --gtest_filter='InformationMonteCarlo.ExactCovarianceMatchesSimulatedScoresUnderTheAlternative'
