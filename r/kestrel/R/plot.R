# plot() of a design: bounds on the z and hazard-ratio scales, alpha spending, power against the
# sample size, and expected events against calendar time. Base graphics only.

endpoint_colours <- c(EP1 = "#1b6ca8", EP2 = "#c0392b")
set_ltys <- c(EP1 = 1, EP2 = 2, calendar = 1)
set_pchs <- c(EP1 = 19, EP2 = 17, calendar = 19)

plot.kestrel_design <- function(x, type = c("bounds", "hr", "spending", "power", "events",
                                            "survival"),
                                set = NULL, main = NULL, xlab = NULL, ylab = NULL, col = NULL,
                                lwd = 2, sizes = NULL, legend = TRUE, ...) {
  type <- if (is.character(type) && length(type) >= 1L && !is.na(type[1L]) &&
              !is.na(pmatch(type[1L], eval(formals()$type)))) match.arg(type) else
    arg_error("type", 'one of "bounds", "hr", "spending", "power", "events", "survival"', type)
  sets <- chosen_sets(x, set)
  if (is.null(col)) col <- endpoint_colours
  if (!(is.character(col) || is.numeric(col)) || length(col) < 1L)
    arg_error("col", "colours for EP1 and EP2", col)
  col <- stats::setNames(rep_len(col, 2L), c("EP1", "EP2"))
  legend <- check_flag(legend, "legend")
  drawn <- switch(type,
         bounds = plot_bounds(x, sets, "z", main, xlab, ylab, col, lwd, legend, ...),
         hr = plot_bounds(x, sets, "hr", main, xlab, ylab, col, lwd, legend, ...),
         spending = plot_spending(x, sets, main, xlab, ylab, col, lwd, legend, ...),
         power = plot_power(x, sets, sizes, main, xlab, ylab, col, lwd, legend, ...),
         events = plot_events(x, sets, main, xlab, ylab, col, lwd, legend, ...),
         survival = plot_survival(x, main, xlab, ylab, col, lwd, legend, ...))
  # The events and spending plots give the values they drew.
  invisible(if (type %in% c("events", "spending")) drawn else x)
}

# An empty frame whose labels the caller may replace; `...` carries graphical parameters.
plot_frame <- function(xlim, ylim, main, xlab, ylab, ...) {
  args <- utils::modifyList(list(NA, xlim = xlim, ylim = ylim, main = main, xlab = xlab,
                                 ylab = ylab), list(...))
  do.call(plot, args)
}

or_default <- function(x, default) if (is.null(x)) default else x

# The design's size, events and power of one set, in two short lines.
set_caption <- function(s) {
  c(sprintf("N = %d, power %.1f%%", s$MSS, 100 * s$APW),
    sprintf("events: EP1 %d, EP2 %d", s$ME1, s$ME2))
}

