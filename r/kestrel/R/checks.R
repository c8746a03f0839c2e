# Argument checks of the package's functions. Every message names the R argument, says what R
# values are allowed and shows what was given, so that no error speaks the language of the
# program's input files. New checks belong here: one function per kind of value.

# The value as the user wrote it, short.
show_value <- function(x) {
  if (is.null(x)) return("NULL")
  if (is.function(x)) return("a function")
  if (is.list(x)) return(sprintf("a list of length %d", length(x)))
  if (length(x) == 0L) return(sprintf("%s(0)", typeof(x)))
  shown <- if (is.character(x)) sprintf('"%s"', x) else format(x, digits = 15)
  more <- length(shown) > 6L
  shown <- paste(utils::head(shown, 6L), collapse = ", ")
  if (length(x) > 1L) shown <- paste0("c(", shown, if (more) ", ..." else "", ")")
  shown
}

# Stops with "`arg` must be <must> (got <value>)".
arg_error <- function(arg, must, got) {
  msg <- sprintf("`%s` must be %s", arg, must)
  if (!missing(got)) msg <- sprintf("%s (got %s)", msg, show_value(got))
  stop(msg, call. = FALSE)
}

# Finite numbers, as many as one of the lengths `n`.
check_numbers <- function(x, arg, n = 1L) {
  count <- if (length(n) == 1L) format(n) else if (all(diff(n) == 1L) && length(n) > 2L)
    paste(min(n), "to", max(n)) else paste(n, collapse = " or ")
  if (!is.numeric(x) || !(length(x) %in% n) || anyNA(x) || any(!is.finite(x)))
    arg_error(arg, sprintf("%s finite number%s", if (identical(count, "1")) "a single" else count,
                           if (max(n) > 1L) "s" else ""), x)
  as.numeric(x)
}

# Numbers within limits; `what` names the quantity ("a one-sided significance level").
check_range <- function(x, arg, lower, upper, what, n = 1L, lower_open = FALSE,
                        upper_open = FALSE) {
  x <- check_numbers(x, arg, n)
  low_ok <- if (lower_open) x > lower else x >= lower
  up_ok <- if (upper_open) x < upper else x <= upper
  if (!all(low_ok & up_ok)) {
    limits <- if (is.infinite(upper))
      sprintf("%s %s", if (lower_open) "above" else "at least", format(lower))
    else if (lower_open && upper_open)
      sprintf("strictly between %s and %s", format(lower), format(upper))
    else sprintf("in %s%s, %s%s", if (lower_open) "(" else "[", format(lower), format(upper),
                 if (upper_open) ")" else "]")
    arg_error(arg, sprintf("%s %s", what, limits), x)
  }
  x
}

check_open_unit <- function(x, arg, n = 1L, what = "a probability") {
  check_range(x, arg, 0, 1, what, n, lower_open = TRUE, upper_open = TRUE)
}

check_whole <- function(x, arg, lower, upper = Inf) {
  if (!is.numeric(x) || length(x) != 1L || is.na(x) || !is.finite(x) || x != round(x) ||
      x < lower || x > upper)
    arg_error(arg, sprintf("a whole number from %s%s", format(lower),
                           if (is.finite(upper)) paste(" to", format(upper)) else " up"), x)
  as.integer(x)
}

check_flag <- function(x, arg) {
  if (!is.logical(x) || length(x) != 1L || is.na(x)) arg_error(arg, "TRUE or FALSE", x)
  x
}

check_string <- function(x, arg, what = "a single character string") {
  if (!is.character(x) || length(x) != 1L || is.na(x)) arg_error(arg, what, x)
  x
}

# One of the named choices, by (partial) name or by its number.
check_choice <- function(x, arg, codes) {
  if (is.numeric(x) && length(x) == 1L && !is.na(x) && x %in% codes) return(as.integer(x))
  if (is.character(x) && length(x) == 1L && !is.na(x)) {
    hit <- pmatch(x, names(codes))
    if (!is.na(hit)) return(codes[[hit]])
  }
  arg_error(arg, sprintf("one of %s (or the numbers %s)",
                         paste(sprintf('"%s"', names(codes)), collapse = ", "),
                         paste(codes, collapse = ", ")), x)
}

# A spending function such as sf_obf(), or a list of two (EP1's, EP2's) when `pair`.
check_spending <- function(spending, arg = "spending", pair = TRUE) {
  if (pair && inherits(spending, "kestrel_spending")) spending <- list(spending, spending)
  ok <- if (pair) is.list(spending) && !inherits(spending, "kestrel_spending") &&
    length(spending) == 2L && all(vapply(spending, inherits, logical(1), "kestrel_spending"))
  else inherits(spending, "kestrel_spending")
  if (!ok)
    arg_error(arg, if (pair) "a spending function such as sf_obf(), or a list of two (EP1, EP2)"
                   else "a spending function such as sf_obf() or sf_power(3)", spending)
  # The parameters the constructors check, for objects made by hand.
  for (sf in if (pair) spending else list(spending)) {
    phi <- sf$phi
    if (sf$code == 3L && !(is.numeric(phi) && length(phi) == 1L && is.finite(phi) && phi > 0))
      arg_error(arg, "a power-family spending function with phi above 0, as sf_power(phi) makes",
                phi)
    if (sf$code == 4L && !(is.numeric(phi) && length(phi) == 1L && is.finite(phi) && phi != 0))
      arg_error(arg, "a Hwang-Shih-DeCani spending function with gamma other than 0, as sf_hsd(gamma) makes",
                phi)
  }
  spending
}

# Cumulative alpha values of sf_cumulative() against the number of analyses and alpha.
check_cumulative <- function(sf, arg, K, alpha) {
  if (sf$code != 5L) return(invisible())
  v <- sf$cumulative
  if (length(v) != K)
    arg_error(arg, sprintf("sf_cumulative() with %d value%s (one per analysis)", K,
                           if (K == 1L) "" else "s"), v)
  if (any(v > alpha * (1 + 1e-12)))
    arg_error(arg, sprintf("sf_cumulative() with values at most alpha = %s", format(alpha)), v)
  if (abs(v[K] - alpha) > 1e-12 * max(1, alpha))
    arg_error(arg, sprintf("sf_cumulative() whose last value equals alpha = %s", format(alpha)), v)
  invisible()
}

# Analysis points: 1 to `most` positive, strictly increasing numbers up to `top`.
check_looks <- function(x, arg, most, top, what) {
  x <- check_numbers(x, arg, seq_len(most))
  if (x[1L] <= 0 || any(diff(x) <= 0) || x[length(x)] > top)
    arg_error(arg, sprintf("%s: strictly increasing, above 0 and at most %s", what, format(top)),
              x)
  x
}

# Hazard ratios (treatment over control) of one or both endpoints.
check_hazard_ratios <- function(hr, arg, searched = FALSE, allow_one = FALSE, n = 1:2) {
  hr <- check_range(hr, arg, 0.001, 1000, "hazard ratios (treatment over control)", n)
  if (!allow_one && any(hr == 1))
    arg_error(arg, "hazard ratios other than 1 (a ratio of 1 has no effect to detect)", hr)
  if (searched && any(hr > 1))
    stop(sprintf(paste0("`%s` = %s describes a harmful treatment (treatment over control above 1):",
                        " no sample size reaches the power; give `n` to compute the power of a",
                        " given size"), arg, show_value(hr)), call. = FALSE)
  if (length(hr) == 1L && identical(n, 1:2)) hr <- c(hr, hr)
  hr
}
