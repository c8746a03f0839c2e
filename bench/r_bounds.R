# Calling overhead of the R package: kestrel_bounds() at K = 3 and a small kestrel_design(), timed
# over repeated calls in one R session: the median of batches, in milliseconds per call, of the
# elapsed time and of the processor time of this process (user + system; on a shared machine the
# elapsed time also counts the other processes).
#   Rscript bench/r_bounds.R        (with the package installed)
suppressMessages(library(kestrel))

per_call_ms <- function(f, calls = 200L, batches = 7L) {
  f()  # warm up
  times <- vapply(seq_len(batches), function(i) {
    t <- system.time(for (j in seq_len(calls)) f())
    1000 * c(t[["elapsed"]], t[["user.self"]] + t[["sys.self"]]) / calls
  }, numeric(2))
  c(elapsed_median = stats::median(times[1, ]), elapsed_min = min(times[1, ]),
    cpu_median = stats::median(times[2, ]), cpu_min = min(times[2, ]))
}

bounds_k3 <- function() kestrel_bounds(times = c(1, 2, 3) / 3, spending = sf_obf())
cat("kestrel_bounds, K = 3, O'Brien-Fleming type, ms per call:\n")
print(round(per_call_ms(bounds_k3), 3))
# The same table straight from the compiled entry point: what is left is the calculation itself.
args <- c("--times", paste(sprintf("%.17g", c(1, 2, 3) / 3), collapse = ","), "--spending", "1")
direct_k3 <- function() .Call(kestrel:::kestrel_bounds_table, args)
cat("the compiled entry point alone, ms per call:\n")
print(round(per_call_ms(direct_k3), 3))

design_k1 <- function() {
  kestrel_design(hr = c(0.7, 0.75), rho = 0.5, looks = 5, timing = "calendar", accrual = 2,
                 follow_up = 3, survival = c(0.3, 0.4))
}
cat("kestrel_design, one calendar analysis, ms per call:\n")
print(round(per_call_ms(design_k1, calls = 5L, batches = 3L), 1))
