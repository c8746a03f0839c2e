# The web application's parts that need no browser: its table of inputs against
# kestrel_design()'s arguments, the form's checks against kestrel_design()'s own messages, the R
# code panel run in a fresh R session, and the files a design gives against the program's.

# The form's values as the page holds them: every control with its starting text, then `set`.
form <- function(...) {
  fields <- kestrel:::app_fields()
  values <- list()
  for (f in fields) {
    ids <- kestrel:::field_inputs(f)
    values[ids] <- switch(f$type,
      pair = list(kestrel:::field_text(f, 1L), kestrel:::field_text(f, 2L)),
      spending = list("obf", "obf", "", ""),
      futility = list("none", ""),
      choice = list(f$default), flag = list(isTRUE(f$default)),
      list(kestrel:::field_text(f)))
  }
  utils::modifyList(values, list(...))
}

checked <- function(values) {
  a <- kestrel:::app_arguments(values)
  list(args = a$args, errors = kestrel:::app_check(a$args, errors = a$errors))
}

test_that("the form has one field per argument of kestrel_design(), with its defaults", {
  fields <- kestrel:::app_fields()
  args <- setdiff(names(formals(kestrel_design)), "verbose")
  expect_setequal(names(fields), args)
  expect_true(all(vapply(fields, function(f) f$group, "") %in% names(kestrel:::app_groups)))
  # The untouched form is kestrel_design()'s defaults plus the starting values of the required
  # arguments, and passes every check.
  x <- checked(form())
  expect_equal(x$errors, list())
  expect_equal(x$args[c("alpha", "power", "rule", "copula", "timing", "nsim", "allocation")],
               list(alpha = 0.025, power = 0.8, rule = "any", copula = "clayton",
                    timing = "information", nsim = 0, allocation = 0.5))
  expect_null(x$args[["n"]])
  expect_null(x$args$hr_sim)
})

test_that("a bad value gets kestrel_design()'s own message, next to its field", {
  cases <- list(
    list(set = list(rho = "1.5"), field = "rho"),
    list(set = list(hr_1 = "abc"), field = "hr"),
    list(set = list(hr_1 = "1.2"), field = "hr"),
    list(set = list(power = "0.01"), field = "power"),
    list(set = list(looks = "0.5, 0.4, 1"), field = "looks"),
    list(set = list(accrual_time = "1, 3", accrual_intensity = "1, 2"), field = "accrual_time"),
    list(set = list(seed = "1.5"), field = "seed"),
    list(set = list(nsim = "10", allocation = "0.55"), field = "allocation"),
    list(set = list(accrual = ""), field = "accrual"),
    list(set = list(timing = "calendar", looks = "1, 9"), field = "looks"),
    list(set = list(futility_kind = "z", futility_values = "0"), field = "futility"),
    list(set = list(looks = "0.5, 1", futility_kind = "spending", futility_values = "3"),
         field = "futility"),
    list(set = list(binding = TRUE), field = "binding"))
  for (case in cases) {
    x <- checked(do.call(form, case$set))
    expect_named(x$errors, case$field)
    own <- tryCatch(do.call(kestrel_design, x$args), error = conditionMessage)
    expect_identical(x$errors[[case$field]], own, info = case$field)
  }
  # Every wrong field at once, each with its own message; a spending parameter its constructor's.
  x <- checked(form(rho = "-1", nsim = "0.5", mvn_accuracy = "1", spending_family_2 = "power"))
  expect_setequal(names(x$errors), c("rho", "nsim", "mvn_accuracy", "spending"))
  expect_match(x$errors$nsim, "^`nsim` must be a whole number")
  expect_match(x$errors$spending, "^EP2 \\(power family \\(phi\\)\\): `phi` must be")
})

