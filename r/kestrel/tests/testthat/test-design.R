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
  expect_error(design(seed = 0), "`seed`")
  expect_error(design(mvn_accuracy = 1), "`mvn_accuracy`")
  expect_error(sf_power(-1), "`phi`")
  expect_error(sf_hsd(0), "`gamma`")
  # The limits shared with the deck checks and kestrel_bounds().
  expect_error(design(alpha = 1e-16), "`alpha`.*1e-6 to 0.5")
  expect_error(design(alpha = 0.6), "`alpha`")
  expect_error(design(power = 1e-9), "`power` must exceed `alpha`")
  expect_error(design(alpha = 0.4, power = 0.3), "`power` must exceed `alpha`")
  expect_error(design(nsim = 2147483647), "`nsim`")
  expect_error(design(timing = "information", looks = c(0.5, 0.9)), "last must be 1")
  # A final calendar look written as accrual + follow_up (1.2 + 1.4 rounds below 2.6).
  expect_true(1.2 + 1.4 < 2.6)
  expect_s3_class(design(accrual = 1.2, follow_up = 1.4, looks = c(1.3, 2.6), n = 300),
                  "kestrel_design")
  expect_error(kestrel_design(accrual = 1, follow_up = 1, survival = 0.5), "`hr`")
})

test_that("one analysis gives each endpoint the fixed design's bound", {
  d <- design()
  expect_s3_class(d, "kestrel_design")
  s <- d$sets[[1]]
  expect_equal(s$label, "CALND")
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
  expect_true(any(grepl("MSS", sm)))
  f <- tempfile(fileext = ".pdf")
  grDevices::pdf(f)
  expect_silent(plot(d))
  grDevices::dev.off()
  expect_gt(file.info(f)$size, 1000)
})

test_that("the deck values carry the hazard ratios control over treatment", {
  d <- design()
  expect_equal(d$values$HR1, 1 / 0.7)
  expect_equal(d$values$HR2, 1 / 0.75)
  expect_equal(d$values$ITIME, 3L)
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
