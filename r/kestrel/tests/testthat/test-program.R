# The R results against the program's reports: the same main report and summary lines, byte for
# byte, on the example decks and on a grid of designs built in R.

test_that("every example deck gives the program's reports", {
  skip_without_program()
  for (name in c("fractions_both_endpoints.txt", "fractions_ep2_timed.txt", "calendar_times.txt")) {
    deck <- example_deck(name)
    if (!nzchar(deck)) skip("the example decks are not at hand (set KESTREL_SOURCE_DIR)")
    seed <- 12345L
    ds <- kestrel_deck(deck, seed = seed)
    prog <- run_program(deck, seed)
    expect_equal(prog$status, 0L, info = name)
    expect_identical(charToRaw(program_main_report(ds, seed)), charToRaw(prog$main), info = name)
    expect_identical(summary_lines(ds), file_lines(prog$summary)[-1], info = name)
    # MSS and the events read from the program's summary lines are the R integers.
    fields <- strsplit(trimws(file_lines(prog$summary)[-1]), "[ ,]+")
    # MSS, APW (as a percentage to four decimals), ME1 and ME2 read from the program's summary
    # lines are the R values.
    sets <- unlist(lapply(ds, function(d) d$sets), recursive = FALSE)
    expect_equal(length(sets), length(fields), info = name)
    for (i in seq_along(fields)) {
      s <- sets[[i]]
      for (v in c(as.character(s$MSS), sprintf("%.4f", 100 * s$APW), as.character(s$ME1),
                  as.character(s$ME2)))
        expect_true(v %in% fields[[i]], info = paste(name, v))
    }
  }
})

test_that("a grid of designs built in R gives the program's reports", {
  skip_without_program()
  grid <- expand.grid(hr1 = c(0.65, 0.75), hr2 = c(0.7, 0.8), rho = c(0.2, 0.6))
  designs <- lapply(seq_len(nrow(grid)), function(i) {
    kestrel_design(hr = c(grid$hr1[i], grid$hr2[i]), rho = grid$rho[i], accrual = 2,
                   follow_up = 3, survival = c(0.3, 0.4), looks = c(0.5, 1),
                   timing = "information_ep2", rule = if (i %% 2) "any" else "sequence",
                   copula = c("clayton", "stable", "frank")[1 + i %% 3],
                   spending = list(sf_obf(), sf_hsd(-4)), mvn_accuracy = 1e-6)
  })
  expect_length(designs, 8)
  for (d in designs) {
    deck <- tempfile(fileext = ".txt")
    kestrel_write_deck(d, deck)
    prog <- run_program(deck, 777L, c("--mvn-accuracy", "1e-6"))
    expect_equal(prog$status, 0L)
    # The program's first lines name the seed and the accuracy; the design's report follows.
    expect_identical(bytes_after_lines(prog$main, 2L), charToRaw(d$report))
    expect_identical(file_lines(prog$summary)[-1], summary_lines(list(d)))
  }
})

test_that("a written deck reads back to the same designs and numbers", {
  a <- kestrel_design(hr = c(0.7, 0.75), rho = 0.5, accrual = 2, follow_up = 3,
                      survival = c(0.3, 0.4), looks = c(1.5, 5), timing = "calendar",
                      rule = "same", spending = list(sf_obf_alt(), sf_cumulative(c(0.01, 0.025))))
  b <- kestrel_design(hr = 0.8, rho = 0.3, accrual = 1, follow_up = 2, survival = 0.5,
                      looks = c(0.5, 1), timing = "information", n = 900,
                      spending = list(sf_pocock(), sf_hsd(2)))
  deck <- tempfile(fileext = ".txt")
  kestrel_write_deck(list(a, b), deck, title = "round trip")
  back <- kestrel_deck(deck)
  expect_length(back, 2)
  expect_identical(back[[1]]$deck$values, a$deck$values)
  keep <- names(b$deck$values) != "TLOOK"
  expect_identical(back[[2]]$deck$values[keep], b$deck$values[keep])
  expect_identical(back[[1]]$deck$spending, a$deck$spending)
  expect_identical(back[[2]]$deck$spending, b$deck$spending)
  expect_identical(back[[1]]$settings, a$settings)
  expect_identical(back[[1]]$sets[[1]]$MSS, a$sets[[1]]$MSS)
  expect_identical(back[[1]]$sets[[1]]$ep2$zb, a$sets[[1]]$ep2$zb)
  expect_identical(back[[2]]$sets[[2]]$ep1$zb, b$sets[[2]]$ep1$zb)
  expect_equal(back[[1]]$title, "round trip")
})

test_that("a bad deck is an R error listing its problems", {
  deck <- tempfile(fileext = ".txt")
  writeLines(c("0 0 0.0 0.0", "'bad'",
               "0 3 1 1 1 0 1.4 1.2 1.3 1.4 1.2 0.3 2 3 0.3 0.5 0.5 1 0.025 0 0.8 9 2 3 1 1 2.5 5.0"),
             deck)
  expect_error(kestrel_deck(deck), "RHO = 1.3")
  expect_error(kestrel_deck(deck), "DF = 9")
  expect_error(kestrel_deck(file.path(tempdir(), "no-such-deck.txt")), "does not exist")
})
