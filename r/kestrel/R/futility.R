# Futility stops at the interim analyses: the `futility` and `binding` arguments of
# kestrel_design() and kestrel_bounds(), checked in R, as the core and the deck take them, and
# the figures of a design with them.

futility_kinds <- c(spending = 1L, z = 2L, hr = 3L)

# `futility` is NULL (no futility stops) or a list naming one way of three:
#   list(spending = code)                     beta spending of code 1, 2 or 6 (a family of the
#                                             alpha spending: sf_obf(), sf_pocock(), sf_obf_alt())
#   list(spending = 3 or 4, parameter = x)    the power family (x > 0), Hwang-Shih-DeCani (x != 0)
#   list(spending = 5, values = b)            cumulative beta per analysis, the last 1 - power
#   list(z = z)                               a z per interim analysis (K - 1 values, -8 stops none)
#   list(hr = h)                              a hazard-ratio threshold per interim analysis
# `spending` may also be a spending object (sf_obf(), sf_power(2), sf_cumulative(b), ...).
# Every problem is found before one error lists them all. Returns the core's entry or NULL.
check_futility <- function(futility, binding, K, power, sides = 1L) {
  binding <- check_flag(binding, "binding")
  if (is.null(futility)) {
    if (binding)
      arg_error("binding", "FALSE when there are no futility stops (`futility` = NULL)", binding)
    return(NULL)
  }
  forms <- paste("NULL (no futility stops) or a list naming one way: list(spending = code",
                 "[, parameter = x | values = b]), list(z = z) or list(hr = h)")
  if (inherits(futility, "kestrel_spending")) futility <- list(spending = futility)
  if (!is.list(futility) || is.null(names(futility)) || any(!nzchar(names(futility))) ||
      anyDuplicated(names(futility)))
    arg_error("futility", forms, futility)
  problems <- character()
  add <- function(...) problems <<- c(problems, sprintf(...))
  known <- c("spending", "parameter", "values", "z", "hr")
  unknown <- setdiff(names(futility), known)
  if (length(unknown))
    add("`futility` has unknown element%s %s (allowed: %s)", if (length(unknown) > 1L) "s" else "",
        paste(sprintf("`%s`", unknown), collapse = ", "), paste(known, collapse = ", "))
  ways <- intersect(c("spending", "z", "hr"), names(futility))
  if (length(ways) != 1L) {
    add("`futility` must name one way of giving the stops, `spending`, `z` or `hr` (got %s)",
        if (length(ways)) paste(sprintf("`%s`", ways), collapse = " and ") else "none")
  }
  if (K < 2L)
    add("`futility` needs at least one interim analysis (the design has one analysis)")
  if (sides != 1L) add("`futility` applies to one-sided designs only (`sides` = 1)")
  way <- if (length(ways) == 1L) ways else ""
  interims <- max(K - 1L, 1L)
  per_interim <- sprintf("%d value%s, one per interim analysis (none for the final analysis)",
                         interims, if (interims > 1L) "s" else "")
  entry <- list(kind = futility_kinds[[if (nzchar(way)) way else "spending"]], binding = binding,
                code = 0L, phi = 0, cumulative = numeric(), values = numeric())
  if (way == "spending") {
    sf <- futility[["spending"]]
    if (inherits(sf, "kestrel_spending")) {
      if (!is.null(futility[["parameter"]]) || !is.null(futility[["values"]]))
        add(paste("`futility`: `parameter` and `values` go with a spending code, not with a",
                  "spending object"))
      futility[["spending"]] <- sf$code
      if (sf$code %in% 3:4) futility[["parameter"]] <- sf$phi
      if (sf$code == 5L) futility[["values"]] <- sf$cumulative
      sf <- sf$code
    }
    code <- NA_integer_
    if (!is.numeric(sf) || length(sf) != 1L || is.na(sf) || !(sf %in% 1:6))
      add(paste("`futility`: `spending` must be a beta-spending code 1 to 6 (the codes of the",
                "alpha spending; got %s)"), show_value(sf))
    else code <- as.integer(sf)
    p <- futility[["parameter"]]
    v <- futility[["values"]]
    if (!is.na(code)) {
      entry$code <- code
      if (code %in% 3:4) {
        ok <- is.numeric(p) && length(p) == 1L && is.finite(p) && if (code == 3L) p > 0 else p != 0
        if (!ok)
          add("`futility`: `parameter` must be %s for spending code %d (got %s)",
              if (code == 3L) "the power family's phi, above 0" else
                "the Hwang-Shih-DeCani gamma, other than 0", code, show_value(p))
        else entry$phi <- as.numeric(p)
      } else if (!is.null(p)) {
        add(paste("`futility`: `parameter` must be NULL for spending code %d (codes 3 and 4",
                  "take one; got %s)"), code, show_value(p))
      }
      if (code == 5L) {
        beta <- 1 - power
        ok <- is.numeric(v) && length(v) == K && all(is.finite(v)) && all(v > 0) &&
          all(diff(v) > 0) && abs(v[K] - beta) <= 1e-9
        if (!ok)
          add(paste("`futility`: `values` must be %d cumulative beta values for spending code 5,",
                    "one per analysis, positive, increasing, the last equal to 1 - power = %s",
                    "(got %s)"), K,
              format(beta), show_value(v))
        else entry$cumulative <- as.numeric(v)
      } else if (!is.null(v)) {
        add(paste("`futility`: `values` must be NULL for spending code %d (code 5 takes the",
                  "cumulative beta; got %s)"), code, show_value(v))
      }
    }
  } else if (way %in% c("z", "hr")) {
    v <- futility[[way]]
    if (!is.null(futility[["parameter"]]) || !is.null(futility[["values"]]))
      add("`futility`: `parameter` and `values` go with `spending` only")
    if (!is.numeric(v) || anyNA(v) || length(v) != interims) {
      add("`futility`: `%s` must be %s%s (got %s)", way, per_interim,
          if (is.numeric(v) && length(v) == K && K > 1L)
            ": the final analysis' efficacy bound decides there" else "", show_value(v))
    } else if (way == "z" && !all(v >= -8 & v < 8)) {
      add("`futility`: `z` must be futility bounds from -8 (no stop) up to 8 (got %s)",
          show_value(v))
    } else if (way == "hr" && !all(is.finite(v) & v > 0)) {
      add(paste("`futility`: `hr` must be hazard-ratio thresholds (treatment over control)",
                "above 0 (got %s)"), show_value(v))
    } else {
      entry$values <- as.numeric(v)
    }
  }
  if (length(problems) == 1L) stop(problems, call. = FALSE)
  if (length(problems) > 1L)
    stop(sprintf("`futility` has %d problems:\n%s", length(problems),
                 paste0("  - ", problems, collapse = "\n")), call. = FALSE)
  entry
}

