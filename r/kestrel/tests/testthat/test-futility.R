# Futility stops from R: the hand-written example deck against the same design built in R and
# written as a deck, the identities of the futility design, kestrel_bounds() against rpact's
# reference numbers and the program's CSV, and the methods.

# The design of examples/futility.txt (HR1 = HR2 = 1.4286 control over treatment).
example_args <- list(hr = 1 / 1.4286, rho = 0.5, looks = c(0.5, 0.75, 1),
                     timing = "information_ep2", rule = "same", copula = "frank", accrual = 2,
                     follow_up = 3, survival = c(0.3, 0.4), mvn_accuracy = 1e-6)

futility_figures <- function(d) {
  s <- d$sets[[1]]
  list(MSS = s$MSS, APW = s$APW, ASN = s$ASN, AVE = c(s$AVE1, s$AVE2), futility = s$futility,
       nulls = null_figures(d))
}

test_that("a design built in R with futility is the hand-written example deck, and the program's", {
  deck <- example_deck("futility.txt")
  if (!nzchar(deck)) skip("the example decks are not at hand (set KESTREL_SOURCE_DIR)")
  d <- do.call(kestrel_design, c(example_args, list(futility = list(spending = 1))))
  e <- kestrel_deck(deck, mvn_accuracy = 1e-6)[[1]]
  expect_identical(futility_figures(d), futility_figures(e))
  expect_equal(e$settings$futility, list(spending = 1L))
  expect_false(e$settings$binding)
  # The figures of the example in docs/deck.md: 713 subjects, futility stops 0.081 and 0.065.
  expect_equal(sample_size(d)[["EP2"]], 713L)
  expect_equal(d$sets[[1]]$futility$QFUT[1:2], c(0.081, 0.065), tolerance = 0.001 / 0.065)
  # Written as a deck: the statement, read back to the same design, and the program's reports.
  path <- tempfile(fileext = ".txt")
  kestrel_write_deck(d, path)
  expect_true("FUTILITY NONBINDING SPENDING 1" %in% readLines(path))
  expect_identical(futility_figures(kestrel_deck(path, mvn_accuracy = 1e-6)[[1]]),
                   futility_figures(d))
  skip_without_program()
  prog <- run_program(path, 4242L, c("--mvn-accuracy", "1e-6"))
  expect_equal(prog$status, 0L)
  expect_identical(bytes_after_lines(prog$main, 2L), charToRaw(d$report))
  expect_identical(file_lines(prog$summary)[-1], summary_lines(list(d)))
})

test_that("every way of giving the stops goes through the deck and back unchanged", {
  ways <- list(list(futility = list(spending = 4, parameter = -2), binding = TRUE),
               list(futility = list(spending = sf_power(2))),
               list(futility = list(spending = 5, values = c(0.02, 0.08, 0.2))),
               list(futility = list(z = c(0, 0.25)), binding = TRUE),
               list(futility = list(hr = c(1, 0.95))))
  for (w in ways) {
    d <- do.call(kestrel_design, c(example_args, w, list(n = 600)))
    path <- tempfile(fileext = ".txt")
    kestrel_write_deck(d, path)
    back <- kestrel_deck(path, mvn_accuracy = 1e-6)[[1]]
    expect_identical(back$deck$futility, d$deck$futility, info = futility_label(d$deck$futility))
    expect_identical(futility_figures(back), futility_figures(d))
  }
  expect_equal(d$settings$futility, list(hr = c(1, 0.95)))
})

test_that("futility bounds of -8 are the design without futility, figure for figure", {
  d0 <- do.call(kestrel_design, example_args)
  d8 <- do.call(kestrel_design, c(example_args, list(futility = list(z = c(-8, -8)))))
  for (f in c("MSS", "APW", "ASN", "AVE1", "AVE2", "QSTOP"))
    expect_identical(d8$sets[[1]][[f]], d0$sets[[1]][[f]], info = f)
  # A hazard ratio of 1 is z = 0; every stop lowers the power at a given size.
  d1 <- do.call(kestrel_design, c(example_args, list(n = sample_size(d0)[[1]],
                                                     futility = list(hr = c(1, 1)))))
  expect_equal(d1$sets[[1]]$futility$ZF1[1:2], c(0, 0))
  expect_lt(power(d1)[[1]], power(d0)[[1]])
  expect_lt(d1$sets[[1]]$ASN, d0$sets[[1]]$ASN + 1e-9)
})

