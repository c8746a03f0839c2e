# kestrel_design(): arguments checked in R, the fixed design as the one-analysis case, the search
# reaching its target, seeds repeating simulations.

base_args <- list(hr = c(0.7, 0.75), rho = 0.5, accrual = 2, follow_up = 3,
                  survival = c(0.3, 0.4), timing = "calendar", looks = 5, rule = "any")

design <- function(...) {
  args <- utils::modifyList(base_args, list(...))
  do.call(kestrel_design, args)
}

test_that("bad arguments are R errors naming the argument", {
  expect_error(design(rho = 1), "`rho`")
  expect_error(design(rho = -0.1), "`rho`")
  expect_error(design(hr = c(0.7, 1)), "`hr`")
  expect_error(design(hr = c(1.3, 0.7)), "harmful")
  expect_error(design(hr = "a"), "`hr`")
  expect_error(design(hr = c(0.7, 0.8, 0.9)), "`hr`")
  expect_error(design(alpha = 1), "`alpha`")
  expect_error(design(power = 0), "`power`")
  expect_error(design(survival = c(0.3, 1)), "`survival`")
  expect_error(design(accrual = 0), "`accrual`")
  expect_error(design(follow_up = -1), "`follow_up`")
  expect_error(design(allocation = 1.2), "`allocation`")
  expect_error(design(allocation = 0.55, nsim = 10), "`allocation`")
  expect_error(design(looks = c(2, 1, 5)), "`looks`")
  expect_error(design(looks = 6), "`looks`")  # beyond accrual + follow_up
  expect_error(design(timing = "information", looks = c(0.5, 1.5)), "`looks`")
  expect_error(design(looks = seq(0.5, 5.5, by = 0.5)), "`looks`")  # 11 analyses
  expect_error(design(rule = 5), "`rule`")
  expect_error(design(copula = "gumbel"), "`copula`")
  expect_error(design(spending = "obf"), "`spending`")
  expect_error(design(spending = sf_cumulative(c(0.01, 0.025))), "sf_cumulative")
  expect_error(design(n = 0), "`n`")
  expect_error(design(nsim = -1), "`nsim`")
  expect_error(design(n = 2e9, nsim = 10), "`n` must be at most 1000000 subjects when trials are simulated")
  expect_error(design(seed = 0), "`seed`")
  expect_error(design(mvn_accuracy = 1), "`mvn_accuracy`")
  expect_error(sf_power(-1), "`phi`")
  expect_error(sf_hsd(0), "`gamma`")
  # The limits shared with the deck checks and kestrel_bounds().
  expect_error(design(alpha = 1e-16), "`alpha` must be a one-sided significance level in \\[1e-06, 0.5\\]")
  expect_error(design(alpha = 0.6), "`alpha`")
  expect_error(design(power = 1e-9), "`power` must be above `alpha`")
  expect_error(design(alpha = 0.4, power = 0.3), "`power` must be above `alpha`")
  expect_error(design(nsim = 2147483647), "`nsim`")
  expect_error(design(timing = "information", looks = c(0.5, 0.9)), "last must be 1")
  # A final calendar look written as accrual + follow_up (1.2 + 1.4 rounds below 2.6).
  expect_true(1.2 + 1.4 < 2.6)
  expect_s3_class(design(accrual = 1.2, follow_up = 1.4, looks = c(1.3, 2.6), n = 300),
                  "kestrel_design")
  expect_error(kestrel_design(accrual = 1, follow_up = 1, survival = 0.5), "`hr`")
  # Futility stops: every problem of the argument in one message.
  three <- c(1, 3, 5)
  for (case in list(
    list(list(z = 0), 5, "`futility` needs at least one interim analysis"),
    list(list(z = c(0, 0, 0)), three, "`z` must be 2 values, one per interim analysis \\(none for the final"),
    list(list(hr = c(1, -1)), three, "`hr` must be hazard-ratio thresholds .* above 0"),
    list(list(hr = c(1, Inf)), three, "`hr` must be hazard-ratio"),
    list(list(z = c(0, 8)), three, "`z` must be futility bounds from -8"),
    list(list(spending = 3), three, "`parameter` must be the power family's phi, above 0 for spending code 3 \\(got NULL\\)"),
    list(list(spending = 4, parameter = 0), three, "Hwang-Shih-DeCani gamma, other than 0"),
    list(list(spending = 1, parameter = 2), three, "`parameter` must be NULL for spending code 1"),
    list(list(spending = 7), three, "`spending` must be a beta-spending code 1 to 6"),
    list(list(spending = 5, values = c(0.1, 0.05, 0.2), foo = 1), three,
         "`futility` has 2 problems:\n  - `futility` has unknown element `foo`.*\n  - .*`values` must be 3 cumulative beta values"),
    list(list(spending = 5, values = c(0.05, 0.1, 0.3)), three, "the last equal to 1 - power = 0.2"),
    list(list(z = c(0, 0), hr = c(1, 1)), three, "must name one way .* \\(got `z` and `hr`\\)"),
    list("obf", three, "`futility` must be NULL \\(no futility stops\\) or a list"),
    list(list(z = c(3, 3)), three, "`futility` must give bounds below the efficacy bounds: at analysis 2 the futility bound of EP1 .*, z 3, lies above")))
    expect_error(design(looks = case[[2]], futility = case[[1]], n = 300), case[[3]])
  expect_error(design(binding = TRUE), "`binding` must be FALSE when there are no futility stops")
  expect_error(design(looks = three, futility = list(z = c(0, 0)), binding = NA), "`binding` must be TRUE or FALSE")
})

