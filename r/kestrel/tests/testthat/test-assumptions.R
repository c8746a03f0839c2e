# Every assumption of a design on its printout, settings and data frame; the control arm in the
# forms planners state it; warnings for likely slips; the model through a deck; the plots' values.

protocol <- list(hr = c(0.7, 0.75), rho = 0.3, looks = c(1.5, 3, 5), timing = "calendar",
                 accrual = 3, follow_up = 2, survival = c(0.3, 0.4), mvn_accuracy = 1e-6,
                 dropout = 0.1, dropout_time = 1, accrual_time = c(1, 2, 3),
                 accrual_intensity = c(1, 2, 4))

test_that("the printout, settings and data frame carry every assumption", {
  plain <- kestrel_design(hr = c(0.7, 0.75), looks = c(2, 5), timing = "calendar", accrual = 3,
                          follow_up = 2, survival = c(0.3, 0.4), mvn_accuracy = 1e-6)
  d <- do.call(kestrel_design, c(protocol[names(protocol) != "survival"],
                                 list(median = c(2, 3), exact = TRUE)))
  h <- -log(0.9)
  cases <- list(
    list(plain, c("Loss to follow-up: none", "Accrual: uniform over 0..3", "Model: default")),
    list(d, c(sprintf("hazard per time unit control %s, treatment %s (from 10%%/10%% lost by time 1)",
                      format(signif(h, 6)), format(signif(h, 6))),
              "Accrual in 3 pieces ending at 1, 2, 3 with relative intensities 1, 2, 4",
              "Model: exact", "Control arm given as medians EP1 2, EP2 3",
              sprintf("EP1 %.4f, EP2 %.4f", exp(-log(2) / 2 * 5), exp(-log(2) / 3 * 5)))))
  for (cs in cases) {
    out <- capture.output(print(cs[[1]]))
    sm <- capture.output(print(summary(cs[[1]])))
    for (line in cs[[2]]) {
      expect_true(any(grepl(line, out, fixed = TRUE)), info = line)
      expect_true(any(grepl(line, sm, fixed = TRUE)), info = line)
    }
  }
  st <- d$settings
  expect_equal(st$dropout, c(h, h))
  expect_equal(st$dropout_time, 1)
  expect_equal(st$dropout_probability, c(0.1, 0.1))
  expect_equal(st$accrual_time, c(1, 2, 3))
  expect_equal(st$accrual_intensity, c(1, 2, 4))
  expect_true(st$exact)
  expect_equal(st$median, c(2, 3))
  expect_equal(st$survival, exp(-log(2) / c(2, 3) * 5))
  for (df in list(as.data.frame(d), as.data.frame(summary(d)), as.data.frame(kestrel_designs(d)))) {
    expect_equal(unique(df$dropout_control), h)
    expect_equal(unique(df$accrual_pieces), "1:1, 2:2, 3:4")
    expect_equal(unique(df$model), "exact")
    expect_equal(unique(df$survival_ep1), st$survival[1])
  }
  expect_equal(unique(as.data.frame(plain)$model), "default")
  expect_equal(unique(as.data.frame(plain)$accrual_pieces), "uniform")
})

test_that("a median, a hazard and survival at a time describing one law give one design", {
  base <- list(hr = c(0.7, 0.75), looks = c(2, 5), timing = "calendar", accrual = 3,
               follow_up = 2, mvn_accuracy = 1e-6)
  lambda <- c(0.25, 0.15)
  forms <- list(list(survival = exp(-lambda * 5)), list(median = log(2) / lambda),
                list(control_hazard = lambda),
                list(survival = exp(-lambda * 1.5), survival_time = 1.5))
  designs <- lapply(forms, function(f) do.call(kestrel_design, c(base, f)))
  for (d in designs[-1]) {
    expect_equal(d$settings$survival, designs[[1]]$settings$survival, tolerance = 1e-14)
    expect_identical(d$sets[[1]]$MSS, designs[[1]]$sets[[1]]$MSS)
    expect_equal(d$sets[[1]]$APW, designs[[1]]$sets[[1]]$APW, tolerance = 1e-12)
  }
  # kestrel_bounds takes the same forms, converted by the core.
  b <- lapply(list(list(survival = exp(-0.3 * 3)), list(median = log(2) / 0.3),
                   list(control_hazard = 0.3), list(survival = exp(-0.3), survival_time = 1)),
              function(f) do.call(kestrel_bounds, c(list(times = c(0.5, 1), accrual = 2,
                                                          follow_up = 1), f)))
  for (x in b[-1]) expect_equal(x, b[[1]])
  expect_error(kestrel_design(hr = 0.7, accrual = 1, follow_up = 1, survival = 0.5, median = 2),
               "give the control arm once")
  expect_error(kestrel_design(hr = 0.7, accrual = 1, follow_up = 1, median = -2), "`median`")
  expect_error(kestrel_design(hr = 0.7, accrual = 1, follow_up = 1), "control arm is missing")
})

