# Methods of "kestrel_design": print (a protocol-ready summary), summary, as.data.frame and plot.

set_title <- function(label) {
  switch(label, EP1 = "analyses when EP1 reaches the information fractions",
         EP2 = "analyses when EP2 reaches the information fractions",
         calendar = "analyses at calendar times", label)
}

fmt <- function(x, digits) formatC(x, format = "f", digits = digits)

# Treatment-over-control hazard ratios as the reports show them (reciprocals of the deck values).
design_hr <- function(v) c(1 / v$HR1, 1 / v$HR2)

print.kestrel_design <- function(x, ...) {
  v <- x$deck$values
  hr <- design_hr(v)
  cat("Kestrel design with two time-to-event endpoints\n")
  cat(sprintf("  Decision rule %d: %s\n", v$DF, rule_titles[v$DF]))
  cat(sprintf("  Hazard ratios (treatment/control): EP1 %s, EP2 %s; correlation %s (%s copula)\n",
              fmt(hr[1], 3), fmt(hr[2], 3), format(v$RHO), copula_titles[v$CPL]))
  cat(sprintf(paste0("  Accrual %s, follow-up %s; control survival at the end of the study ",
                     "EP1 %s, EP2 %s; treatment share %s\n"),
              format(v$TA), format(v$TF), format(v$SRVR1), format(v$SRVR2), format(v$SR)))
  cat(sprintf("  One-sided alpha %s, %s %s; %d %s at %s %s\n", format(v$TYPE1),
              if (v$MSSG >= 1) "given sample size" else "target power",
              if (v$MSSG >= 1) format(v$MSSG) else format(v$POWER), v$LOOK,
              if (v$LOOK == 1L) "analysis" else "analyses",
              if (v$ITIME == 3L) "calendar times" else "information fractions",
              paste(format(v$TLOOK), collapse = ", ")))
  cat(assumption_lines(x), sep = "\n")
  if (!is.null(x$deck$futility))
    cat(sprintf("  Futility stops at the interim analyses: %s\n", futility_label(x$deck$futility)))
  if (length(x$sets) > 1L)
    cat(paste0("  Two sets: a protocol states the set of the endpoint whose events trigger the\n",
               "  analyses, or the larger size when that is not decided (see ?kestrel_design)\n"))
  for (s in x$sets) {
    cat(sprintf("\nSet %s (%s)\n", s$label, set_title(s$label)))
    cat(sprintf("  Maximum sample size %d, power %s; maximum events EP1 %d, EP2 %d\n",
                s$MSS, fmt(s$APW, 4), s$ME1, s$ME2))
    cat(sprintf("  Expected sample size %s; expected events EP1 %s, EP2 %s\n",
                fmt(s$ASN, 1), fmt(s$AVE1, 1), fmt(s$AVE2, 1)))
    if (nzchar(s$warning)) cat(sprintf("  %s\n", s$warning))
    tab <- bounds_rows(x, s)
    for (ep in c("EP1", "EP2")) {
      t <- tab[tab$endpoint == ep, ]
      sf <- statement_spending(x$deck$spending[[match(s$label, set_labels(x))]][[if (ep == "EP1") 1L else 2L]])
      cat(sprintf("  %s bounds (%s spending):\n", ep, spending_label(sf)))
      shown <- data.frame(analysis = t$analysis, time = fmt(t$calendar_time, 3),
                          information = fmt(t$information_fraction, 4),
                          upper_z = fmt(t$upper_z, 4), upper_z_used = fmt(t$upper_z_used, 4),
                          nominal = fmt(t$nominal_level, 6), alpha_spent = fmt(t$alpha_spent, 6),
                          p_success = fmt(t$p_success, 4))
      if (identical(shown$upper_z, shown$upper_z_used)) shown$upper_z_used <- NULL
      out <- utils::capture.output(print(shown, row.names = FALSE))
      cat(paste0("    ", out, collapse = "\n"), "\n", sep = "")
    }
    if (!is.null(s$simulation))
      cat(sprintf("  Simulated power (%d trials): both %s, EP1 %s, EP2 %s\n", v$NSIM,
                  fmt(s$simulation$PWC, 4), fmt(s$simulation$PW1, 4), fmt(s$simulation$PW2, 4)))
    if (!is.null(s$futility)) print_futility(x, s)
  }
  invisible(x)
}

set_labels <- function(x) vapply(x$sets, function(s) s$label, character(1))

# The boundary table of one set: per endpoint and analysis, the columns of the HTML report.
bounds_rows <- function(x, s) {
  K <- s$information$K
  r_share <- x$deck$values$SR
  one <- function(ep, r, za_used, zb_used, finf, events_at) {
    data.frame(set = s$label, endpoint = ep, analysis = seq_len(K),
               calendar_time = s$information$TCAL, information_fraction = finf,
               enrolled_fraction = s$information$FENR,
               events = events_at * finf, lower_z = r$za, upper_z = r$zb,
               upper_z_used = zb_used,
               hr_at_bound = exp(-zb_used / sqrt(r_share * (1 - r_share) * events_at * finf)),
               nominal_level = r$nominal_upper, alpha_spent = r$pd,
               cumulative_alpha = r$pe, crossing_probability = r$qpos,
               p_success = s$QSTOP, stringsAsFactors = FALSE)
  }
  out <- rbind(one("EP1", s$ep1, s$ZA1, s$ZB1, s$information$FINF1, s$ME1),
               one("EP2", s$ep2, s$ZA2, s$ZB2, s$information$FINF2, s$ME2))
  if (!is.null(s$futility)) out <- cbind(out, futility_rows(x, s))
  out
}