test_that("one analysis gives each endpoint the fixed design's bound", {
  d <- design()
  expect_s3_class(d, "kestrel_design")
  s <- d$sets[[1]]
  expect_equal(s$label, "calendar")
  expect_equal(s$ep1$zb, qnorm(1 - 0.025), tolerance = 1e-6)
  expect_equal(s$ep2$zb, qnorm(1 - 0.025), tolerance = 1e-6)
  # The single-endpoint drift is the sum of the normal quantiles of 1 - alpha and of the power.
  expect_equal(s$ep1$drift, qnorm(0.975) + qnorm(0.8), tolerance = 1e-4)
  # Rule 1 at one analysis: both endpoints must cross, so the size is at least each endpoint's own.
  expect_gte(s$MSS, max(s$ep1$subjects, s$ep2$subjects) - 1)
})

test_that("the searched size reaches the power and one subject fewer does not", {
  d <- design()
  s <- d$sets[[1]]
  expect_gte(s$APW, 0.8)
  below <- design(n = s$MSS - 1)
  expect_equal(below$sets[[1]]$MSS, s$MSS - 1)
  expect_lt(below$sets[[1]]$APW, 0.8)
  same <- design(n = s$MSS)
  expect_equal(same$sets[[1]]$APW, s$APW, tolerance = 1e-6)
})

test_that("the same seed repeats the simulation and another seed moves it", {
  run <- function(seed) design(n = 300, nsim = 200, seed = seed)$sets[[1]]$simulation
  a <- run(99)
  b <- run(99)
  c <- run(100)
  expect_identical(a, b)
  expect_false(identical(a, c))
  expect_true(a$PWC >= 0 && a$PWC <= 1)
})

