# The assumptions of a design beyond its record: the control arm's law in the form it was given,
# loss to follow-up, accrual pieces and the model, with the warnings for values that are legal
# but almost surely slips, and the lines and columns that show them.

control_forms <- c(median = 1L, control_hazard = 2L, survival_time = 3L)

# The control arm's survival of EP1 and EP2 at the end of the study, from `survival` (at the end,
# or at `survival_time`), `median` or `control_hazard`; exponential event times, so a median m is
# the hazard log(2)/m and a survival s at t the hazard -log(s)/t. Returns list(survival, control):
# `control` is NULL for survival at the end of the study, else list(form, time, value) as the
# deck's CONTROL statement holds it.
control_law <- function(survival, median, control_hazard, survival_time, accrual, follow_up) {
  given <- c(survival = !is.null(survival), median = !is.null(median),
             control_hazard = !is.null(control_hazard))
  if (sum(given) == 0L)
    stop(paste("the control arm is missing: give `survival` (control-arm survival of EP1 and",
               "EP2 at the end of the study, or at `survival_time`), `median` or",
               "`control_hazard`"), call. = FALSE)
  if (sum(given) > 1L)
    stop(sprintf("give the control arm once: %s were all given (choose one of `survival`, `median`, `control_hazard`)",
                 paste(sprintf("`%s`", names(given)[given]), collapse = " and ")), call. = FALSE)
  if (!is.null(survival_time) && !given[["survival"]])
    stop("`survival_time` goes with `survival` (the survival probabilities at that time)",
         call. = FALSE)
  both <- function(x) if (length(x) == 1L) c(x, x) else x
  end <- accrual + follow_up
  if (given[["survival"]] && is.null(survival_time)) {
    s <- check_open_unit(survival, "survival", 1:2,
                         "control-arm survival probabilities at the end of the study")
    return(list(survival = both(s), control = NULL))
  }
  if (given[["median"]]) {
    value <- both(check_range(median, "median", 0, Inf, "control-arm median survival times",
                              1:2, lower_open = TRUE))
    form <- 1L
    time <- 0
    hazard <- log(2) / value
  } else if (given[["control_hazard"]]) {
    value <- both(check_range(control_hazard, "control_hazard", 0, Inf,
                              "control-arm hazards per time unit", 1:2, lower_open = TRUE))
    form <- 2L
    time <- 0
    hazard <- value
  } else {
    time <- check_range(survival_time, "survival_time", 0, Inf,
                        "the time of the control-arm survival probabilities", lower_open = TRUE)
    value <- both(check_open_unit(survival, "survival", 1:2,
                                  sprintf("control-arm survival probabilities at time %s",
                                          format(time))))
    form <- 3L
    hazard <- -log(value) / time
  }
  # The same operations as the deck reader's, so a deck written with CONTROL reads back the same.
  s <- exp(-hazard * end)
  if (any(!(s > 0 & s < 1)))
    stop(sprintf(paste("the control arm gives the survival %s at the end of the study",
                       "(accrual + follow_up = %s), which must lie strictly between 0 and 1"),
                 show_value(s), format(end)), call. = FALSE)
  list(survival = s, control = list(form = form, time = time, value = as.numeric(value)))
}

# Warnings for loss to follow-up that is legal but almost surely a slip. `dropout` as given,
# `hazard` the hazards of loss (control, treatment), `end` the end of the study.
loss_warnings <- function(dropout, dropout_time, hazard, accrual, follow_up) {
  end <- accrual + follow_up
  if (is.null(dropout_time) && any(dropout > 1))
    warning(sprintf(paste0("`dropout` = %s is a hazard of loss above 1 per time unit (more than ",
                           "63%% lost within one time unit); for a percentage lost by a time, ",
                           "give `dropout` as a probability (0.05 for 5%%) with `dropout_time`"),
                    show_value(dropout)), call. = FALSE)
  if (!is.null(dropout_time) && dropout_time > end * (1 + 1e-12))
    warning(sprintf(paste0("`dropout_time` = %s lies beyond the end of the study (accrual + ",
                           "follow_up = %s): are `dropout_time` and the periods in the same time ",
                           "unit (12 months is 1 year)?"),
                    format(dropout_time), format(end)), call. = FALSE)
  lost <- vapply(hazard, lost_by_end, 0, accrual = accrual, follow_up = follow_up)
  if (any(lost > 0.5))
    warning(sprintf(paste0("the loss to follow-up loses %.0f%% of an arm's patients before the ",
                           "end of the study (on average over uniform entry): is `dropout` what ",
                           "you meant?"), 100 * max(lost)), call. = FALSE)
  invisible()
}