test_that("kestrel_bounds() futility: rpact's bounds and the program's CSV", {
  # getDesignGroupSequential(kMax = 3, alpha = 0.025, beta = 0.1, sided = 1,
  #   typeOfDesign = "asOF", typeBetaSpending = "bsOF", informationRates = (1:3)/3,
  #   bindingFutility = TRUE), as in tests/boundaries/rpact_futility_reference.inc
  b <- kestrel_bounds(times = (1:3) / 3, futility = list(spending = 1), binding = TRUE,
                      exact = TRUE)
  expect_equal(b$upper, c(3.710302873263, 2.511394552886, 1.958784379065), tolerance = 1e-6)
  expect_equal(b$futility[1:2], c(-0.713367045501, 0.975835537072), tolerance = 1e-6)
  expect_equal(b$crossing_probability, c(0.035704839253, 0.538433797198, 0.325861363549),
               tolerance = 1e-6)
  expect_equal(b$futility_stop_alternative[1:2], c(0.004386100909, 0.039568232307),
               tolerance = 1e-6)
  expect_equal(b$type1_with_futility, rep(0.025, 3), tolerance = 1e-8)  # binding: exactly alpha
  # Hazard-ratio thresholds come back as given; the columns are the program's.
  h <- kestrel_bounds(times = c(0.3, 0.6, 1), hr = 0.75, futility = list(hr = c(1.05, 0.95)))
  expect_equal(h$futility_hr[1:2], c(1.05, 0.95), tolerance = 1e-12)
  skip_without_program()
  csv <- system2(kestrel_program(), c("bounds", "--times", "0.3,0.6,1", "--hr", "0.75",
                                      "--futility-hr", "1.05,0.95", "--csv"), stdout = TRUE)
  prog <- utils::read.csv(text = csv)
  expect_identical(names(h), names(prog))
  for (col in setdiff(names(h), c("lower", "nominal_lower")))
    expect_identical(as.numeric(h[[col]]), as.numeric(prog[[col]]), info = col)
})

test_that("a futility design's table, print, summary, plots and lists of designs", {
  d0 <- do.call(kestrel_design, c(example_args, list(n = 500)))
  d <- do.call(kestrel_design, c(example_args, list(n = 500, futility = list(z = c(0, 0.5)))))
  b <- as.data.frame(d)
  expect_equal(b$futility_z, c(0, 0.5, b$upper_z_used[3], 0, 0.5, b$upper_z_used[6]))
  expect_equal(b$futility_nominal_level[1], 0.5)
  expect_equal(b$futility_hr_at_bound[c(3, 6)], b$hr_at_bound[c(3, 6)])
  expect_equal(b$p_reach[1], 1)
  s <- d$sets[[1]]
  # The trial either succeeds or stops for futility at some analysis.
  expect_equal(sum(s$QSTOP) + sum(s$futility$QFUT), 1, tolerance = 1e-9)
  expect_equal(d$results$futility_stop, sum(s$futility$QFUT[1:2]))
  expect_null(as.data.frame(d0)$futility_z)
  out <- capture.output(print(d))
  expect_true(any(grepl("Futility stops at the interim analyses: z 0.0, 0.5; non-binding", out,
                        fixed = TRUE)))
  expect_true(any(grepl("^    EP1 null ", out)))
  expect_setequal(null_figures(d)$hypothesis, c("alternative", "global", "EP1 null", "EP2 null"))
  expect_null(null_figures(d0))
  # under_nulls = TRUE: the design without futility gets the same rows; without stops the
  # success with and without them agree, the alternative's is the power and no null spends more
  # than alpha.
  u <- null_figures(do.call(kestrel_design, c(example_args, list(n = 500, under_nulls = TRUE))))
  expect_identical(u$hypothesis, null_figures(d)$hypothesis)
  expect_identical(u$success, u$success_without_futility)
  expect_equal(u$success[1], power(d0)[[1]], tolerance = 1e-12)
  expect_equal(u$expected_sample_size[1], d0$sets[[1]]$ASN, tolerance = 1e-9)
  expect_true(all(u$success[-1] <= 0.025 + 1e-6))
  expect_true(all(c("p_reach", "p_futility") %in% names(summary(d)$analyses[[1]])))
  # Designs with and without stops in one table: NA where a design has none.
  both <- as.data.frame(kestrel_designs(list(d0, d)))
  expect_equal(both$futility_stop, c(NA, d$results$futility_stop))
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off())
  for (type in c("bounds", "hr")) expect_invisible(plot(d, type = type))
})

test_that("simulated trials stop for futility as often as calculated (within 4 standard errors)", {
  nsim <- 3000
  d <- do.call(kestrel_design, c(example_args, list(futility = list(spending = 1), n = 300,
                                                    nsim = nsim, seed = 11)))
  s <- d$sets[[1]]
  calc <- c(s$futility$QFUT[1:2], s$APW)
  sim <- c(s$simulation$F[1:2], s$simulation$PWC)
  expect_true(all(abs(sim - calc) < 4 * sqrt(calc * (1 - calc) / nsim)))
  expect_equal(summary(d)$analyses[[1]]$simulated_futility, c(sim[1:2], NA))
  expect_equal(d$results$simulated_futility_stop, sum(sim[1:2]))
})