test_that("methods give the boundary table, a summary and a plot", {
  d <- design(timing = "information", looks = c(0.5, 1), rule = "sequence",
              spending = list(sf_obf(), sf_power(3)), mvn_accuracy = 1e-6)
  df <- as.data.frame(d)
  expect_equal(nrow(df), 2 * 2 * 2)  # sets x endpoints x analyses
  expect_setequal(unique(df$set), c("EP1", "EP2"))
  expect_equal(df$upper_z[df$set == "EP1" & df$endpoint == "EP1"], d$sets[[1]]$ep1$zb)
  expect_equal(df$information_fraction[df$set == "EP2" & df$endpoint == "EP2"][2], 1,
               tolerance = 1e-6)
  expect_true(all(diff(df$calendar_time[df$set == "EP1" & df$endpoint == "EP1"]) > 0))
  expect_true(all(is.na(df$lower_z)))  # one-sided designs have no lower bound
  out <- capture.output(print(d))
  expect_true(any(grepl(sprintf("Maximum sample size %d", d$sets[[1]]$MSS), out)))
  expect_true(any(grepl("EP2 bounds \\(power family \\(phi = 3\\)", out)))
  sm <- capture.output(print(summary(d)))
  expect_true(any(grepl("sample_size", sm)))
})

test_that("the deck values carry the hazard ratios control over treatment", {
  d <- design()
  expect_equal(d$deck$values$HR1, 1 / 0.7)
  expect_equal(d$deck$values$HR2, 1 / 0.75)
  expect_equal(d$deck$values$ITIME, 3L)
  expect_equal(d$settings$hr, c(0.7, 0.75))
  expect_equal(d$settings$timing, "calendar")
})

test_that("a long calculation stops on R's interrupt and the session goes on", {
  # An elapsed-time limit is raised where R checks for the user's interrupt; the search of a
  # four-analysis design at full accuracy runs far longer than the limit.
  stopped <- tryCatch({
    setTimeLimit(elapsed = 1, transient = TRUE)
    design(looks = c(0.25, 0.5, 0.75, 1), timing = "information_ep2", rule = "same")
    "finished"
  }, interrupt = function(e) "interrupted", error = function(e) conditionMessage(e),
  finally = setTimeLimit())
  expect_equal(stopped, "interrupted")
  expect_s3_class(design(), "kestrel_design")
})

# Words of the program's input decks and command line that no R error may use.
deck_words <- paste0("\\b(NSIM|ITIME|CPL|CPRSK|CMPST|MSSG|HR[12]|HR[12]TR|RHO|RHOTR|TA|TF|",
                     "SRVR[12]|SR|CNSRD|TYPE1|RSV1|POWER|DF|LOOK|CRIVL|ESF[12]|TLOOK|PHI)\\b|",
                     "null value|slash|comma-separated|--[a-z]|deck value|design 1:")

