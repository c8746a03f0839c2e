# kestrel_design(): one two-endpoint design from named arguments, calculated by the C++ core.

rule_codes <- c(any = 1L, same = 2L, sequence = 3L, final = 4L)
rule_titles <- c("both endpoints at any analyses (not necessarily the same)",
                 "both endpoints at the same analysis",
                 "fixed sequence: EP1, then EP2 from that analysis on",
                 "EP1 at any analysis, EP2 only at the final analysis")
copula_codes <- c(clayton = 1L, stable = 2L, frank = 3L)
copula_titles <- c("Clayton", "positive stable", "Frank")
competing_codes <- c(none = 1L, one = 2L, both = 3L)
critical_codes <- c(ep1 = 1L, ep2 = 2L, own = 3L)
timing_codes <- c(information = 1L, information_ep2 = 2L, calendar = 3L)

# The deck values of a design (as read: hazard ratios control over treatment) and its spending
# statements, from the named arguments.
design_entry <- function(hr, rho, looks, timing, rule, alpha, power, copula, competing,
                        composite, critical, accrual, follow_up, survival, allocation,
                        spending, n, nsim, hr_sim, rho_sim, censor) {
  searched <- is.null(n)
  hr <- check_hazard_ratios(hr, "hr", searched)
  hr_sim <- check_hazard_ratios(hr_sim, "hr_sim", allow_one = TRUE)
  rho <- check_range(rho, "rho", 0, 1, "a correlation of the event times", upper_open = TRUE)
  rho_sim <- check_range(rho_sim, "rho_sim", 0, 1, "a correlation of the event times",
                         upper_open = TRUE)
  timing <- check_choice(timing, "timing", timing_codes)
  rule <- check_choice(rule, "rule", rule_codes)
  copula <- check_choice(copula, "copula", copula_codes)
  competing <- check_choice(competing, "competing", competing_codes)
  critical <- check_choice(critical, "critical", critical_codes)
  composite <- check_flag(composite, "composite")
  censor <- check_flag(censor, "censor")
  alpha <- check_range(alpha, "alpha", 1e-6, 0.5, "a one-sided significance level")
  power <- check_open_unit(power, "power", what = "a power")
  if (power <= alpha) arg_error("power", sprintf("above `alpha` = %s", format(alpha)), power)
  accrual <- check_range(accrual, "accrual", 0, Inf, "an accrual period", lower_open = TRUE)
  follow_up <- check_range(follow_up, "follow_up", 0, Inf, "a follow-up period after accrual")
  survival <- check_open_unit(survival, "survival", 1:2,
                              "control-arm survival probabilities at the end of the study")
  if (length(survival) == 1L) survival <- c(survival, survival)
  allocation <- check_open_unit(allocation, "allocation", what = "the treatment share")
  nsim <- check_whole(nsim, "nsim", 0, 1e7)
  if (nsim > 0 && !simulable_share(allocation))
    arg_error("allocation", paste("a ratio of two whole numbers up to 10:10 (such as 0.5, 2/3 or",
                                  "0.6) when trials are simulated (`nsim` > 0)"), allocation)
  if (!is.null(n)) n <- check_whole(n, "n", 1, .Machine$integer.max)
  # A simulated trial holds every subject in memory (about 330 bytes each).
  if (!is.null(n) && nsim > 0 && n > 1e6)
    arg_error("n", "at most 1000000 subjects when trials are simulated (`nsim` > 0)", n)
  # A final look written as accrual + follow_up is not refused for a rounding of the sum.
  end <- accrual + follow_up
  looks <- if (timing == 3L)
    check_looks(looks, "looks", 10L, end + 4 * abs(end) * .Machine$double.eps,
                "calendar times (timing = \"calendar\") up to accrual + follow_up")
  else check_looks(looks, "looks", 10L, 1, "information fractions")
  if (timing != 3L && looks[length(looks)] != 1)
    arg_error("looks", paste("information fractions whose last must be 1 (the final analysis",
                             "is at full information)"), looks)
  spending <- check_spending(spending)
  K <- length(looks)
  for (i in 1:2) check_cumulative(spending[[i]], sprintf("spending (EP%d)", i), K, alpha)
  values <- list(NSIM = nsim, ITIME = timing, CPL = copula, CPRSK = competing,
                 CMPST = if (composite) 2L else 1L, MSSG = if (is.null(n)) 0L else n,
                 HR1 = 1 / hr[1L], HR2 = 1 / hr[2L], RHO = rho,
                 HR1TR = 1 / hr_sim[1L], HR2TR = 1 / hr_sim[2L], RHOTR = rho_sim,
                 TA = accrual, TF = follow_up, SRVR1 = survival[1L], SRVR2 = survival[2L],
                 SR = allocation, CNSRD = if (censor) 1L else 0L, TYPE1 = alpha, RSV1 = 0,
                 POWER = power, DF = rule, LOOK = K, CRIVL = critical,
                 ESF1 = spending_statement(spending[[1L]])$deck_code,
                 ESF2 = spending_statement(spending[[2L]])$deck_code, TLOOK = looks)
  sets <- if (timing == 1L) 2L else 1L
  statements <- rep(list(list(spending_statement(spending[[1L]]),
                              spending_statement(spending[[2L]]))), sets)
  list(number = 1L, values = values, spending = statements)
}

