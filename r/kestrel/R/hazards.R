# Piecewise hazards of an endpoint: constructors in the style of the spending objects, their
# checks, and what the core and the deck take of them.

new_hazards <- function(start, hazard, hr, survival_time = NULL, survival = NULL) {
  structure(list(time = as.numeric(start), hazard = as.numeric(hazard), hr = as.numeric(hr),
                 survival_time = survival_time, survival = survival),
            class = "kestrel_hazards")
}

# Pieces starting at `time` (the first 0, increasing; 1 to 10 pieces), the control hazard of each
# piece per time unit and its hazard ratio, treatment over control (one value: every piece).
hz_piecewise <- function(time = 0, hazard, hr) {
  time <- check_numbers(time, "time", 1:10)
  if (time[1L] != 0 || any(diff(time) <= 0))
    arg_error("time", "the starts of the pieces: 0 first, then increasing", time)
  m <- length(time)
  hazard <- check_numbers(hazard, "hazard", m)
  if (any(hazard <= 0)) arg_error("hazard", "control hazards above 0, one per piece", hazard)
  hr <- check_numbers(hr, "hr", c(1L, m))
  if (any(hr <= 0)) arg_error("hr", "hazard ratios above 0 (treatment over control)", hr)
  new_hazards(time, hazard, rep_len(hr, m))
}

# The control arm's survival at stated times (increasing, above 0; survival decreasing in (0, 1)):
# piece p runs from time[p - 1] (0 for the first) with the hazard that joins the stated survivals;
# the last piece keeps its hazard after the last time.
hz_survival <- function(time, survival, hr) {
  time <- check_numbers(time, "time", 1:10)
  if (time[1L] <= 0 || any(diff(time) <= 0))
    arg_error("time", "times above 0, increasing", time)
  m <- length(time)
  survival <- check_numbers(survival, "survival", m)
  if (any(survival <= 0 | survival >= 1) || any(diff(survival) >= 0))
    arg_error("survival", "control survivals in (0, 1), decreasing, one per time", survival)
  hr <- check_numbers(hr, "hr", c(1L, m))
  if (any(hr <= 0)) arg_error("hr", "hazard ratios above 0 (treatment over control)", hr)
  hazard <- -diff(log(c(1, survival))) / diff(c(0, time))
  new_hazards(c(0, time[-m]), hazard, rep_len(hr, m), survival_time = as.numeric(time),
              survival = as.numeric(survival))
}

print.kestrel_hazards <- function(x, ...) {
  cat("Piecewise hazards:\n")
  print(data.frame(time = x$time, hazard = x$hazard, hr = x$hr), row.names = FALSE)
  invisible(x)
}

# `hazards` of kestrel_design(): NULL, or a list of two (EP1, EP2), each NULL, a hz_* object or a
# data frame / list with `time`, `hazard` and `hr`. Returns the list of two as the core takes it.
check_hazards <- function(hazards, endpoints = 2L) {
  if (is.null(hazards)) return(NULL)
  if (inherits(hazards, "kestrel_hazards") || is.data.frame(hazards) ||
      (is.list(hazards) && all(c("time", "hazard", "hr") %in% names(hazards))))
    hazards <- list(hazards)
  if (!is.list(hazards) || !(length(hazards) %in% seq_len(endpoints)))
    arg_error("hazards", if (endpoints == 2L) "a list of two (EP1, EP2), each NULL, hz_piecewise(), hz_survival() or a data frame with time, hazard and hr"
                         else "hz_piecewise(), hz_survival() or a data frame with time, hazard and hr",
              hazards)
  out <- lapply(hazards, function(h) {
    if (is.null(h) || inherits(h, "kestrel_hazards")) return(h)
    if (!is.list(h) || !all(c("time", "hazard", "hr") %in% names(h)))
      arg_error("hazards", "hz_piecewise(), hz_survival() or a data frame with time, hazard and hr", h)
    hz_piecewise(h$time, h$hazard, h$hr)
  })
  if (all(vapply(out, is.null, logical(1)))) return(NULL)
  length(out) <- endpoints
  out
}

# The HAZARDS statement of endpoint `ep` ("EP1", "EP2") for the deck.
hazards_statement <- function(h, ep) {
  reals <- function(x) paste(deck_real(x), collapse = " ")
  if (!is.null(h$survival_time))
    return(paste("HAZARDS", ep, "SURVIVAL", length(h$survival_time), reals(h$survival_time),
                 reals(h$survival), reals(h$hr)))
  m <- length(h$hazard)
  paste("HAZARDS", ep, m, if (m > 1L) reals(h$time[-1L]) else NULL, reals(h$hazard), reals(h$hr))
}

# Survival of arm `arm` ("control", "treatment") at times t under the pieces.
hazards_survival <- function(h, t, arm) {
  rate <- if (arm == "control") h$hazard else h$hazard * h$hr
  ends <- c(h$time[-1L], Inf)
  vapply(t, function(x) exp(-sum(rate * pmax(0, pmin(x, ends) - h$time))), numeric(1))
}