test_that("every argument with a bad value is an R error naming it in R terms", {
  d <- design()
  bad <- list(
    list("hr", function() design(hr = c(0.7, 1))), list("hr", function() design(hr = 5000)),
    list("hr", function() design(hr = "a")), list("hr", function() design(hr = c(1.2, 0.8))),
    list("rho", function() design(rho = 1)), list("rho_sim", function() design(rho_sim = -0.2)),
    list("hr_sim", function() design(hr_sim = 0)),
    list("looks", function() design(looks = c(3, 2))),
    list("looks", function() design(timing = "information", looks = c(0.5, 1.2))),
    list("timing", function() design(timing = "events")), list("rule", function() design(rule = 7)),
    list("alpha", function() design(alpha = 0.6)), list("alpha", function() design(alpha = 1e-7)),
    list("power", function() design(power = 0.01)), list("power", function() design(power = 1)),
    list("copula", function() design(copula = "gumbel")),
    list("competing", function() design(competing = 4)),
    list("composite", function() design(composite = NA)),
    list("critical", function() design(critical = "max")),
    list("accrual", function() design(accrual = -1)),
    list("follow_up", function() design(follow_up = "3")),
    list("survival", function() design(survival = c(0.3, 0))),
    list("allocation", function() design(allocation = 1)),
    list("allocation", function() design(allocation = 0.55, nsim = 10)),
    list("spending", function() design(spending = list(sf_obf()))),
    list("spending (EP2)", function() design(spending = list(sf_obf(), sf_cumulative(c(0.01, 0.02))))),
    list("n", function() design(n = 2.5)), list("nsim", function() design(nsim = -3)),
    list("censor", function() design(censor = "yes")), list("seed", function() design(seed = 0)),
    list("mvn_accuracy", function() design(mvn_accuracy = 0.1)),
    list("verbose", function() design(verbose = "loud")),
    list("alpha", function() kestrel_bounds(alpha = 1.5)),
    list("sides", function() kestrel_bounds(sides = 3)),
    list("spending", function() kestrel_bounds(spending = list(sf_obf(), sf_obf()))),
    list("spending", function() kestrel_bounds(spending = sf_cumulative(0.01))),
    list("times", function() kestrel_bounds(times = c(0.5, 0.5, 1))),
    list("times", function() kestrel_bounds(times = "0.5,1")),
    list("power", function() kestrel_bounds(power = 0)),
    list("hr", function() kestrel_bounds(hr = 1)),
    list("accrual", function() kestrel_bounds(accrual = -1)),
    list("follow_up", function() kestrel_bounds(accrual = 0, follow_up = 0)),
    list("survival", function() kestrel_bounds(survival = 1)),
    list("allocation", function() kestrel_bounds(allocation = NA)),
    list("phi", function() sf_power(0)), list("gamma", function() sf_hsd(0)),
    list("values", function() sf_cumulative(c(0.02, 0.01))),
    list("path", function() kestrel_deck(3)),
    list("path", function() kestrel_deck(file.path(tempdir(), "no-such-deck.txt"))),
    list("designs", function() kestrel_write_deck(list(1), tempfile())),
    list("title", function() kestrel_write_deck(d, tempfile(), title = "it's")),
    list("title", function() kestrel_write_deck(d, tempfile(), title = strrep("x", 81))),
    list("set", function() sample_size(d, "EP1")), list("set", function() boundaries(d, 1)),
    list("simulated", function() power(d, simulated = NA)),
    list("type", function() plot(d, type = "forest")),
    list("sizes", function() plot(d, type = "power", sizes = 100)))
  for (case in bad) {
    err <- tryCatch({
      case[[2]]()
      "no error"
    }, error = conditionMessage)
    expect_true(grepl(paste0("`", case[[1]], "`"), err, fixed = TRUE), info = err)
    expect_false(grepl(deck_words, err, perl = TRUE), info = err)
  }
})

test_that("accessors give the results by name, as the report and the documented formulas say", {
  d <- design(timing = "information", looks = c(0.5, 1), rule = "sequence", mvn_accuracy = 1e-6)
  expect_named(sample_size(d), c("EP1", "EP2"))
  for (set in c("EP1", "EP2")) {
    s <- d$sets[[set]]
    expect_identical(sample_size(d, set), stats::setNames(s$MSS, set))
    expect_identical(power(d, set), stats::setNames(s$APW, set))
    # The report's summary line carries the same size, power and events.
    fields <- strsplit(trimws(s$summary_line), "[ ,]+")[[1]]
    expect_true(all(c(as.character(s$MSS), sprintf("%.4f", 100 * s$APW)) %in% fields))
    # Events: the maximum sample size times the probability of an event during the study
    # (Simpson's rule over uniform entry), rounded up.
    ev <- events(d, set)
    st <- d$settings
    for (j in 1:2) {
      rate <- -log(st$survival[j]) / (st$accrual + st$follow_up)
      sbar <- function(t) (1 - st$allocation) * exp(-rate * t) +
        st$allocation * exp(-rate * st$hr[j] * t)
      p <- 1 - (sbar(st$follow_up) + 4 * sbar(st$follow_up + st$accrual / 2) +
                  sbar(st$accrual + st$follow_up)) / 6
      expect_equal(ev$maximum[j], ceiling(s$MSS * p))
      # The events curve of the plot is the exact integral Simpson's rule approximates.
      expect_equal(unname(kestrel:::expected_events_by_time(d, s$MSS, st$accrual +
                                                              st$follow_up)[, j]) / s$MSS, p,
                   tolerance = 1e-3)
    }
    b <- boundaries(d, set)
    expect_equal(b$events[b$endpoint == "EP1"], ev$maximum[1] * b$information_fraction[b$endpoint == "EP1"])
    expect_equal(b$hr_at_bound, exp(-b$upper_z_used / sqrt(0.25 * b$events)))
    expect_true(all(is.na(b$lower_z)))
  }
  # The analyses of each set are where its endpoint reaches the fractions (to the search's
  # accuracy).
  expect_lt(abs(boundaries(d, "EP1")$information_fraction[1] - 0.5), 0.01)
  expect_lt(abs(boundaries(d, "EP2")$information_fraction[3] - 0.5), 0.01)
  # The boundary table, then the assumptions of the design.
  expect_identical(as.data.frame(d)[names(boundaries(d))], boundaries(d))
  res <- as.data.frame(summary(d))
  expect_identical(res, d$results)
  expect_identical(res$sample_size, unname(sample_size(d)))
  expect_equal(res$events_ep1, events(d)$maximum[c(1, 3)])
  expect_error(d$n, "sample_size\\(\\)")
  expect_error(d$num, "no element")
  expect_identical(d[["settings"]], d$settings)
  # A list of designs: one row per design and set.
  designs <- kestrel_designs(list(d, design(), design(n = 500)))
  grid <- as.data.frame(designs)
  expect_equal(grid$design, c(1, 1, 2, 3))
  expect_equal(grid$set, c("EP1", "EP2", "calendar", "calendar"))
  expect_equal(grid$sample_size[4], 500)
  expect_true(is.na(grid$simulated_power[1]))
  expect_s3_class(designs[2:3], "kestrel_designs")
  expect_output(print(designs), "3 Kestrel designs")
  expect_equal(power(0.5), stats::power(0.5))  # the stats link function still answers
})

