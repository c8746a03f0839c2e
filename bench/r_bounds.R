# Calling overhead of the R package: kestrel_bounds() at K = 3 and a small kestrel_design(), timed
# over repeated calls in one R session (the median of batches, in milliseconds per call).
#   Rscript bench/r_bounds.R        (with the package installed)
suppressMessages(library(kestrel))

per_call_ms <- function(f, calls = 200L, batches = 7L) {
  f()  # warm up
  times <- vapply(seq_len(batches), function(i) {
    t <- system.time(for (j in seq_len(calls)) f())[["elapsed"]]
    1000 * t / calls
  }, numeric(1))
  c(median = stats::median(times), min = min(times), max = max(times))
}

bounds_k3 <- function() kestrel_bounds(times = c(1, 2, 3) / 3, spending = sf_obf())
cat("kestrel_bounds, K = 3, O'Brien-Fleming type, ms per call:\n")
print(round(per_call_ms(bounds_k3), 3))

design_k1 <- function() {
  kestrel_design(hr = c(0.7, 0.75), rho = 0.5, looks = 5, timing = "calendar", accrual = 2,
                 follow_up = 3, survival = c(0.3, 0.4))
}
cat("kestrel_design, one calendar analysis, ms per call:\n")
print(round(per_call_ms(design_k1, calls = 5L, batches = 3L), 1))