test_that("likely slips are warned about and still taken as given", {
  base <- list(hr = c(0.7, 0.75), looks = 5, timing = "calendar", accrual = 3, follow_up = 2,
               survival = c(0.3, 0.4), n = 400, mvn_accuracy = 1e-6)
  cases <- list(list(list(dropout = 5), "was a percentage meant|hazard of loss above 1"),
                list(list(dropout = 0.05, dropout_time = 12), "beyond the end of the study"),
                list(list(dropout = 0.3), "loses 64% of an arm's patients"))
  for (cs in cases) {
    expect_warning(d <- do.call(kestrel_design, c(base, cs[[1]])), cs[[2]])
    expect_s3_class(d, "kestrel_design")
  }
  expect_warning(kestrel_bounds(dropout = 2), "hazard of loss above 1")
  expect_silent(do.call(kestrel_design, c(base, list(dropout = 0.05))))
  expect_silent(do.call(kestrel_design, c(base, list(dropout = NULL))))
})

test_that("messages echo the value given and point at the usual slip", {
  base <- list(hr = c(0.7, 0.75), accrual = 3, follow_up = 2, survival = c(0.3, 0.4))
  cases <- list(list(list(dropout = -1), "(got -1)"),
                list(list(dropout = 0.1, dropout_time = -2), "(got -2)"),
                list(list(accrual_time = c(0, 1, 3), accrual_intensity = c(1, 2, 3)),
                     "leave out the leading 0"),
                list(list(accrual_time = c(1, 3), accrual_intensity = c(1, -2)), "-2))"))
  for (cs in cases) expect_error(do.call(kestrel_design, c(base, cs[[1]])), cs[[2]], fixed = TRUE)
})

test_that("an exact design written as a deck reads back exact; kestrel_deck(exact = TRUE)", {
  args <- list(hr = c(0.7, 0.75), looks = c(3, 5), timing = "calendar", accrual = 2,
               follow_up = 3, allocation = 0.75, mvn_accuracy = 1e-6, median = c(2, 3),
               dropout = 0.05, dropout_time = 2)
  plain <- do.call(kestrel_design, args)
  exact <- do.call(kestrel_design, c(args, list(exact = TRUE)))
  path <- tempfile(fileext = ".txt")
  kestrel_write_deck(exact, path)
  lines <- readLines(path)
  expect_true("MODEL EXACT" %in% lines)
  expect_true(any(grepl("^CONTROL MEDIAN 2 3$", lines)))
  expect_true(any(grepl("^DROPOUT PROBABILITY 2 0.05 0.05$", lines)))
  back <- kestrel_deck(path, mvn_accuracy = 1e-6)[[1]]
  expect_true(back$exact)
  expect_identical(back$sets[[1]]$MSS, exact$sets[[1]]$MSS)
  expect_equal(back$settings$median, c(2, 3))
  expect_identical(back$settings$survival, exact$settings$survival)
  kestrel_write_deck(plain, path)
  expect_false("MODEL EXACT" %in% readLines(path))
  again <- kestrel_deck(path, mvn_accuracy = 1e-6, exact = TRUE)[[1]]
  expect_true(again$exact)
  expect_identical(again$sets[[1]]$MSS, exact$sets[[1]]$MSS)
  expect_false(identical(plain$sets[[1]]$MSS, exact$sets[[1]]$MSS))
})