test_that("set.seed() repeats a simulation and the seed used is kept", {
  run <- function() design(n = 300, nsim = 100)
  set.seed(11)
  a <- run()
  set.seed(11)
  b <- run()
  c <- run()
  expect_identical(a$seed, b$seed)
  expect_identical(a$sets[[1]]$simulation, b$sets[[1]]$simulation)
  expect_false(identical(a$seed, c$seed))
  expect_identical(design(n = 300, nsim = 100, seed = a$seed)$sets[[1]]$simulation,
                   a$sets[[1]]$simulation)
  expect_equal(power(a, simulated = TRUE), c(calendar = a$sets[[1]]$simulation$PWC))
})

test_that("verbose = TRUE shows readable progress, \"trace\" the calculation's own lines", {
  msgs <- character()
  d <- withCallingHandlers(design(verbose = TRUE), message = function(m) {
    msgs <<- c(msgs, conditionMessage(m))
    invokeRestart("muffleMessage")
  })
  expect_match(msgs[1], "Design 1 of 1")
  expect_true(any(grepl("calendar analyses: sample-size search", msgs)))
  expect_true(any(grepl(sprintf("result: %d subjects, power %.2f%%", sample_size(d),
                                100 * power(d)), msgs, fixed = TRUE)))
  trace <- capture.output(design(verbose = "trace"))
  expect_true(any(grepl("ITERATION STARTS", trace)))
  expect_silent(design())
})

test_that("every plot type draws to a file, with titles and colours passed on", {
  d <- design(timing = "information", looks = c(0.5, 1), rule = "sequence", mvn_accuracy = 1e-6)
  for (type in c("bounds", "hr", "spending", "power", "events")) {
    f <- tempfile(fileext = ".png")
    grDevices::png(f, width = 480, height = 480)
    drawing <- function() plot(d, type = type, main = "x", xlab = "t", col = c("black", "grey"),
                               sizes = if (type == "power") c(300, 600) else NULL, las = 1)
    # The power plot says which of its sizes it is calculating.
    if (type == "power") expect_message(drawing(), "the power at 2 sizes") else
      expect_silent(drawing())
    grDevices::dev.off()
    expect_gt(file.info(f)$size, 2000)
  }
})