check_options <- function(seed, mvn_accuracy, verbose, exact = FALSE, simulated = TRUE,
                          under_nulls = FALSE) {
  exact <- check_flag(exact, "exact")
  under_nulls <- check_flag(under_nulls, "under_nulls")
  # Without a seed, R's random stream gives one: set.seed() then repeats a simulation. A
  # calculation without simulated trials draws nothing and leaves R's stream alone.
  seed <- if (!is.null(seed)) check_whole(seed, "seed", 1, 2147483646) else
    if (simulated) sample.int(2147483646L, 1L) else NULL
  if (!is.null(mvn_accuracy))
    mvn_accuracy <- check_range(mvn_accuracy, "mvn_accuracy", 1e-10, 1e-4,
                                "an accuracy of the normal probabilities")
  if (!(isTRUE(verbose) || isFALSE(verbose) || identical(verbose, "trace")))
    arg_error("verbose", 'TRUE (progress lines), FALSE or "trace" (the calculation\'s own trace)',
              verbose)
  list(seed = seed, mvn_accuracy = mvn_accuracy, verbose = verbose, exact = exact,
       under_nulls = under_nulls)
}

# Readable progress lines from the calculation's console trace: what is being calculated and how
# far it got. `labels` lists, per design, the sets it evaluates.
progress_reporter <- function(labels, nsim) {
  design <- 0L
  set <- 0L
  phase <- ""
  say <- function(...) message(sprintf(...))
  function(line) {
    if (grepl("NEW CALCULATION START", line, fixed = TRUE)) {
      design <<- design + 1L
      set <<- 0L
      phase <<- ""
      say("Design %d of %d: copula parameter and information at the analyses", design,
          length(labels))
    } else if (grepl("ITERATION STARTS", line, fixed = TRUE)) {
      set <<- set + 1L
      phase <<- "search"
      say("  %s: sample-size search (subjects, power)", set_phrase(labels[[design]][set]))
    } else if (phase == "search" &&
               length(m <- regmatches(line, regexec("^ *(\\d+|FINAL) +(\\d+) +([0-9.]+) *$",
                                                     line))[[1L]])) {
      if (m[2L] == "FINAL") {
        say("    result: %s subjects, power %s%%", m[3L], m[4L])
        phase <<- ""
      } else {
        say("    %s %s subjects: power %s%%",
            if (m[2L] == "0") "bracket" else sprintf("step %s:", m[2L]), m[3L], m[4L])
      }
    } else if (grepl("ASSESSMENT BY SIMULATION", line, fixed = TRUE)) {
      phase <<- "simulation"
      say("  %s: simulating %d trials", set_phrase(labels[[design]][max(set, 1L)]),
          nsim[design])
    } else if (phase == "simulation" &&
               length(m <- regmatches(line, regexec(
                 "^ +(\\d+) +\\d+ +\\d+ +\\d+ +([0-9.]+) +([0-9.]+) +([0-9.]+)", line))[[1L]])) {
        say("    %s of %d trials: power both %s%%, EP1 %s%%, EP2 %s%%", m[2L], nsim[design],
            m[5L], m[3L], m[4L])
    }
  }
}