test_that("the events plot draws the core's expected events through the design's analyses", {
  pdf(NULL)
  on.exit(dev.off())
  d <- do.call(kestrel_design, protocol)
  drawn <- plot(d, type = "events")
  a <- drawn$analyses
  # The design's events at each analysis (maximum events times the information fraction) lie on
  # the curve, to the rounding of the maximum events up to a whole number and the information
  # fraction's departure from the event fraction under the alternative.
  expect_equal(a$expected_events, a$events, tolerance = 0.005)
  ends <- drawn$curve[nrow(drawn$curve), ]
  s <- d$sets[[1]]
  expect_equal(c(ends$events_ep1, ends$events_ep2), c(s$ME1, s$ME2), tolerance = 1 / s$ME2)
  expect_equal(drawn$legend, c("EP1", "EP2", "analyses", "end of accrual"))
  # Loss and the ramp are in the curve: without them the same size gives more events.
  free <- plot(kestrel_design(hr = c(0.7, 0.75), looks = c(1.5, 3, 5), timing = "calendar",
                              accrual = 3, follow_up = 2, survival = c(0.3, 0.4),
                              n = s$MSS, mvn_accuracy = 1e-6), type = "events")
  expect_true(all(free$curve$events_ep1[-1] > drawn$curve$events_ep1[-1]))
  # With EP2 fatal EP1's events are cut short: only EP2's curve is drawn, and the legend names
  # only what is drawn.
  one <- plot(do.call(kestrel_design, c(protocol, list(competing = "one"))), type = "events")
  expect_equal(one$legend, c("EP2", "analyses EP1", "analyses", "end of accrual"))
  both <- plot(do.call(kestrel_design, c(protocol, list(competing = "both"))), type = "events")
  expect_equal(both$legend, c("analyses EP1", "analyses EP2", "end of accrual"))
})

test_that("the spending plot draws each endpoint's spending function through its analyses", {
  d <- kestrel_design(hr = c(0.7, 0.75), looks = c(0.3, 0.6, 1), accrual = 2, follow_up = 3,
                      survival = c(0.3, 0.4), spending = list(sf_obf(), sf_hsd(-4)),
                      mvn_accuracy = 1e-6)
  pdf(NULL)
  on.exit(dev.off())
  drawn <- plot(d, type = "spending")
  t <- drawn$information_fraction[drawn$endpoint == "EP2" & drawn$set == "EP1"]
  hsd <- 0.025 * (1 - exp(4 * t)) / (1 - exp(4))
  expect_equal(drawn$cumulative_alpha[drawn$endpoint == "EP2" & drawn$set == "EP1"], hsd,
               tolerance = 1e-12)
  obf <- 2 * (1 - pnorm(qnorm(1 - 0.025 / 2) / sqrt(t[-1])))
  expect_equal(drawn$cumulative_alpha[drawn$endpoint == "EP1" & drawn$set == "EP1"][-1], obf,
               tolerance = 1e-7)
  expect_equal(length(unique(drawn$information_fraction)), 201L)
})

test_that("no simulation leaves R's random stream alone; power() leaves stats::power working", {
  set.seed(42)
  d <- kestrel_design(hr = 0.7, looks = 5, timing = "calendar", accrual = 2, follow_up = 3,
                      survival = 0.4, n = 300, mvn_accuracy = 1e-6)
  after <- runif(1)
  set.seed(42)
  expect_identical(after, runif(1))
  expect_false(any(grepl("Seed", capture.output(print(summary(d))))))
  expect_equal(power(lambda = 0.5), stats::power(lambda = 0.5))
  expect_equal(power()$linkfun(2), stats::power()$linkfun(2))
  expect_equal(power(0.5)$linkinv(3), stats::power(0.5)$linkinv(3))
})

test_that("simulated trials take any ratio up to 10:10, 2:1 in blocks of 3", {
  d <- kestrel_design(hr = 0.7, looks = 5, timing = "calendar", accrual = 2, follow_up = 3,
                      survival = 0.4, n = 300, allocation = 2 / 3, nsim = 50, seed = 3,
                      mvn_accuracy = 1e-6)
  expect_false(is.null(d$sets[[1]]$simulation))
  expect_error(kestrel_design(hr = 0.7, looks = 5, timing = "calendar", accrual = 2,
                              follow_up = 3, survival = 0.4, n = 300, allocation = 0.35,
                              nsim = 10), "ratio of two whole numbers")
})

test_that("kestrel_bounds gives events and calendar time per analysis", {
  b <- kestrel_bounds(times = c(1, 2, 3) / 3, accrual = 2, follow_up = 1, survival = 0.4)
  expect_equal(b$analysis_events, b$events * b$time)
  expect_true(all(diff(b$calendar_time) > 0))
  expect_lte(b$calendar_time[3], 3)
})
