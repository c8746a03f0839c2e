# kestrel_bounds(): the boundary calculator of one endpoint, as `kestrel bounds --csv`.

kestrel_bounds <- function(alpha = 0.025, sides = 1, spending = sf_obf(), times = 1, power = 0.9,
                           hr = 0.7, accrual = 1, follow_up = 1, survival = 0.5,
                           allocation = 0.5, exact = FALSE, dropout = 0, dropout_time = NULL,
                           accrual_time = NULL, accrual_intensity = NULL) {
  num <- function(x, arg, n = 1L) {
    if (!is.numeric(x) || !(length(x) %in% n) || anyNA(x) || any(!is.finite(x)))
      stop(sprintf("`%s` must be %s finite number%s", arg,
                   if (length(n) == 1L) n else paste(min(n), "to", max(n)),
                   if (max(n) > 1L) "s" else ""), call. = FALSE)
    sprintf("%.17g", x)
  }
  if (!inherits(spending, "kestrel_spending"))
    stop("`spending` must be a spending function such as sf_obf() or sf_power(3)", call. = FALSE)
  args <- c("--alpha", num(alpha, "alpha"), "--sides", num(sides, "sides"),
            "--spending", as.character(spending$code),
            "--times", paste(num(times, "times", 1:25), collapse = ","),
            "--power", num(power, "power"), "--hr", num(hr, "hr"),
            "--accrual", num(accrual, "accrual"), "--follow-up", num(follow_up, "follow_up"),
            "--survival", num(survival, "survival"), "--allocation", num(allocation, "allocation"))
  if (!is.logical(exact) || length(exact) != 1L || is.na(exact))
    stop("`exact` must be TRUE or FALSE", call. = FALSE)
  if (exact) args <- c(args, "--exact")
  if (spending$code %in% c(3L, 4L)) args <- c(args, "--phi", sprintf("%.17g", spending$phi))
  if (spending$code == 5L)
    args <- c(args, "--cumulative", paste(sprintf("%.17g", spending$cumulative), collapse = ","))
  # Loss to follow-up and accrual pieces, checked as kestrel_design checks them.
  el <- entry_loss(dropout, dropout_time, accrual_time, accrual_intensity, accrual)
  if (!is.null(el)) {
    if (any(el$dropout != 0))
      args <- c(args, "--dropout", paste(sprintf("%.17g", el$dropout), collapse = ","))
    if (length(el$accrual_end) > 1L)
      args <- c(args, "--accrual-pieces", paste(sprintf("%.17g", el$accrual_end), collapse = ","),
                "--accrual-intensity", paste(sprintf("%.17g", el$accrual_intensity), collapse = ","))
  }
  out <- tryCatch(.Call(kestrel_bounds_table, args), error = function(e) {
    # Name the argument as the R caller wrote it.
    m <- conditionMessage(e)
    m <- gsub("--follow-up", "follow_up", m, fixed = TRUE)
    m <- gsub("--cumulative", "spending (cumulative values)", m, fixed = TRUE)
    m <- gsub("--phi", "spending (phi)", m, fixed = TRUE)
    m <- gsub("--spending", "spending", m, fixed = TRUE)
    m <- gsub("--([a-z]+)", "\\1", m)
    stop(m, call. = FALSE)
  })
  for (w in out$warnings) warning(w, call. = FALSE)
  if (!out$converged)
    warning("the drift search did not reach the power; drift, events and subjects are not reliable",
            call. = FALSE)
  as.data.frame(out$table, stringsAsFactors = FALSE)
}