set_phrase <- function(label) {
  switch(label, EP1 = "set EP1 (analyses timed by EP1)", EP2 = "set EP2 (analyses timed by EP2)",
         calendar = "calendar analyses", label)
}

entry_set_labels <- function(entry) {
  switch(as.character(entry$values$ITIME), "1" = c("EP1", "EP2"), "2" = "EP2", "calendar")
}

# Runs entries in one calculation (one generator) and wraps each result.
calculate_entries <- function(entries, options, title = "") {
  line <- switch(as.character(options$verbose),
                 "FALSE" = NULL,
                 "TRUE" = progress_reporter(lapply(entries, entry_set_labels),
                                            vapply(entries, function(e) as.integer(e$values$NSIM),
                                                   integer(1))),
                 trace = function(line) cat(line, "\n", sep = ""))
  run <- .Call(kestrel_calculate, entries, options$seed, options$mvn_accuracy, line,
               isTRUE(options$exact), isTRUE(options$under_nulls))
  designs <- lapply(run$designs, function(d) {
    o <- options
    # A design's own model (MODEL EXACT of a deck) holds beside the option for every design.
    o$exact <- isTRUE(options$exact) || identical(as.integer(d$entry$model), 2L)
    new_design(d, seed = run$seed, options = o, title = title)
  })
  kestrel_designs(designs)
}

kestrel_design <- function(hr, rho = 0, looks = 1, timing = "information", rule = "any",
                           alpha = 0.025, power = 0.8, copula = "clayton", competing = "none",
                           composite = FALSE, critical = "own", accrual, follow_up, survival,
                           allocation = 0.5, spending = sf_obf(), n = NULL, nsim = 0,
                           hr_sim = hr, rho_sim = rho, censor = TRUE, seed = NULL,
                           mvn_accuracy = NULL, verbose = FALSE, exact = FALSE, dropout = 0,
                           dropout_time = NULL, accrual_time = NULL, accrual_intensity = NULL,
                           median = NULL, control_hazard = NULL, survival_time = NULL,
                           hazards = NULL, futility = NULL, binding = FALSE,
                           under_nulls = FALSE) {
  if (missing(hr)) stop("`hr` (the hazard ratios of EP1 and EP2, treatment over control) is missing",
                        call. = FALSE)
  if (missing(accrual)) stop("`accrual` (the accrual period) is missing", call. = FALSE)
  if (missing(follow_up)) stop("`follow_up` (the follow-up after accrual) is missing", call. = FALSE)
  if (missing(survival)) survival <- NULL
  accrual <- check_range(accrual, "accrual", 0, Inf, "an accrual period", lower_open = TRUE)
  follow_up <- check_range(follow_up, "follow_up", 0, Inf, "a follow-up period after accrual")
  law <- control_law(survival, median, control_hazard, survival_time, accrual, follow_up)
  entry <- design_entry(hr, rho, looks, timing, rule, alpha, power, copula, competing, composite,
                      critical, accrual, follow_up, law$survival, allocation, spending, n, nsim,
                      hr_sim, rho_sim, censor)
  entry$entry_loss <- entry_loss(dropout, dropout_time, accrual_time, accrual_intensity, accrual,
                                 follow_up)
  entry$hazards <- check_hazards(hazards)
  entry$control <- law$control
  entry$futility <- check_futility(futility, binding, entry$values$LOOK, entry$values$POWER)
  options <- check_options(seed, mvn_accuracy, verbose, exact, simulated = entry$values$NSIM > 0,
                           under_nulls = under_nulls)
  if (options$exact) entry$model <- 2L
  tryCatch(calculate_entries(list(entry), options)[[1L]], error = futility_refusal)
}