# The settings a design carries beyond its record, in the words of kestrel_design()'s arguments.
assumption_settings <- function(entry, exact) {
  el <- entry$entry_loss
  ctl <- entry$control
  out <- list(dropout = if (is.null(el)) c(0, 0) else el$dropout,
              dropout_time = if (!is.null(el) && isTRUE(el$dropout_time > 0)) el$dropout_time,
              dropout_probability = if (!is.null(el) && isTRUE(el$dropout_time > 0))
                el$dropout_probability,
              accrual_time = if (is.null(el) || length(el$accrual_end) < 2L) NULL else el$accrual_end,
              accrual_intensity = if (is.null(el) || length(el$accrual_end) < 2L) NULL
                                  else el$accrual_intensity,
              exact = isTRUE(exact), median = NULL, control_hazard = NULL, survival_time = NULL)
  if (!is.null(ctl)) {
    if (ctl$form == 1L) out$median <- ctl$value
    if (ctl$form == 2L) out$control_hazard <- ctl$value
    if (ctl$form == 3L) out$survival_time <- ctl$time
  }
  out
}

# Lines of print(): every assumption in force, the plain ones named as such.
assumption_lines <- function(x) {
  st <- x$settings
  v <- x$deck$values
  ctl <- x$deck$control
  end <- v$TA + v$TF
  lines <- character(0)
  if (!is.null(ctl)) {
    given <- switch(ctl$form,
                    sprintf("medians EP1 %s, EP2 %s", format(ctl$value[1]), format(ctl$value[2])),
                    sprintf("hazards EP1 %s, EP2 %s per time unit", format(ctl$value[1]),
                            format(ctl$value[2])),
                    sprintf("survival at time %s EP1 %s, EP2 %s", format(ctl$time),
                            format(ctl$value[1]), format(ctl$value[2])))
    lines <- c(lines, sprintf("  Control arm given as %s: survival at the end of the study (%s) EP1 %s, EP2 %s",
                              given, format(end), fmt(v$SRVR1, 4), fmt(v$SRVR2, 4)))
  }
  h <- st$dropout
  lines <- c(lines, if (all(h == 0)) "  Loss to follow-up: none" else {
    from <- if (is.null(st$dropout_time)) "" else
      sprintf(" (from %s lost by time %s)",
              paste(sprintf("%s%%", format(100 * st$dropout_probability)), collapse = "/"),
              format(st$dropout_time))
    sprintf("  Loss to follow-up: hazard per time unit control %s, treatment %s%s; a patient entering at the start is lost by the end of the study with probability %s/%s",
            format(signif(h[1], 6)), format(signif(h[2], 6)), from,
            sprintf("%.1f%%", 100 * (1 - exp(-h[1] * end))),
            sprintf("%.1f%%", 100 * (1 - exp(-h[2] * end))))
  })
  lines <- c(lines, if (is.null(st$accrual_time))
    sprintf("  Accrual: uniform over 0..%s", format(v$TA)) else
    sprintf("  Accrual in %d pieces ending at %s with relative intensities %s",
            length(st$accrual_time), paste(format(st$accrual_time), collapse = ", "),
            paste(format(st$accrual_intensity), collapse = ", ")))
  c(lines, if (isTRUE(st$exact))
    "  Model: exact (exact covariance under the alternative and exact bounds)" else
    "  Model: default")
}

# Columns of as.data.frame(): one value per design, repeated over its rows.
assumption_columns <- function(x, rows) {
  st <- x$settings
  pieces <- if (is.null(st$accrual_time)) "uniform" else
    paste(sprintf("%s:%s", as.character(st$accrual_time), as.character(st$accrual_intensity)),
          collapse = ", ")
  data.frame(survival_ep1 = rep(st$survival[1], rows), survival_ep2 = st$survival[2],
             dropout_control = st$dropout[1], dropout_treatment = st$dropout[2],
             accrual_pieces = pieces, model = if (isTRUE(st$exact)) "exact" else "default",
             stringsAsFactors = FALSE)
}

# Shares the simulated trials allocate: a ratio of two whole numbers up to 10:10 within 1e-4,
# randomised in blocks of the reduced ratio's size (2:1 in blocks of 3).
simulable_share <- function(share) {
  for (m in 2:20) for (c in 1:(m - 1))
    if (c <= 10 && m - c <= 10 && abs(share - c / m) <= 1e-4) return(TRUE)
  FALSE
}

# The share of an arm's patients lost before the end of the study, entry uniform over the accrual
# period: 1 - exp(-h f) (1 - exp(-h a)) / (h a).
lost_by_end <- function(h, accrual, follow_up) {
  if (h <= 0) return(0)
  1 - exp(-h * follow_up) * (if (accrual > 0) -expm1(-h * accrual) / (h * accrual) else 1)
}
