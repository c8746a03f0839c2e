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

check_numbers <- function(x, arg, n) {
  if (!is.numeric(x) || !(length(x) %in% n) || anyNA(x) || any(!is.finite(x)))
    stop(sprintf("`%s` must be %s finite number%s", arg,
                 paste(n, collapse = " or "), if (max(n) > 1) "s" else ""), call. = FALSE)
  as.numeric(x)
}

check_open_unit <- function(x, arg, n = 1L, what = "a probability") {
  x <- check_numbers(x, arg, n)
  if (any(x <= 0 | x >= 1))
    stop(sprintf("`%s` must be %s strictly between 0 and 1 (got %s)", arg, what,
                 paste(format(x), collapse = ", ")), call. = FALSE)
  x
}

check_whole <- function(x, arg, lower, upper = Inf) {
  if (!is.numeric(x) || length(x) != 1L || is.na(x) || x != round(x) || x < lower || x > upper)
    stop(sprintf("`%s` must be a whole number from %s%s", arg, format(lower),
                 if (is.finite(upper)) paste(" to", format(upper)) else " up"), call. = FALSE)
  as.integer(x)
}

check_choice <- function(x, arg, codes) {
  if (is.numeric(x) && length(x) == 1L && !is.na(x) && x %in% codes) return(as.integer(x))
  if (is.character(x) && length(x) >= 1L) {
    hit <- pmatch(x[1L], names(codes))
    if (!is.na(hit)) return(codes[[hit]])
  }
  stop(sprintf("`%s` must be one of %s (or the codes %s)", arg,
               paste(sprintf('"%s"', names(codes)), collapse = ", "),
               paste(codes, collapse = ", ")), call. = FALSE)
}

check_spending <- function(spending) {
  if (inherits(spending, "kestrel_spending")) spending <- list(spending, spending)
  if (!is.list(spending) || length(spending) != 2L ||
      !all(vapply(spending, inherits, logical(1), "kestrel_spending")))
    stop("`spending` must be a spending function such as sf_obf(), or a list of two (EP1, EP2)",
         call. = FALSE)
  spending
}

check_hazard_ratios <- function(hr, arg, searched, allow_one = FALSE) {
  hr <- check_numbers(hr, arg, 1:2)
  if (length(hr) == 1L) hr <- c(hr, hr)
  if (any(hr <= 0) || (!allow_one && any(hr == 1)))
    stop(sprintf("`%s` must be hazard ratios (treatment over control) above 0%s (got %s)", arg,
                 if (allow_one) "" else " and not 1", paste(format(hr), collapse = ", ")),
         call. = FALSE)
  if (searched && any(hr > 1))
    stop(sprintf(paste0("`%s` = %s describes a harmful treatment (treatment over control above 1):",
                        " no sample size reaches the power; give n to compute the power of a",
                        " given size"), arg, paste(format(hr), collapse = ", ")), call. = FALSE)
  hr
}