# Bounds of each set in its own panel (the sets' analyses differ), EP1 and EP2 in each.
plot_bounds <- function(x, sets, scale, main, xlab, ylab, col, lwd, legend, ...) {
  old <- par(mfrow = c(1L, length(sets)), mar = c(4.1, 4.1, 4.6, 1) , oma = c(0, 0, 0, 0))
  on.exit(par(old))
  tab <- boundaries(x, sets)
  y <- if (scale == "z") tab$upper_z_used else tab$hr_at_bound
  # Futility bounds (designs with them): a dashed line per endpoint, meeting the efficacy bound
  # at the final analysis.
  futile <- !is.null(tab$futility_z)
  fy <- if (!futile) NULL else if (scale == "z") tab$futility_z else tab$futility_hr_at_bound
  ylim <- range(y, fy, if (scale == "hr") c(1, x$settings$hr), finite = TRUE)
  ylim <- ylim + c(-0.08, 0.12) * diff(ylim)
  main <- rep_len(or_default(main, ifelse(sets == "calendar", "Calendar analyses",
                                          sprintf("Set %s", sets))), length(sets))
  for (i in seq_along(sets)) {
    s <- x$sets[[sets[i]]]
    # Futility bounds dashed, or dotted where the set's efficacy bounds are dashed.
    futility_lty <- if (set_ltys[[sets[i]]] == 2) 3 else 2
    plot_frame(c(0, 1), ylim, main[i], or_default(xlab, "Information fraction"),
               or_default(ylab, if (scale == "z") (if (futile) "Bounds (z)" else "Upper bound (z)") else
                 "Hazard ratio at the bound"), ...)
    mtext(set_caption(s), side = 3, line = c(0.9, 0.1), cex = 0.75)
    if (scale == "hr") abline(h = c(1, x$settings$hr), col = c("grey60", col), lty = 3)
    for (ep in c("EP1", "EP2")) {
      t <- tab[tab$set == sets[i] & tab$endpoint == ep, ]
      yy <- if (scale == "z") t$upper_z_used else t$hr_at_bound
      lines(t$information_fraction, yy, col = col[[ep]], lwd = lwd, lty = set_ltys[[sets[i]]])
      points(t$information_fraction, yy, col = col[[ep]], pch = set_pchs[[sets[i]]])
      if (futile) {
        fz <- if (scale == "z") t$futility_z else t$futility_hr_at_bound
        # The final analysis' futility bound is its efficacy bound.
        fz[nrow(t)] <- yy[nrow(t)]
        lines(t$information_fraction, fz, col = col[[ep]], lwd = lwd, lty = futility_lty)
        points(t$information_fraction, fz, col = col[[ep]], pch = 1)
      }
    }
    if (legend) {
      keys <- c("EP1", "EP2", if (futile) paste(c("EP1", "EP2"), "futility"))
      graphics::legend(if (scale == "z") "topright" else "bottomright", bty = "n", cex = 0.8,
                       legend = keys, col = rep(col, length.out = length(keys)), lwd = lwd,
                       lty = c(rep(set_ltys[[sets[i]]], 2L), if (futile) rep(futility_lty, 2L)),
                       pch = c(rep(set_pchs[[sets[i]]], 2L), if (futile) c(1, 1)))
    }
  }
}

# The cumulative alpha of a spending function over the information fractions `t`: the core's own
# spending function; cumulative values given per analysis are joined by straight lines.
spending_curve <- function(sf, alpha, t, analyses) {
  if (sf$code == 5L) return(stats::approx(c(0, analyses), c(0, sf$cumulative), xout = t)$y)
  .Call(kestrel_spending_curve, as.integer(sf$code), alpha, as.numeric(or_default(sf$phi, 0)), t)
}

plot_spending <- function(x, sets, main, xlab, ylab, col, lwd, legend, ...) {
  tab <- boundaries(x, sets)
  alpha <- x$settings$alpha
  t <- seq(0, 1, length.out = 201)
  curves <- list()
  for (s in sets) for (ep in c("EP1", "EP2")) {
    a <- tab[tab$set == s & tab$endpoint == ep, ]
    sf <- statement_spending(x$deck$spending[[match(s, set_labels(x))]][[if (ep == "EP1") 1L else 2L]])
    curves[[paste(s, ep)]] <- data.frame(set = s, endpoint = ep, information_fraction = t,
                                         cumulative_alpha = spending_curve(sf, alpha, t,
                                                                           a$information_fraction))
  }
  plot_frame(c(0, 1), c(0, max(alpha, unlist(lapply(curves, `[[`, "cumulative_alpha"))) * 1.08),
             or_default(main, "Cumulative alpha spent"), or_default(xlab, "Information fraction"),
             or_default(ylab, "Alpha spent"), ...)
  abline(h = alpha, col = "grey60", lty = 3)
  for (cv in curves) {
    s <- cv$set[1]
    ep <- cv$endpoint[1]
    a <- tab[tab$set == s & tab$endpoint == ep, ]
    lines(cv$information_fraction, cv$cumulative_alpha, col = col[[ep]], lwd = lwd,
          lty = set_ltys[[s]])
    points(a$information_fraction, a$cumulative_alpha, col = col[[ep]], pch = set_pchs[[s]])
  }
  if (legend) {
    keys <- expand.grid(ep = c("EP1", "EP2"), set = sets, stringsAsFactors = FALSE)
    graphics::legend("topleft", bty = "n", cex = 0.8,
                     legend = c(if (length(sets) > 1L) paste0(keys$ep, ", set ", keys$set)
                                else keys$ep, "analyses"),
                     col = c(col[keys$ep], "grey30"), lwd = c(rep(lwd, nrow(keys)), NA),
                     lty = c(set_ltys[keys$set], NA), pch = c(rep(NA, nrow(keys)), 19))
  }
  invisible(do.call(rbind, c(curves, make.row.names = FALSE)))
}

