# Loss to follow-up and accrual pieces: kestrel_bounds and kestrel_design take them, the deck
# written by kestrel_write_deck carries them, and bad values name the argument.

test_that("loss and accrual pieces change the subjects of kestrel_bounds as the program does", {
  plain <- kestrel_bounds(times = c(0.5, 1), accrual = 2, follow_up = 1, survival = 0.4)
  lossy <- kestrel_bounds(times = c(0.5, 1), accrual = 2, follow_up = 1, survival = 0.4,
                          dropout = c(0.05, 0.15))
  expect_equal(lossy$events, plain$events)
  expect_gt(lossy$subjects[1], plain$subjects[1])
  # 10 % lost by time 2 in both arms is the hazard -log(0.9)/2.
  by_time <- kestrel_bounds(times = c(0.5, 1), accrual = 2, follow_up = 1, survival = 0.4,
                            dropout = 0.1, dropout_time = 2)
  as_hazard <- kestrel_bounds(times = c(0.5, 1), accrual = 2, follow_up = 1, survival = 0.4,
                              dropout = -log(0.9) / 2)
  expect_equal(by_time, as_hazard)
  skip_without_program()
  b <- kestrel_bounds(times = c(0.5, 1), accrual = 2, follow_up = 1, survival = 0.4,
                      accrual_time = c(1, 2), accrual_intensity = c(1, 3), dropout = 0.1)
  csv <- system2(kestrel_program(), c("bounds", "--times", "0.5,1", "--accrual", "2",
                                      "--follow-up", "1", "--survival", "0.4", "--dropout", "0.1",
                                      "--accrual-pieces", "1,2", "--accrual-intensity", "1,3",
                                      "--csv"), stdout = TRUE)
  prog <- utils::read.csv(text = csv)
  expect_equal(b$subjects, prog$subjects)
})

test_that("kestrel_design: no loss is the plain design; the deck written reads back the same", {
  args <- list(hr = c(0.7, 0.75), rho = 0.3, looks = c(1.5, 5), timing = "calendar",
               accrual = 3, follow_up = 2, survival = c(0.3, 0.4), mvn_accuracy = 1e-6)
  plain <- do.call(kestrel_design, args)
  zero <- do.call(kestrel_design, c(args, list(dropout = 0)))
  expect_identical(zero$sets[[1]]$MSS, plain$sets[[1]]$MSS)
  d <- do.call(kestrel_design, c(args, list(dropout = c(0.05, 0.15), accrual_time = c(1, 2, 3),
                                            accrual_intensity = c(1, 2, 4))))
  expect_gt(d$sets[[1]]$MSS, plain$sets[[1]]$MSS)
  # The ramp leaves 2/7 of the sample enrolled at 1.5 (grid point just above).
  expect_equal(d$sets[[1]]$information$FENR[1], 2 / 7, tolerance = 0.01)
  path <- tempfile(fileext = ".txt")
  kestrel_write_deck(d, path)
  deck <- readLines(path)
  expect_true(any(grepl("^DROPOUT HAZARD", deck)))
  expect_true(any(grepl("^ACCRUAL 3", deck)))
  back <- kestrel_deck(path, mvn_accuracy = 1e-6)[[1]]
  expect_identical(back$sets[[1]]$MSS, d$sets[[1]]$MSS)
  expect_identical(back$sets[[1]]$ME1, d$sets[[1]]$ME1)
})

test_that("bad loss and accrual pieces name the argument", {
  base <- list(hr = c(0.7, 0.75), accrual = 3, follow_up = 2, survival = c(0.3, 0.4))
  cases <- list(
    list(list(dropout = -0.1), "`dropout`"),
    list(list(dropout = c(0.1, 0.2, 0.3)), "`dropout`"),
    list(list(dropout = 1, dropout_time = 2), "probabilities of loss in \\[0, 1\\)"),
    list(list(dropout = 0.1, dropout_time = 0), "`dropout_time`"),
    list(list(accrual_time = c(1, 2)), "go together"),
    list(list(accrual_time = c(1, 2), accrual_intensity = c(1, 2)), "`accrual_time`"),
    list(list(accrual_time = c(2, 1, 3), accrual_intensity = c(1, 2, 3)), "`accrual_time`"),
    list(list(accrual_time = c(1, 3), accrual_intensity = c(1, 0)), "`accrual_intensity`"),
    list(list(accrual_time = c(1, 3), accrual_intensity = c(1e308, 1e308)), "from 1e-100 to 1e100"),
    list(list(dropout = 0.5, dropout_time = 1e-320), "`dropout_time` must be a time long enough"),
    list(list(dropout = 1e300), "`dropout` \\(a hazard of loss of 1e\\+300 per time unit\\) loses every subject"),
    list(list(dropout = c(0, 141)), "times accrual \\+ follow_up must be at most 700"),
    list(list(accrual_time = c(seq(0.25, 2.75, 0.25), 3),
              accrual_intensity = rep(1, 12)), "1 to 10"))
  for (cs in cases) {
    expect_error(do.call(kestrel_design, c(base, cs[[1]])), cs[[2]])
  }
  expect_error(kestrel_bounds(dropout = -1), "`dropout`")
  # In R's words, never the command line's ("invalid value 'Inf,Inf' for --dropout").
  expect_error(kestrel_bounds(dropout = 0.5, dropout_time = 1e-320),
               "`dropout_time` must be a time long enough for a finite hazard")
})

test_that("exact = TRUE covers loss to follow-up and accrual pieces", {
  args <- list(hr = c(0.7, 0.75), rho = 0.3, looks = c(1.5, 5), timing = "calendar",
               accrual = 3, follow_up = 2, survival = c(0.3, 0.4), allocation = 0.75,
               mvn_accuracy = 1e-6, dropout = c(0.05, 0.15), accrual_time = c(1, 2, 3),
               accrual_intensity = c(1, 2, 4))
  d0 <- do.call(kestrel_design, args)
  d1 <- do.call(kestrel_design, c(args, list(exact = TRUE)))
  expect_true(grepl("--exact", d1$report, fixed = TRUE))
  expect_true(d1$exact)
  # Same events and enrolment; the alternative variances are the exact model's.
  expect_equal(d1$sets[[1]]$information$FENR, d0$sets[[1]]$information$FENR)
  expect_false(isTRUE(all.equal(d1$sets[[1]]$information$VAR11,
                                d0$sets[[1]]$information$VAR11)))
})