# The futility columns of one set's boundary rows (EP1's analyses, then EP2's): the bound in
# force (the final one is the efficacy bound; NA where a bound of -8 stops nothing), its nominal
# level and hazard ratio, the endpoint's own first-crossing probabilities of its futility bound
# under its alternative and of both bounds under its null, and the trial's probabilities of
# reaching each analysis and of stopping there for futility (at the final: ending without success).
# The hazard ratio at the bound is that of hr_at_bound: the estimated ratio at the trial's events.
futility_rows <- function(x, s) {
  f <- s$futility
  r_share <- x$deck$values$SR
  one <- function(zf, r, e, finf, events_at) {
    zf <- no_lower(zf)
    data.frame(futility_z = zf, futility_nominal_level = stats::pnorm(zf),
               futility_hr_at_bound = exp(-zf / sqrt(r_share * (1 - r_share) * events_at * finf)),
               futility_crossing_probability = r$qneg, futility_crossing_null = e$null_qneg,
               efficacy_crossing_null = e$null_qpos, p_reach = f$REACH, p_futility = f$QFUT)
  }
  rbind(one(f$ZF1, s$ep1, f$ep1, s$information$FINF1, s$ME1),
        one(f$ZF2, s$ep2, f$ep2, s$information$FINF2, s$ME2))
}

as.data.frame.kestrel_design <- function(x, row.names = NULL, optional = FALSE, ...) {
  out <- boundaries(x)
  out <- cbind(out, assumption_columns(x, nrow(out)))
  rownames(out) <- row.names
  out
}

summary.kestrel_design <- function(object, ...) {
  structure(list(results = object$results, copula_parameter = object$copula_parameter,
                 seed = if (object$settings$nsim > 0) object$seed else NA_integer_,
                 assumptions = assumption_lines(object),
                 analyses = lapply(object$sets, function(s) {
                   a <- data.frame(set = s$label, analysis = seq_len(s$information$K),
                              calendar_time = s$information$TCAL,
                              enrolled_fraction = s$information$FENR,
                              information_ep1 = s$information$FINF1,
                              information_ep2 = s$information$FINF2,
                              p_success = s$QSTOP, p_ep1_first = s$QEP[, 1],
                              p_ep2_first = s$QEP[, 2], stringsAsFactors = FALSE)
                   if (!is.null(s$futility)) {
                     a$p_reach <- s$futility$REACH
                     a$p_futility <- s$futility$QFUT
                     # Simulated trials stop for futility at the interim analyses only.
                     if (!is.null(s$simulation) && length(s$simulation$F))
                       a$simulated_futility <- c(utils::head(s$simulation$F, -1L), NA)
                   }
                   a
                 })),
            class = "summary.kestrel_design")
}

as.data.frame.summary.kestrel_design <- function(x, row.names = NULL, optional = FALSE, ...) {
  out <- x$results
  rownames(out) <- row.names
  out
}

print.summary.kestrel_design <- function(x, ...) {
  cat(sprintf("Copula parameter: design %s, simulation %s\n",
              format(x$copula_parameter[["design"]], digits = 6),
              format(x$copula_parameter[["simulation"]], digits = 6)))
  if (!is.na(x$seed)) cat(sprintf("Seed of the uniform generator: %d\n", x$seed))
  cat("Assumptions:\n")
  cat(sub("^  ", "  ", x$assumptions), sep = "\n")
  cat("\nResults per evaluated set:\n")
  print(x$results, row.names = FALSE, digits = 6)
  for (a in x$analyses) {
    cat(sprintf("\nAnalyses of set %s:\n", a$set[1]))
    a$set <- NULL
    print(a, row.names = FALSE, digits = 5)
  }
  invisible(x)
}

# The futility block of a set: the bounds in force, the probabilities of reaching each analysis,
# of success and of a futility stop there, and the type I error under the nulls.
print_futility <- function(x, s) {
  f <- s$futility
  K <- s$information$K
  zf <- function(z) ifelse(seq_len(K) == K, "final", fmt(no_lower(z), 4))
  shown <- data.frame(analysis = seq_len(K), ep1_futility_z = zf(f$ZF1),
                      ep2_futility_z = zf(f$ZF2), p_reach = fmt(f$REACH, 4),
                      p_success = fmt(s$QSTOP, 4), p_futility = fmt(f$QFUT, 4))
  if (!is.null(s$simulation) && length(s$simulation$F))
    shown$simulated_futility <- c(fmt(utils::head(s$simulation$F, -1L), 4), "")
  cat(sprintf("  Futility stops (%s):\n", futility_label(x$deck$futility)))
  out <- utils::capture.output(print(shown, row.names = FALSE))
  cat(paste0("    ", out, collapse = "\n"), "\n", sep = "")
  for (e in 1:2) {
    capped <- f[[c("ep1", "ep2")[e]]]$capped
    if (length(capped))
      cat(sprintf(paste("    EP%d: the futility bound at analysis %s came out above the efficacy",
                        "bound and is set to it\n"), e, paste(capped, collapse = ", ")))
  }
  nf <- null_figures(x, s$label)
  if (!is.null(nf)) {
    cat("  Under the nulls (type I error with the futility stops and without, expected size):\n")
    for (i in seq_len(nrow(nf)))
      cat(sprintf("    %-9s %s  %s  %s\n", nf$hypothesis[i], fmt(nf$type1[i], 6),
                  fmt(nf$type1_without_futility[i], 6), fmt(nf$expected_sample_size[i], 1)))
  }
  if (isTRUE(x$deck$futility$binding))
    cat("  Binding: the type I error holds only if the trial does stop at the futility bounds\n")
}