# The futility stops of an entry in the words of the arguments (for settings and the R code).
futility_argument <- function(entry) {
  if (is.null(entry)) return(NULL)
  switch(names(futility_kinds)[entry$kind],
         spending = c(list(spending = entry$code),
                      if (entry$code %in% 3:4) list(parameter = entry$phi),
                      if (entry$code == 5L) list(values = entry$cumulative)),
         z = list(z = entry$values), hr = list(hr = entry$values))
}

# One line describing the stops: "beta spending, O'Brien-Fleming type; non-binding".
futility_label <- function(entry) {
  how <- switch(names(futility_kinds)[entry$kind],
                spending = {
                  sf <- statement_spending(list(deck_code = entry$code, replacement = 0L,
                                                phi = entry$phi, cumulative = entry$cumulative))
                  paste("beta spending,", spending_label(sf))
                },
                z = paste("z", paste(format(entry$values), collapse = ", ")),
                hr = paste("hazard ratio above", paste(format(entry$values), collapse = ", ")))
  paste0(how, "; ", if (isTRUE(entry$binding)) "binding" else "non-binding")
}

# The deck statement of an entry.
futility_statement <- function(entry) {
  head <- paste("FUTILITY", if (isTRUE(entry$binding)) "BINDING" else "NONBINDING")
  switch(names(futility_kinds)[entry$kind],
         spending = paste(c(head, "SPENDING", entry$code,
                            if (entry$code %in% 3:4) deck_real(entry$phi),
                            if (entry$code == 5L) deck_real(entry$cumulative)), collapse = " "),
         z = paste(head, "Z", paste(deck_real(entry$values), collapse = " ")),
         hr = paste(head, "HR", paste(deck_real(entry$values), collapse = " ")))
}