# The powers of a grid of sizes, calculated in one run with the design's settings and seed.
power_grid <- function(x, sizes) {
  entries <- lapply(sizes, function(n) {
    e <- x$deck
    e$values$MSSG <- as.integer(n)
    e$values$NSIM <- 0L
    e
  })
  message(sprintf("plot(type = \"power\"): the power at %d sizes (%s)", length(sizes),
                  paste(sizes, collapse = ", ")))
  done <- 0L
  line <- function(text) {
    if (grepl("NEW CALCULATION START", text, fixed = TRUE)) {
      done <<- done + 1L
      message(sprintf("  size %d of %d: %d subjects", done, length(sizes), as.integer(sizes[done])))
    }
  }
  seed <- if (is.na(x$seed)) NULL else x$seed
  run <- .Call(kestrel_calculate, entries, seed, x$mvn_accuracy, line, isTRUE(x$exact))
  do.call(rbind, lapply(seq_along(sizes), function(i) {
    data.frame(size = sizes[i],
               set = vapply(run$designs[[i]]$sets, function(s) r_set_label(s$label), ""),
               power = vapply(run$designs[[i]]$sets, function(s) s$APW, 0),
               stringsAsFactors = FALSE)
  }))
}

default_sizes <- function(x) {
  n <- max(sample_size(x))
  sort(unique(round(n * c(0.6, 0.75, 0.9, 1, 1.1, 1.25, 1.4))))
}

plot_power <- function(x, sets, sizes, main, xlab, ylab, col, lwd, legend, ...) {
  sizes <- if (is.null(sizes)) default_sizes(x) else {
    if (!is.numeric(sizes) || length(sizes) < 2L || anyNA(sizes) || any(sizes < 1) ||
        any(sizes != round(sizes)))
      arg_error("sizes", "at least two whole numbers of subjects", sizes)
    sort(unique(sizes))
  }
  grid <- power_grid(x, sizes)
  grid <- grid[grid$set %in% sets, ]
  plot_frame(range(sizes, sample_size(x, sets)), c(0, 1),
             or_default(main, "Power against the sample size"),
             or_default(xlab, "Maximum sample size"), or_default(ylab, "Power"), ...)
  target <- if (is.null(x$settings$n)) x$settings$power else NA
  abline(h = target, col = "grey60", lty = 3)
  set_col <- stats::setNames(rep_len(c("grey20", "grey50"), length(sets)), sets)
  for (s in sets) {
    g <- grid[grid$set == s, ]
    lines(g$size, g$power, lwd = lwd, lty = set_ltys[[s]], col = set_col[[s]])
    points(g$size, g$power, pch = set_pchs[[s]], col = set_col[[s]])
    points(sample_size(x, s), power(x, s), pch = 4, cex = 1.6, lwd = 2, col = col[[1L]])
  }
  if (legend)
    graphics::legend("bottomright", bty = "n", cex = 0.8,
                     legend = c(paste("set", sets), "the design"),
                     col = c(set_col, col[[1L]]), lty = c(set_ltys[sets], NA),
                     pch = c(set_pchs[sets], 4), lwd = c(rep(lwd, length(sets)), 2))
}

# Expected events by calendar time of N subjects of the design: the core's own event
# probabilities (loss to follow-up and accrual pieces included), the ones behind the maximum
# events of each endpoint. A matrix with a column per endpoint.
expected_events_by_time <- function(x, N, t) {
  out <- .Call(kestrel_expected_events, x$deck, as.numeric(N), as.numeric(t))
  colnames(out) <- c("EP1", "EP2")
  out
}