test_that("the R code panel's code gives the same design in a fresh R session", {
  x <- checked(form(hr_1 = "0.72", hr_2 = "0.8", rho = "0.35", looks = "0.4 0.7 1",
                    timing = "information_ep2", rule = "sequence", power = "0.85",
                    dropout_1 = "0.05", dropout_2 = "0.03", dropout_time = "1",
                    accrual_time = "0.5, 2", accrual_intensity = "1, 3",
                    spending_family_2 = "hsd", spending_parameter_2 = "-2",
                    hazards_time_1 = "0, 0.5", hazards_hazard_1 = "0.6, 0.3",
                    hazards_hr_1 = "1, 0.65", mvn_accuracy = "1e-6",
                    futility_kind = "spending", futility_values = "4, -2", binding = TRUE))
  expect_equal(x$errors, list())
  d <- do.call(kestrel_design, x$args)
  code <- kestrel:::app_r_code(x$args, d$seed)
  expect_match(code, "spending = list(sf_obf(), sf_hsd(-2))", fixed = TRUE)
  expect_match(code, "hazards = list(list(time = c(0, 0.5), hazard = c(0.6, 0.3), hr = c(1, 0.65)), NULL)",
               fixed = TRUE)
  expect_match(code, "futility = list(spending = 4, parameter = -2),\n  binding = TRUE", fixed = TRUE)
  expect_false(grepl("alpha =", code, fixed = TRUE))  # defaults are left out
  script <- tempfile(fileext = ".R")
  writeLines(c(sub("print(d)\nsample_size(d); power(d)\n", "", code, fixed = TRUE),
               "cat(sprintf('%d %.17g', sample_size(d), power(d)))"), script)
  out <- system2(file.path(R.home("bin"), "Rscript"), c("--vanilla", script), stdout = TRUE,
                 env = paste0("R_LIBS=", paste(.libPaths(), collapse = .Platform$path.sep)))
  expect_identical(out, sprintf("%d %.17g", sample_size(d), power(d)))
})

test_that("the files of a design: the program's report of its deck, the tables, the code", {
  x <- checked(form(looks = "0.5, 1", timing = "information_ep2", mvn_accuracy = "1e-6",
                    seed = "99", dropout_1 = "0.02"))
  dir <- tempfile("kestrel-app")
  dir.create(dir)
  kestrel:::app_job(x$args, dir)
  expect_false(file.exists(file.path(dir, "error.txt")))
  expect_true(all(file.exists(file.path(dir, c("design.done", "plots.done", "files.done",
                                               "plot-power.png", "kestrel-report.html")))))
  d <- readRDS(file.path(dir, "design.rds"))
  csv <- utils::read.csv(file.path(dir, "kestrel-tables.csv"))
  expect_equal(nrow(csv), 4L)
  expect_equal(unique(csv$sample_size), sample_size(d)[["EP2"]])
  json <- readLines(file.path(dir, "kestrel-results.json"))
  expect_true(any(grepl(sprintf('"MSS": %d,', sample_size(d)[["EP2"]]), json, fixed = TRUE)))
  skip_without_program()
  run <- tempfile("kestrel-run")
  dir.create(file.path(run, "a"), recursive = TRUE)
  file.copy(file.path(dir, "kestrel-deck.txt"), file.path(run, "a", "input.txt"))
  status <- system2(kestrel_program(), c("-C", run, "--seed", "99", "--mvn-accuracy", "1e-6"),
                    stdout = FALSE, stderr = FALSE)
  expect_equal(status, 0L)
  same <- function(f) identical(readBin(file.path(run, "a", f), "raw", 1e7),
                                readBin(file.path(dir, f), "raw", 1e7))
  expect_true(same("kestrel-report.html"))
  expect_true(same("kestrel-results.json"))
})

test_that("run_app() names the package it misses", {
  expect_error(kestrel:::require_packages(c("stats", "no.such.package"), "run_app()"),
               "run_app() needs the R package no.such.package, which is not installed", fixed = TRUE)
  expect_error(run_app(port = 0.5), "`port` must be a whole number from 1 to 65535", fixed = TRUE)
})