# The options of `kestrel bounds` for the stops.
futility_options <- function(entry, num) {
  if (is.null(entry)) return(character())
  c(switch(names(futility_kinds)[entry$kind],
           spending = c("--futility-spending",
                        num(c(entry$code, if (entry$code %in% 3:4) entry$phi,
                              if (entry$code == 5L) entry$cumulative))),
           z = c("--futility-z", num(entry$values)), hr = c("--futility-hr", num(entry$values))),
    if (isTRUE(entry$binding)) "--binding")
}

# The trial under the nulls of a design, where the calculation gives it (designs with futility
# stops): per set and hypothesis ("global", "EP1 null", "EP2 null"), the type I error spent with
# the futility stops in force and without them, the expected sample size and the probability of
# reaching each analysis. NULL when the design has no such figures.
null_figures <- function(x, set = NULL) {
  set <- chosen_sets(x, set)
  rows <- lapply(x$sets[set], function(s) {
    if (!length(s$nulls)) return(NULL)
    do.call(rbind, lapply(s$nulls, function(n) {
      data.frame(set = s$label, hypothesis = n$hypothesis, type1 = n$type1,
                 type1_without_futility = n$type1_without_futility,
                 expected_sample_size = n$ASN,
                 reach = I(list(n$REACH)), stringsAsFactors = FALSE)
    }))
  })
  rows <- Filter(Negate(is.null), rows)
  if (!length(rows)) return(NULL)
  out <- do.call(rbind, rows)
  rownames(out) <- NULL
  out
}

# Rows of data frames whose columns may differ (designs with and without futility stops): the
# columns of each, missing ones NA.
rbind_fill <- function(frames) {
  cols <- unique(unlist(lapply(frames, names)))
  do.call(rbind, lapply(frames, function(f) {
    for (c in setdiff(cols, names(f))) f[[c]] <- rep(NA, nrow(f))
    f[cols]
  }))
}

# The settings of a design's stops in the words of the arguments.
futility_settings <- function(entry) {
  list(futility = futility_argument(entry), binding = isTRUE(entry$binding))
}

# The core's refusal of a fixed or hazard-ratio futility bound above the efficacy bound (known
# only once the efficacy bounds are calculated), in the words of the arguments; any other error
# as it is.
futility_refusal <- function(e) {
  m <- regmatches(conditionMessage(e), regexec(paste0(
    "^(?:design \\d+, (.*?): (EP[12]) \\([^)]*\\): )?the futility bound at analysis (\\d+), ",
    "(.*), lies above the efficacy bound ([^:]+):"), conditionMessage(e), perl = TRUE))[[1L]]
  if (!length(m)) stop(e)
  where <- if (nzchar(m[2L])) sprintf(" of %s (%s)", m[3L], m[2L]) else ""
  stop(sprintf(paste("`futility` must give bounds below the efficacy bounds: at analysis %s the",
                     "futility bound%s, %s, lies above the efficacy bound %s"),
               m[4L], where, m[5L], m[6L]), call. = FALSE)
}
