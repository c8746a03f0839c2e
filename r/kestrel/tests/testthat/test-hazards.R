# Piecewise hazards: the constructors, kestrel_bounds against the program, kestrel_design with a
# delayed effect, the deck written by kestrel_write_deck, plot(d, "survival") and bad values.

test_that("hz_survival joins the stated survivals; a data frame is hz_piecewise", {
  h <- hz_survival(time = c(1, 3), survival = c(0.8, 0.4), hr = c(1, 0.7))
  expect_equal(h$time, c(0, 1))
  expect_equal(h$hazard, c(-log(0.8), log(2) / 2))
  expect_equal(h$hr, c(1, 0.7))
  expect_equal(kestrel:::hazards_survival(h, c(1, 3), "control"), c(0.8, 0.4))
  d <- data.frame(time = c(0, 1), hazard = c(0.2, 0.3), hr = 0.7)
  expect_equal(kestrel:::check_hazards(list(d, NULL))[[1]], hz_piecewise(c(0, 1), c(0.2, 0.3), 0.7))
})

test_that("kestrel_bounds with piecewise hazards gives what the program gives", {
  h <- hz_piecewise(time = c(0, 0.5, 1.5), hazard = c(0.9, 0.4, 0.2), hr = c(1, 0.7, 0.7))
  b <- kestrel_bounds(times = c(0.5, 1), accrual = 2, follow_up = 3, hazards = h)
  same <- kestrel_bounds(times = c(0.5, 1), accrual = 2, follow_up = 3,
                         hazards = data.frame(time = h$time, hazard = h$hazard, hr = h$hr))
  expect_equal(b, same)
  ph <- kestrel_bounds(times = c(0.5, 1), accrual = 2, follow_up = 3,
                       hazards = hz_piecewise(h$time, h$hazard, 0.7))
  expect_gt(b$events[1], ph$events[1])  # the delay costs events
  skip_without_program()
  csv <- system2(kestrel_program(), c("bounds", "--times", "0.5,1", "--accrual", "2",
                                      "--follow-up", "3", "--hazard-times", "0.5,1.5",
                                      "--hazards", "0.9,0.4,0.2", "--hazard-ratios", "1,0.7,0.7",
                                      "--csv"), stdout = TRUE)
  prog <- utils::read.csv(text = csv)
  expect_equal(b$events, prog$events)
  expect_equal(b$subjects, prog$subjects)
})

test_that("kestrel_design with a delayed effect: the deck written reads back the same", {
  args <- list(hr = c(0.65, 0.75), rho = 0.3, looks = c(0.5, 1), accrual = 2, follow_up = 3,
               survival = c(0.2, 0.4), mvn_accuracy = 1e-6)
  ph <- do.call(kestrel_design, args)
  d <- do.call(kestrel_design, c(args, list(hazards = list(
    hz_piecewise(c(0, 0.25, 1), c(1.2, 0.7, 0.35), c(1, 0.65, 0.65)),
    hz_survival(c(1, 5), c(0.85, 0.4), c(1, 0.75))))))
  expect_gt(d$sets[[1]]$MSS, ph$sets[[1]]$MSS)
  path <- tempfile(fileext = ".txt")
  kestrel_write_deck(d, path)
  deck <- readLines(path)
  expect_true(any(grepl("^HAZARDS EP1 3 ", deck)))
  expect_true(any(grepl("^HAZARDS EP2 SURVIVAL 2 ", deck)))
  back <- kestrel_deck(path, mvn_accuracy = 1e-6)[[1]]
  expect_identical(back$sets[[1]]$MSS, d$sets[[1]]$MSS)
  expect_identical(back$sets[[1]]$ME2, d$sets[[1]]$ME2)
  f <- tempfile(fileext = ".pdf")
  grDevices::pdf(f)
  expect_silent(plot(d, "survival"))
  grDevices::dev.off()
})

test_that("bad piecewise hazards name the argument", {
  expect_error(hz_piecewise(c(0.5, 1), c(1, 1), 0.7), "`time`")
  expect_error(hz_piecewise(c(0, 1), c(1, -1), 0.7), "`hazard`")
  expect_error(hz_piecewise(c(0, 1), c(1, 1), c(0.7, 0)), "`hr`")
  expect_error(hz_piecewise(0:10, rep(1, 11), 0.7), "`time`")
  expect_error(hz_survival(c(1, 2), c(0.5, 0.6), 0.7), "`survival`")
  expect_error(kestrel_design(hr = c(0.7, 0.7), accrual = 2, follow_up = 3, survival = c(0.3, 0.4),
                              hazards = list(1, 2)), "`hazards`")
})
