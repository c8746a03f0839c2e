# The "kestrel_design" object: its fields, `$` without partial matching, lists of designs and the
# accessors that give results by name.

# Set labels as R shows them: "EP1", "EP2" (analyses timed by that endpoint's information) and
# "calendar".
r_set_label <- function(label) if (identical(label, "CALND")) "calendar" else label

# One-sided designs carry a lower bound of -8 in the core: no lower bound.
no_lower <- function(z) ifelse(z <= -8 + 1e-9, NA_real_, z)

new_design <- function(d, seed, options, title) {
  sets <- lapply(d$sets, function(s) {
    s$label <- r_set_label(s$label)
    s$ZA1 <- no_lower(s$ZA1)
    s$ZA2 <- no_lower(s$ZA2)
    s$ep1$za <- no_lower(s$ep1$za)
    s$ep2$za <- no_lower(s$ep2$za)
    s
  })
  names(sets) <- vapply(sets, function(s) s$label, character(1))
  x <- structure(list(settings = c(deck_settings(d$entry$values, d$entry$spending),
                                   assumption_settings(d$entry, options$exact),
                                   futility_settings(d$entry$futility)),
                      results = NULL, sets = sets,
                      copula_parameter = c(design = d$THETA, simulation = d$THETATR),
                      seed = seed, mvn_accuracy = options$mvn_accuracy,
                      exact = isTRUE(options$exact), title = title,
                      report = d$report, matrix = d$matrix, deck = d$entry),
                 class = "kestrel_design")
  x$results <- design_results(x)
  x
}

# The settings of a design in the words of kestrel_design()'s arguments.
deck_settings <- function(v, spending) {
  pick <- function(codes, code) names(codes)[match(code, codes)]
  list(hr = c(1 / v$HR1, 1 / v$HR2), rho = v$RHO, looks = v$TLOOK,
       timing = pick(timing_codes, v$ITIME), rule = pick(rule_codes, v$DF),
       alpha = v$TYPE1, power = v$POWER, copula = pick(copula_codes, v$CPL),
       competing = pick(competing_codes, v$CPRSK), composite = v$CMPST == 2L,
       critical = pick(critical_codes, v$CRIVL), accrual = v$TA, follow_up = v$TF,
       survival = c(v$SRVR1, v$SRVR2), allocation = v$SR,
       spending = lapply(spending[[1L]], statement_spending),
       n = if (v$MSSG >= 1L) v$MSSG else NULL, nsim = v$NSIM,
       hr_sim = c(1 / v$HR1TR, 1 / v$HR2TR), rho_sim = v$RHOTR, censor = v$CNSRD == 1L)
}

# `$` matches names exactly and names the accessors when a field does not exist: d$n is an error,
# not the first field whose name starts with "n".
`$.kestrel_design` <- function(x, name) {
  if (!name %in% names(x))
    stop(sprintf(paste0("a kestrel design has no element `%s`; its elements are %s. Results by ",
                        "name: sample_size(), power(), events(), boundaries(), ",
                        "as.data.frame(summary(d))"),
                 name, paste(names(x), collapse = ", ")), call. = FALSE)
  .subset2(x, name)
}

# One row per evaluated set.
design_results <- function(x) {
  rows <- lapply(x$sets, function(s) {
    sim <- s$simulation
    out <- data.frame(set = s$label, analyses = s$information$K, sample_size = s$MSS,
                      power = s$APW, events_ep1 = s$ME1, events_ep2 = s$ME2,
                      expected_sample_size = s$ASN, expected_events_ep1 = s$AVE1,
                      expected_events_ep2 = s$AVE2,
                      simulated_power = if (is.null(sim)) NA_real_ else sim$PWC,
                      simulated_power_ep1 = if (is.null(sim)) NA_real_ else sim$PW1,
                      simulated_power_ep2 = if (is.null(sim)) NA_real_ else sim$PW2,
                      search = s$end, stringsAsFactors = FALSE)
    # With futility stops: the probability of stopping for futility at an interim analysis
    # (analytic and simulated); the expected figures above count those stops.
    if (!is.null(s$futility)) {
      interim <- seq_len(s$information$K - 1L)
      out$futility_stop <- sum(s$futility$QFUT[interim])
      out$simulated_futility_stop <- if (is.null(sim) || !length(sim$F)) NA_real_ else
        sum(sim$F[interim])
    }
    out
  })
  out <- rbind_fill(rows)
  out <- cbind(out, assumption_columns(x, nrow(out)))
  rownames(out) <- NULL
  out
}

