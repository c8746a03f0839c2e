# kestrel_bounds(): the fixed design, the program's CSV, and bad arguments.

test_that("one analysis is the fixed design", {
  b <- kestrel_bounds(alpha = 0.025, power = 0.9, hr = 0.7)
  expect_equal(nrow(b), 1L)
  expect_equal(b$upper, qnorm(0.975), tolerance = 1e-6)
  expect_equal(b$drift, qnorm(0.975) + qnorm(0.9), tolerance = 1e-4)
  expect_equal(b$alpha_cumulative, 0.025, tolerance = 1e-9)
})

test_that("Pocock-type spending: the first bound spends alpha log(1 + (e - 1) t), the rest adds up", {
  b <- kestrel_bounds(spending = sf_pocock(), times = c(1, 2, 3) / 3)
  first <- 0.025 * log(1 + (exp(1) - 1) / 3)
  expect_equal(b$alpha_spent[1], first, tolerance = 1e-8)
  expect_equal(b$upper[1], qnorm(1 - first), tolerance = 1e-6)
  expect_equal(sum(b$alpha_spent), 0.025, tolerance = 1e-8)
  expect_equal(b$alpha_cumulative[3], 0.025, tolerance = 1e-8)
})

test_that("the table equals `kestrel bounds --csv`, columns and digits", {
  skip_without_program()
  b <- kestrel_bounds(alpha = 0.05, sides = 2, spending = sf_power(2), times = c(0.25, 0.6, 1),
                      power = 0.85, hr = 0.75, accrual = 2, follow_up = 1.5, survival = 0.4,
                      allocation = 0.6)
  csv <- system2(kestrel_program(), c("bounds", "--alpha", "0.05", "--sides", "2", "--spending",
                                      "3", "--phi", "2", "--times", "0.25,0.6,1", "--power", "0.85",
                                      "--hr", "0.75", "--accrual", "2", "--follow-up", "1.5",
                                      "--survival", "0.4", "--allocation", "0.6", "--csv"),
                 stdout = TRUE)
  prog <- utils::read.csv(text = csv)
  expect_identical(names(b), names(prog))
  # The program prints the shortest text that reads back to the same double.
  for (col in names(b)) expect_identical(as.numeric(b[[col]]), as.numeric(prog[[col]]), info = col)
})

test_that("bad arguments are R errors naming the argument", {
  expect_error(kestrel_bounds(alpha = 1.5), "alpha")
  # The limits shared with the deck checks and kestrel_design(), in R's words.
  for (a in c(1e-16, 1e-300, 5e-324, 1e-8, 0.6, 0.9999))
    expect_error(kestrel_bounds(alpha = a, times = c(0.5, 1)),
                 "`alpha` must be a one-sided significance level in \\[1e-06, 0.5\\]")
  expect_error(kestrel_bounds(alpha = 1.5, sides = 2), "two-sided significance level")
  expect_error(kestrel_bounds(power = 1e-9), "`power` must be above the one-sided significance level")
  expect_error(kestrel_bounds(spending = structure(list(code = 3L, phi = -1), class = "kestrel_spending")),
               "`spending` must be a power-family spending function with phi above 0")
  expect_error(kestrel_bounds(times = c(0.5, 0.4, 1)), "times")
  expect_error(kestrel_bounds(times = "a"), "`times`")
  expect_error(kestrel_bounds(sides = 3), "sides")
  expect_error(kestrel_bounds(hr = 1), "hr")
  expect_error(kestrel_bounds(accrual = 0, follow_up = 0), "follow_up")
  expect_error(kestrel_bounds(spending = 1), "`spending`")
  expect_error(kestrel_bounds(spending = sf_cumulative(c(0.01, 0.025)), times = 1), "cumulative")
  expect_error(kestrel_bounds(futility = list(spending = 1)), "`futility` needs at least one interim")
  expect_error(kestrel_bounds(times = c(0.5, 1), sides = 2, futility = list(z = 0)),
               "`futility` applies to one-sided designs only")
  expect_error(kestrel_bounds(times = c(0.5, 1), futility = list(hr = c(0.9, 1))),
               "`hr` must be 1 value, one per interim analysis")
  expect_error(kestrel_bounds(times = c(0.5, 1), binding = TRUE), "`binding` must be FALSE")
  expect_error(kestrel_bounds(times = c(0.3, 0.6, 1), futility = list(hr = c(0.5, 0.5))),
               "`futility` must give bounds below the efficacy bounds: at analysis 1 the futility bound, hazard ratio 0.5")
})

test_that("exact = TRUE gives the exact bounds and the exact model of a design", {
  b <- kestrel_bounds(times = c(0.5, 0.75, 1), exact = TRUE)
  expect_equal(b$upper, c(2.962588, 2.359018, 2.014084), tolerance = 1e-6)
  expect_equal(sum(b$alpha_spent), 0.025, tolerance = 1e-9)
  expect_error(kestrel_bounds(exact = NA), "`exact`")
  args <- list(hr = 0.7, rho = 0.5, looks = c(3, 5), timing = "calendar", accrual = 2,
               follow_up = 3, survival = c(0.3, 0.4), allocation = 0.75, seed = 1,
               mvn_accuracy = 1e-6)
  d0 <- do.call(kestrel_design, args)
  d1 <- do.call(kestrel_design, c(args, exact = TRUE))
  expect_true(grepl("--exact", d1$report, fixed = TRUE))
  expect_false(grepl("--exact", d0$report, fixed = TRUE))
})

test_that("a one-sided table has NA where the program's CSV carries -8, the rest equal", {
  skip_without_program()
  b <- kestrel_bounds(times = c(0.5, 1), spending = sf_pocock())
  csv <- system2(kestrel_program(), c("bounds", "--times", "0.5,1", "--spending", "2", "--csv"),
                 stdout = TRUE)
  prog <- utils::read.csv(text = csv)
  expect_equal(prog$lower, c(-8, -8))
  expect_true(all(is.na(b$lower)) && all(is.na(b$nominal_lower)))
  for (col in setdiff(names(b), c("lower", "nominal_lower")))
    expect_identical(as.numeric(b[[col]]), as.numeric(prog[[col]]), info = col)
})

test_that("futility bounds of -8 stop nothing: the table of the design without futility stops", {
  # -8 is the documented "stops nothing" value; the session used to abort here.
  expect_equal(kestrel_bounds(times = c(0.5, 1), futility = list(z = -8)),
               kestrel_bounds(times = c(0.5, 1)))
  expect_equal(kestrel_bounds(times = c(1, 2, 3) / 3, futility = list(z = c(-8, -8)),
                              binding = TRUE, exact = TRUE),
               kestrel_bounds(times = c(1, 2, 3) / 3, exact = TRUE))
  # A loss that leaves no one by the end of the study is refused by the calculation.
  expect_error(suppressWarnings(kestrel_bounds(dropout = 1e300)),
               "loses every subject long before the end")
})
