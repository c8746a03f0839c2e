# kestrel_bounds(): the boundary calculator of one endpoint; the table of `kestrel bounds --csv`.

kestrel_bounds <- function(alpha = 0.025, sides = 1, spending = sf_obf(), times = 1, power = 0.9,
                           hr = 0.7, accrual = 1, follow_up = 1, survival = 0.5,
                           allocation = 0.5, exact = FALSE, dropout = 0, dropout_time = NULL,
                           accrual_time = NULL, accrual_intensity = NULL, median = NULL,
                           control_hazard = NULL, survival_time = NULL, hazards = NULL,
                           futility = NULL, binding = FALSE) {
  sides <- check_choice(sides, "sides", c(one = 1L, two = 2L))
  # The limits of the deck checks and kestrel_design(), per side: a one-sided level from 1e-6
  # to 0.5, a power above it.
  alpha <- check_range(alpha, "alpha", 1e-6 * sides, 0.5 * sides,
                       if (sides == 1L) "a one-sided significance level"
                       else "a two-sided significance level (both sides together)")
  spending <- check_spending(spending, pair = FALSE)
  times <- check_looks(times, "times", 25L, 1, "information fractions (1 to 25 of them)")
  check_cumulative(spending, "spending", length(times), alpha)
  power <- check_open_unit(power, "power", what = "a power")
  if (power <= alpha / sides)
    arg_error("power", sprintf("above the one-sided significance level %s", format(alpha / sides)),
              power)
  hr <- check_range(hr, "hr", 0, Inf, "a hazard ratio (treatment over control)",
                    lower_open = TRUE)
  if (hr == 1) arg_error("hr", "a hazard ratio other than 1", hr)
  accrual <- check_range(accrual, "accrual", 0, Inf, "an accrual period")
  follow_up <- check_range(follow_up, "follow_up", 0, Inf, "a follow-up period")
  if (accrual + follow_up <= 0)
    arg_error("follow_up", "above 0 when `accrual` is 0 (the study must last some time)",
              follow_up)
  # The control arm: survival at the end of the study (default), at `survival_time`, a median
  # or a hazard, converted to the survival at the end of the study as kestrel_design() does.
  if (!is.null(median) || !is.null(control_hazard)) {
    if (!missing(survival))
      stop("give the control arm once: `survival` and `median` or `control_hazard` were both given",
           call. = FALSE)
    survival <- NULL
  }
  for (arg in c("survival", "median", "control_hazard")) {
    v <- get(arg)
    if (!is.null(v) && length(v) != 1L) arg_error(arg, "a single value (one endpoint)", v)
  }
  law <- control_law(survival, median, control_hazard, survival_time, accrual, follow_up)
  allocation <- check_open_unit(allocation, "allocation", what = "the treatment share")
  # The values checked, as the calculator's request; the control arm in the form given (the core
  # converts it to the survival at the end of the study, as the program does).
  request <- list(alpha = as.numeric(alpha), sides = as.integer(sides),
                  spending = as.integer(spending$code),
                  phi = if (spending$code %in% c(3L, 4L)) as.numeric(spending$phi),
                  cumulative = if (spending$code == 5L) as.numeric(spending$cumulative),
                  times = as.numeric(times), power = as.numeric(power), hr = as.numeric(hr),
                  accrual = as.numeric(accrual), follow_up = as.numeric(follow_up),
                  survival = as.numeric(law$survival[1L]), control = law$control,
                  allocation = as.numeric(allocation), exact = check_flag(exact, "exact"),
                  dropout = c(0, 0), accrual_end = numeric(), accrual_intensity = numeric(),
                  hazards = NULL, futility = NULL)
  # Loss to follow-up and accrual pieces, checked as kestrel_design checks them.
  el <- entry_loss(dropout, dropout_time, accrual_time, accrual_intensity, accrual, follow_up)
  if (!is.null(el)) {
    request$dropout <- as.numeric(el$dropout)
    if (length(el$accrual_end) > 1L) {
      request$accrual_end <- as.numeric(el$accrual_end)
      request$accrual_intensity <- as.numeric(el$accrual_intensity)
    }
  }
  # Piecewise hazards of the endpoint (hz_piecewise(), hz_survival() or a data frame).
  hz <- check_hazards(hazards, endpoints = 1L)[[1L]]
  if (!is.null(hz))
    request["hazards"] <- list(list(time = as.numeric(hz$time), hazard = as.numeric(hz$hazard),
                                    hr = as.numeric(hz$hr)))
  # Futility stops at the interim analyses, checked as kestrel_design() checks them.
  request["futility"] <- list(check_futility(futility, binding, length(times), power, sides))
  out <- tryCatch(.Call(kestrel_bounds_table, request), error = futility_refusal)
  for (w in out$warnings) warning(w, call. = FALSE)
  if (!out$converged)
    warning("the drift search did not reach the power; drift, events and subjects are not reliable",
            call. = FALSE)
  table <- as.data.frame(out$table, stringsAsFactors = FALSE)
  if (sides == 1L) {
    # A one-sided design has no lower bound (the core carries -8 in its place).
    table$lower <- NA_real_
    table$nominal_lower <- NA_real_
  }
  table
}