# Loss to follow-up and accrual pieces as the core takes them, NULL when there are none:
# `dropout` is the hazard of loss per time unit (control, treatment; one value: both arms), or,
# with `dropout_time`, the probability of being lost by that time (hazard -log(1 - p)/time);
# `accrual_time` the ends of the accrual pieces (the last equal to `accrual`) and
# `accrual_intensity` their relative intensities.
entry_loss <- function(dropout, dropout_time, accrual_time, accrual_intensity, accrual,
                       follow_up = NULL) {
  if (is.null(dropout)) dropout <- 0
  given <- dropout
  dropout <- check_range(dropout, "dropout", 0, Inf,
                         "one or two hazards of loss per time unit (control, treatment)", 1:2)
  if (length(dropout) == 1L) dropout <- rep(dropout, 2L)
  probability <- NULL
  if (!is.null(dropout_time)) {
    dropout_time <- check_range(dropout_time, "dropout_time", 0, Inf,
                                "one time by which `dropout` gives the probabilities of loss",
                                lower_open = TRUE)
    if (any(dropout >= 1))
      arg_error("dropout", paste("one or two probabilities of loss in [0, 1) when `dropout_time`",
                                 "is given (0.05 for 5%)"), given)
    probability <- dropout
    dropout <- -log1p(-dropout) / dropout_time
    if (any(!is.finite(dropout)))
      stop(sprintf(paste0("`dropout_time` must be a time long enough for a finite hazard of loss ",
                          "(-log(1 - dropout) / dropout_time; got %s)"), format(dropout_time)),
           call. = FALSE)
  }
  # As the deck: a loss whose survival exp(-hazard (accrual + follow_up)) falls below 1e-300
  # leaves no one to observe, and the calculation would only meet figures that are not numbers.
  if (!is.null(follow_up) && any(dropout * (accrual + follow_up) > 700))
    stop(sprintf(paste("`dropout` (a hazard of loss of %s per time unit) loses every subject long",
                       "before the end of the study at accrual + follow_up = %s: the hazard of loss",
                       "times accrual + follow_up must be at most 700"),
                 format(max(dropout)), format(accrual + follow_up)), call. = FALSE)
  if (!is.null(follow_up)) loss_warnings(given, dropout_time, dropout, accrual, follow_up)
  if (is.null(accrual_time) != is.null(accrual_intensity))
    stop("`accrual_time` and `accrual_intensity` go together", call. = FALSE)
  ends <- numeric(0)
  rates <- numeric(0)
  if (!is.null(accrual_time)) {
    if (is.numeric(accrual_time) && length(accrual_time) >= 1L && isTRUE(accrual_time[1L] == 0))
      arg_error("accrual_time", paste("the ends of the accrual pieces, the first above 0: they are",
                                      "the ends, not the starts (leave out the leading 0)"),
                accrual_time)
    if (!is.numeric(accrual_time) || !(length(accrual_time) %in% 1:10) || anyNA(accrual_time) ||
        any(!is.finite(accrual_time)) || accrual_time[1L] <= 0 || any(diff(accrual_time) <= 0) ||
        abs(accrual_time[length(accrual_time)] - accrual) > 1e-9 * max(1, accrual))
      arg_error("accrual_time", sprintf(paste0("1 to 10 increasing ends of accrual pieces ",
                                               "above 0, the last equal to `accrual` (%s)"),
                                        format(accrual)), accrual_time)
    if (!is.numeric(accrual_intensity) || length(accrual_intensity) != length(accrual_time) ||
        anyNA(accrual_intensity) || any(!is.finite(accrual_intensity)) ||
        any(accrual_intensity < 1e-100) || any(accrual_intensity > 1e100))
      arg_error("accrual_intensity", sprintf(paste("one relative intensity from 1e-100 to 1e100 per",
                                                   "accrual piece (%d; only their ratios matter)"),
                                             length(accrual_time)), accrual_intensity)
    if (length(accrual_time) > 1L) {
      ends <- as.numeric(accrual_time)
      rates <- as.numeric(accrual_intensity)
    }
  }
  if (all(dropout == 0) && length(ends) == 0L) return(NULL)
  list(dropout = as.numeric(dropout), accrual_end = ends, accrual_intensity = rates,
       dropout_time = if (is.null(probability)) 0 else dropout_time,
       dropout_probability = if (is.null(probability)) c(0, 0) else as.numeric(probability))
}