# A list of designs (from kestrel_deck() or a scenario grid) with as.data.frame() giving one row
# per design and set.
kestrel_designs <- function(designs) {
  if (inherits(designs, "kestrel_design")) designs <- list(designs)
  if (!is.list(designs) || length(designs) == 0L ||
      !all(vapply(designs, inherits, logical(1), "kestrel_design")))
    arg_error("designs", "a list of designs made by kestrel_design() or kestrel_deck()", designs)
  structure(unclass(designs), class = "kestrel_designs")
}

`[.kestrel_designs` <- function(x, i) structure(unclass(x)[i], class = "kestrel_designs")

print.kestrel_designs <- function(x, ...) {
  cat(sprintf("%d Kestrel design%s\n", length(x), if (length(x) == 1L) "" else "s"))
  print(as.data.frame(x), row.names = FALSE, digits = 6)
  invisible(x)
}

as.data.frame.kestrel_designs <- function(x, row.names = NULL, optional = FALSE, ...) {
  out <- rbind_fill(lapply(seq_along(x), function(i) {
    r <- x[[i]]$results
    cbind(design = rep(i, nrow(r)), r)
  }))
  rownames(out) <- row.names
  out
}

# The sets of a design asked for by `set` (NULL: all of them, in order).
chosen_sets <- function(x, set) {
  if (!inherits(x, "kestrel_design"))
    arg_error("x", "a design made by kestrel_design() or kestrel_deck()", x)
  labels <- names(x$sets)
  if (is.null(set)) return(labels)
  if (!is.character(set) || anyNA(set) || !all(set %in% labels))
    arg_error("set", sprintf("one or more of %s (the sets this design evaluates)",
                             paste(sprintf('"%s"', labels), collapse = ", ")), set)
  set
}

sample_size <- function(x, set = NULL) {
  set <- chosen_sets(x, set)
  stats::setNames(vapply(x$sets[set], function(s) s$MSS, integer(1)), set)
}

# stats::power() is called without arguments or by name (power(lambda = 0.5)): no x to dispatch
# on, so those calls go to it directly.
power <- function(x, ...) {
  if (missing(x)) return(stats::power(...))
  UseMethod("power")
}

# Anything that is not a design goes to stats::power(), the link function this name masks.
power.default <- function(x, ...) stats::power(x, ...)

power.kestrel_design <- function(x, set = NULL, simulated = FALSE, ...) {
  set <- chosen_sets(x, set)
  simulated <- check_flag(simulated, "simulated")
  stats::setNames(vapply(x$sets[set], function(s) {
    if (!simulated) s$APW else if (is.null(s$simulation)) NA_real_ else s$simulation$PWC
  }, numeric(1)), set)
}

events <- function(x, set = NULL) {
  set <- chosen_sets(x, set)
  out <- do.call(rbind, lapply(x$sets[set], function(s) {
    data.frame(set = s$label, endpoint = c("EP1", "EP2"), maximum = c(s$ME1, s$ME2),
               expected = c(s$AVE1, s$AVE2), stringsAsFactors = FALSE)
  }))
  rownames(out) <- NULL
  out
}

boundaries <- function(x, set = NULL) {
  set <- chosen_sets(x, set)
  out <- do.call(rbind, lapply(x$sets[set], function(s) bounds_rows(x, s)))
  rownames(out) <- NULL
  out
}
