# Reference numbers of tests/boundaries/futility_test.cpp, written from rpact 3.3.4 (Debian
# r-cran-rpact): beta-spending futility designs for K = 2..5, spending codes 1-4, binding and not.
# Run: Rscript tools/rpact_futility_reference.R > table.inc
suppressMessages(library(rpact))
fam <- list(list(code = 1, a = "asOF", b = "bsOF", ga = NA, gb = NA),
            list(code = 2, a = "asP", b = "bsP", ga = NA, gb = NA),
            list(code = 3, a = "asKD", b = "bsKD", ga = 3, gb = 2),
            list(code = 4, a = "asHSD", b = "bsHSD", ga = -4, gb = -2))
f <- function(x) paste(formatC(x, digits = 12, format = "f"), collapse = ", ")
for (K in 2:5) for (fa in fam) for (binding in c(FALSE, TRUE)) {
  args <- list(kMax = K, alpha = 0.025, beta = 0.1, sided = 1, typeOfDesign = fa$a,
               typeBetaSpending = fa$b, informationRates = (1:K) / K, bindingFutility = binding)
  if (!is.na(fa$ga)) { args$gammaA <- fa$ga; args$gammaB <- fa$gb }
  d <- do.call(getDesignGroupSequential, args)
  s <- getSampleSizeSurvival(d, hazardRatio = 0.7, lambda2 = log(2) / 2, accrualTime = c(0, 1),
                             followUpTime = 1, allocationRatioPlanned = 1)
  cat(sprintf("    // getDesignGroupSequential(kMax = %d, alpha = 0.025, beta = 0.1, sided = 1,\n", K))
  cat(sprintf("    //   typeOfDesign = \"%s\", typeBetaSpending = \"%s\",%s informationRates = (1:%d)/%d,\n",
              fa$a, fa$b, if (is.na(fa$ga)) "" else sprintf(" gammaA = %g, gammaB = %g,", fa$ga, fa$gb), K, K))
  cat(sprintf("    //   bindingFutility = %s); getSampleSizeSurvival(design, hazardRatio = 0.7,\n", binding))
  cat("    //   lambda2 = log(2)/2, accrualTime = c(0, 1), followUpTime = 1, allocationRatioPlanned = 1)\n")
  cat(sprintf("    {%d, %d, %g, %g, %s,\n", K, fa$code, ifelse(is.na(fa$ga), 0, fa$ga), ifelse(is.na(fa$gb), 0, fa$gb), tolower(binding)))
  cat(sprintf("     {%s},\n     {%s},\n", f(d$criticalValues), f(d$futilityBounds)))
  cat(sprintf("     {%s},\n     {%s},\n", f(s$rejectPerStage[, 1]), f(s$futilityPerStage[, 1])))
  cat(sprintf("     %s, %s, %s, %s, %s},\n", f(s$maxNumberOfEvents), f(s$maxNumberOfSubjects),
              f(s$expectedEventsH1), f(s$expectedEventsH0), f(s$expectedNumberOfSubjectsH1)))
}