# The deck values of a design (as read: hazard ratios control over treatment) and its spending
# statements, from the named arguments.
design_entry <- function(hr, rho, looks, timing, rule, alpha, power, copula, competing,
                        composite, critical, accrual, follow_up, survival, allocation,
                        spending, n, nsim, hr_sim, rho_sim, censor) {
  searched <- is.null(n)
  hr <- check_hazard_ratios(hr, "hr", searched)
  hr_sim <- check_hazard_ratios(hr_sim, "hr_sim", FALSE, allow_one = TRUE)
  rho <- check_numbers(rho, "rho", 1L)
  if (rho < 0 || rho >= 1) stop("`rho` must be a correlation with 0 <= rho < 1", call. = FALSE)
  rho_sim <- check_numbers(rho_sim, "rho_sim", 1L)
  if (rho_sim < 0 || rho_sim >= 1)
    stop("`rho_sim` must be a correlation with 0 <= rho_sim < 1", call. = FALSE)
  timing <- check_choice(timing, "timing", timing_codes)
  rule <- check_choice(rule, "rule", rule_codes)
  copula <- check_choice(copula, "copula", copula_codes)
  competing <- check_choice(competing, "competing", competing_codes)
  critical <- check_choice(critical, "critical", critical_codes)
  if (!is.logical(composite) || length(composite) != 1L || is.na(composite))
    stop("`composite` must be TRUE or FALSE", call. = FALSE)
  if (!is.logical(censor) || length(censor) != 1L || is.na(censor))
    stop("`censor` must be TRUE or FALSE", call. = FALSE)
  # The same limits as the deck checks and kestrel_bounds(): a level from 1e-6 to 0.5, a power
  # above the level and below 1.
  alpha <- check_numbers(alpha, "alpha", 1L)
  if (alpha < 1e-6 || alpha > 0.5)
    stop(sprintf("`alpha` must be a one-sided significance level from 1e-6 to 0.5 (got %s)",
                 format(alpha)), call. = FALSE)
  power <- check_numbers(power, "power", 1L)
  if (power <= alpha || power >= 1)
    stop(sprintf("`power` must exceed `alpha` = %s and be below 1 (got %s)", format(alpha),
                 format(power)), call. = FALSE)
  accrual <- check_numbers(accrual, "accrual", 1L)
  if (accrual <= 0) stop("`accrual` (the accrual period) must be above 0", call. = FALSE)
  follow_up <- check_numbers(follow_up, "follow_up", 1L)
  if (follow_up < 0) stop("`follow_up` (after the end of accrual) must be 0 or more", call. = FALSE)
  survival <- check_open_unit(survival, "survival", 1:2,
                              "a control-arm survival probability at the end of the study")
  if (length(survival) == 1L) survival <- c(survival, survival)
  allocation <- check_open_unit(allocation, "allocation", what = "the treatment share")
  nsim <- check_whole(nsim, "nsim", 0, 1e7)
  if (nsim > 0 && !any(abs(allocation - c(0.25, 0.4, 0.5, 0.6, 0.7, 0.75, 0.8, 0.9)) < 1e-12))
    stop("with simulation (`nsim` > 0) `allocation` must be one of 0.25, 0.4, 0.5, 0.6, 0.7, ",
         "0.75, 0.8, 0.9", call. = FALSE)
  if (!is.null(n)) n <- check_whole(n, "n", 1, .Machine$integer.max)
  if (!is.numeric(looks) || length(looks) < 1L || length(looks) > 10L || anyNA(looks) ||
      any(!is.finite(looks)))
    stop("`looks` must be 1 to 10 analysis points", call. = FALSE)
  looks <- as.numeric(looks)
  if (any(diff(looks) <= 0) || looks[1L] <= 0)
    stop("`looks` must be positive and strictly increasing", call. = FALSE)
  if (timing != 3L && looks[length(looks)] != 1)
    stop("`looks` are information fractions (timing = \"", names(timing_codes)[timing],
         "\"): the last must be 1, the final analysis being at full information", call. = FALSE)
  # A final look written as accrual + follow_up is not refused for a rounding of the sum.
  end <- accrual + follow_up
  if (timing == 3L && looks[length(looks)] > end + 4 * abs(end) * .Machine$double.eps)
    stop("`looks` are calendar times (timing = \"calendar\"): at most accrual + follow_up = ",
         format(accrual + follow_up), call. = FALSE)
  spending <- check_spending(spending)
  K <- length(looks)
  for (i in 1:2) {
    sf <- spending[[i]]
    if (sf$code == 5L) {
      if (length(sf$cumulative) != K)
        stop(sprintf("`spending` of EP%d: sf_cumulative() needs %d values (one per analysis)", i, K),
             call. = FALSE)
      if (abs(sf$cumulative[K] - alpha) > 1e-12)
        stop(sprintf("`spending` of EP%d: the last cumulative value must equal alpha = %s", i,
                     format(alpha)), call. = FALSE)
    }
  }
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

check_options <- function(seed, mvn_accuracy, verbose, exact = FALSE) {
  if (!is.logical(exact) || length(exact) != 1L || is.na(exact))
    stop("`exact` must be TRUE or FALSE", call. = FALSE)
  if (!is.null(seed)) seed <- check_whole(seed, "seed", 1, 2147483646)
  if (!is.null(mvn_accuracy)) {
    mvn_accuracy <- check_numbers(mvn_accuracy, "mvn_accuracy", 1L)
    if (mvn_accuracy < 1e-10 || mvn_accuracy > 1e-4)
      stop("`mvn_accuracy` must lie in [1e-10, 1e-4]", call. = FALSE)
  }
  if (!is.logical(verbose) || length(verbose) != 1L || is.na(verbose))
    stop("`verbose` must be TRUE or FALSE", call. = FALSE)
  list(seed = seed, mvn_accuracy = mvn_accuracy, verbose = verbose, exact = exact)
}

# Runs entries in one calculation (one generator) and wraps each result.
calculate_entries <- function(entries, options, title = "") {
  run <- .Call(kestrel_calculate, entries, options$seed, options$mvn_accuracy, options$verbose,
               isTRUE(options$exact))
  lapply(run$designs, function(d) new_design(d, seed = run$seed, options = options, title = title))
}

new_design <- function(d, seed, options, title) {
  structure(list(values = d$entry$values, spending = d$entry$spending, number = d$entry$number,
                 entry_loss = d$entry$entry_loss,
                 THETA = d$THETA, THETATR = d$THETATR, sets = d$sets, report = d$report,
                 matrix = d$matrix, seed = seed, mvn_accuracy = options$mvn_accuracy,
                 title = title),
            class = "kestrel_design")
}

kestrel_design <- function(hr, rho = 0, looks = 1, timing = "information", rule = "any",
                           alpha = 0.025, power = 0.8, copula = "clayton", competing = "none",
                           composite = FALSE, critical = "own", accrual, follow_up, survival,
                           allocation = 0.5, spending = sf_obf(), n = NULL, nsim = 0,
                           hr_sim = hr, rho_sim = rho, censor = TRUE, seed = NULL,
                           mvn_accuracy = NULL, verbose = FALSE, exact = FALSE, dropout = 0,
                           dropout_time = NULL, accrual_time = NULL, accrual_intensity = NULL) {
  if (missing(hr)) stop("`hr` (the hazard ratios of EP1 and EP2, treatment over control) is missing",
                        call. = FALSE)
  if (missing(accrual)) stop("`accrual` (the accrual period) is missing", call. = FALSE)
  if (missing(follow_up)) stop("`follow_up` (the follow-up after accrual) is missing", call. = FALSE)
  if (missing(survival))
    stop("`survival` (control-arm survival of EP1 and EP2 at the end of the study) is missing",
         call. = FALSE)
  entry <- design_entry(hr, rho, looks, timing, rule, alpha, power, copula, competing, composite,
                      critical, accrual, follow_up, survival, allocation, spending, n, nsim,
                      hr_sim, rho_sim, censor)
  entry$entry_loss <- entry_loss(dropout, dropout_time, accrual_time, accrual_intensity, accrual)
  if (isTRUE(exact) && !is.null(entry$entry_loss))
    stop(paste("`exact = TRUE` does not yet cover loss to follow-up (`dropout`) or accrual",
               "pieces (`accrual_time`, `accrual_intensity`); leave `exact` FALSE for this design"),
         call. = FALSE)
  calculate_entries(list(entry), check_options(seed, mvn_accuracy, verbose, exact))[[1L]]
}

# Loss to follow-up and accrual pieces as the core takes them, NULL when there are none:
# `dropout` is the hazard of loss per time unit (control, treatment; one value: both arms), or,
# with `dropout_time`, the probability of being lost by that time (hazard -log(1 - p)/time);
# `accrual_time` the ends of the accrual pieces (the last equal to `accrual`) and
# `accrual_intensity` their relative intensities.
entry_loss <- function(dropout, dropout_time, accrual_time, accrual_intensity, accrual) {
  if (!is.numeric(dropout) || !(length(dropout) %in% 1:2) || anyNA(dropout) ||
      any(!is.finite(dropout)) || any(dropout < 0))
    stop("`dropout` must be one or two numbers of 0 or more (control, treatment)", call. = FALSE)
  if (length(dropout) == 1L) dropout <- rep(dropout, 2L)
  if (!is.null(dropout_time)) {
    if (!is.numeric(dropout_time) || length(dropout_time) != 1L || is.na(dropout_time) ||
        !is.finite(dropout_time) || dropout_time <= 0)
      stop("`dropout_time` must be one time above 0", call. = FALSE)
    if (any(dropout >= 1))
      stop("with `dropout_time`, `dropout` holds probabilities of loss in [0, 1)", call. = FALSE)
    dropout <- -log1p(-dropout) / dropout_time
  }
  if (is.null(accrual_time) != is.null(accrual_intensity))
    stop("`accrual_time` and `accrual_intensity` go together", call. = FALSE)
  ends <- numeric(0)
  rates <- numeric(0)
  if (!is.null(accrual_time)) {
    if (!is.numeric(accrual_time) || !(length(accrual_time) %in% 1:10) || anyNA(accrual_time) ||
        any(!is.finite(accrual_time)) || accrual_time[1L] <= 0 || any(diff(accrual_time) <= 0) ||
        abs(accrual_time[length(accrual_time)] - accrual) > 1e-9 * max(1, accrual))
      stop(sprintf(paste0("`accrual_time` must hold 1 to 10 increasing ends of accrual pieces ",
                          "above 0, the last equal to `accrual` (%s)"), format(accrual)),
           call. = FALSE)
    if (!is.numeric(accrual_intensity) || length(accrual_intensity) != length(accrual_time) ||
        anyNA(accrual_intensity) || any(!is.finite(accrual_intensity)) ||
        any(accrual_intensity <= 0))
      stop("`accrual_intensity` must hold one relative intensity above 0 per accrual piece",
           call. = FALSE)
    if (length(accrual_time) > 1L) {
      ends <- as.numeric(accrual_time)
      rates <- as.numeric(accrual_intensity)
    }
  }
  if (all(dropout == 0) && length(ends) == 0L) return(NULL)
  list(dropout = as.numeric(dropout), accrual_end = ends, accrual_intensity = rates)
}