plot_events <- function(x, sets, main, xlab, ylab, col, lwd, legend, ...) {
  st <- x$settings
  end <- st$accrual + st$follow_up
  tab <- boundaries(x, sets)
  N <- max(sample_size(x, sets))
  t <- sort(unique(c(seq(0, end, length.out = 201), tab$calendar_time)))
  curves <- expected_events_by_time(x, N, t)
  at <- tab[tab$set %in% sets, ]
  at$expected_events <- expected_events_by_time(x, N, at$calendar_time)[
    cbind(seq_len(nrow(at)), match(at$endpoint, c("EP1", "EP2")))]
  plot_frame(c(0, end), c(0, max(curves, at$events) * 1.05),
             or_default(main, "Expected events over calendar time"),
             or_default(xlab, "Calendar time"), or_default(ylab, "Expected events"), ...)
  mtext(sprintf("%d subjects; accrual %s, follow-up %s%s", N, format(st$accrual),
                format(st$follow_up), if (any(st$dropout > 0)) ", with loss to follow-up" else ""),
        side = 3, line = 0.3, cex = 0.75)
  abline(v = st$accrual, col = "grey60", lty = 3)
  # The curves are the events of an endpoint that the other's events do not cut short: with one
  # fatal endpoint (EP2) EP1's curve is not drawn, with both fatal neither; the analyses always.
  drawn <- switch(st$competing, none = c("EP1", "EP2"), one = "EP2", both = character(0))
  for (ep in c("EP1", "EP2")) {
    if (ep %in% drawn) lines(t, curves[, ep], col = col[[ep]], lwd = lwd)
    for (s in sets) {
      a <- at[at$set == s & at$endpoint == ep, ]
      points(a$calendar_time, a$events, col = col[[ep]], pch = set_pchs[[s]])
    }
  }
  # The legend names only what is drawn: the curves, the analyses of each endpoint, accrual's end.
  marks <- expand.grid(set = sets, ep = c("EP1", "EP2"), stringsAsFactors = FALSE)
  labels <- c(drawn, paste0("analyses", ifelse(marks$ep %in% drawn, "", paste0(" ", marks$ep)),
                            if (length(sets) > 1L) paste(", set", marks$set) else ""),
              "end of accrual")
  keep <- !duplicated(labels)
  if (legend) {
    graphics::legend("topleft", bty = "n", cex = 0.8, legend = labels[keep],
                     col = c(col[drawn], col[marks$ep], "grey60")[keep],
                     lty = c(rep(1, length(drawn)), rep(NA, nrow(marks)), 3)[keep],
                     pch = c(rep(NA, length(drawn)), set_pchs[marks$set], NA)[keep],
                     lwd = c(rep(lwd, length(drawn)), rep(1, nrow(marks)), 1)[keep])
  }
  invisible(list(legend = labels[keep], curve = data.frame(calendar_time = t, events_ep1 = curves[, "EP1"],
                                    events_ep2 = curves[, "EP2"]),
                 analyses = at[, c("set", "endpoint", "analysis", "calendar_time", "events",
                                   "expected_events")]))
}

# The assumed survival of both arms of each endpoint over the study: the HAZARDS pieces where the
# design has them, the record's exponential law otherwise. Control solid, treatment dashed.
plot_survival <- function(x, main, xlab, ylab, col, lwd, legend, ...) {
  v <- x$deck$values
  Tend <- v$TA + v$TF
  t <- seq(0, Tend, length.out = 201L)
  hz <- x$deck$hazards
  curves <- list()
  for (e in 1:2) {
    h <- if (length(hz) >= e) hz[[e]] else NULL
    if (is.null(h)) {
      S <- c(v$SRVR1, v$SRVR2)[e]
      hr <- 1 / c(v$HR1, v$HR2)[e]  # the deck holds control over treatment
      h <- new_hazards(0, -log(S) / Tend, hr)
    }
    curves[[e]] <- cbind(hazards_survival(h, t, "control"), hazards_survival(h, t, "treatment"))
  }
  plot_frame(c(0, Tend), c(0, 1), or_default(main, "Assumed survival"),
             or_default(xlab, "Time since entry"), or_default(ylab, "Survival"), ...)
  for (e in 1:2) {
    lines(t, curves[[e]][, 1L], col = col[e], lwd = lwd, lty = 1)
    lines(t, curves[[e]][, 2L], col = col[e], lwd = lwd, lty = 2)
  }
  if (legend)
    graphics::legend("topright", legend = c("EP1 control", "EP1 treatment", "EP2 control",
                                            "EP2 treatment"),
                     col = rep(col, each = 2L), lty = c(1, 2, 1, 2), lwd = lwd, bty = "n")
}
