# Decks: every design of an existing deck run without report files, and designs written as a deck
# the program reads.

kestrel_deck <- function(path, seed = NULL, mvn_accuracy = NULL, verbose = FALSE, exact = FALSE) {
  path <- check_string(path, "path", "the path of one deck file")
  if (!file.exists(path))
    stop(sprintf("`path` must be an existing deck file: %s does not exist", show_value(path)),
         call. = FALSE)
  check_options(1L, mvn_accuracy, verbose, exact)
  size <- file.info(path)$size
  text <- rawToChar(readBin(path, "raw", n = size))
  deck <- .Call(kestrel_read_deck, text, path)
  simulated <- any(vapply(deck$designs, function(e) e$values$NSIM > 0, logical(1)))
  options <- check_options(seed, mvn_accuracy, verbose, exact, simulated = simulated)
  if (deck$incomplete_record_line > 0)
    warning(sprintf("%s:%d: the deck ends inside this record; it is not calculated", path,
                    deck$incomplete_record_line), call. = FALSE)
  if (length(deck$designs) == 0L) return(list())
  calculate_entries(deck$designs, options, title = deck$title)
}

# A real as the deck reader reads it back to the same double.
deck_real <- function(x) {
  vapply(x, function(v) {
    for (digits in 15:17) {
      s <- sprintf("%.*g", digits, v)
      if (as.numeric(s) == v) break
    }
    s
  }, character(1))
}

deck_lines <- function(d) {
  v <- d$deck$values
  ints <- function(...) paste(vapply(list(...), function(x) sprintf("%d", as.integer(x)),
                                     character(1)), collapse = " ")
  reals <- function(...) paste(deck_real(unlist(list(...))), collapse = " ")
  lines <- c(
    ints(v$NSIM, v$ITIME, v$CPL, v$CPRSK, v$CMPST, v$MSSG),
    reals(v$HR1, v$HR2, v$RHO, v$HR1TR, v$HR2TR, v$RHOTR),
    paste(reals(v$TA, v$TF, v$SRVR1, v$SRVR2, v$SR), ints(v$CNSRD)),
    paste(reals(v$TYPE1, v$RSV1, v$POWER), ints(v$DF, v$LOOK, v$CRIVL, v$ESF1, v$ESF2)),
    reals(v$TLOOK))
  # The extra statements of each boundary design run: per evaluated set, EP1's then EP2's.
  for (set in d$deck$spending) {
    for (st in set) {
      if (st$deck_code > 5L) lines <- c(lines, ints(st$replacement))
      code <- if (st$deck_code > 5L) st$replacement else st$deck_code
      if (code %in% c(3L, 4L)) lines <- c(lines, reals(st$phi))
      if (code == 5L) lines <- c(lines, reals(st$cumulative))
    }
  }
  # Futility stops, after the spending statements.
  if (!is.null(d$deck$futility)) lines <- c(lines, futility_statement(d$deck$futility))
  # Loss to follow-up and accrual pieces, after the spending statements.
  el <- d$deck$entry_loss
  if (!is.null(el)) {
    if (isTRUE(el$dropout_time > 0))
      lines <- c(lines, paste("DROPOUT PROBABILITY", reals(el$dropout_time),
                              reals(el$dropout_probability)))
    else if (any(el$dropout != 0)) lines <- c(lines, paste("DROPOUT HAZARD", reals(el$dropout)))
    if (length(el$accrual_end) > 1L)
      lines <- c(lines, paste("ACCRUAL", length(el$accrual_end), reals(el$accrual_end),
                              reals(el$accrual_intensity)))
  }
  # Piecewise hazards, one statement per endpoint that has them.
  hz <- d$deck$hazards
  for (e in seq_along(hz))
    if (!is.null(hz[[e]])) lines <- c(lines, hazards_statement(hz[[e]], c("EP1", "EP2")[e]))
  # The control arm as it was given, and the model.
  ctl <- d$deck$control
  if (!is.null(ctl))
    lines <- c(lines, switch(ctl$form, paste("CONTROL MEDIAN", reals(ctl$value)),
                             paste("CONTROL HAZARD", reals(ctl$value)),
                             paste("CONTROL SURVIVAL", reals(ctl$time), reals(ctl$value))))
  if (isTRUE(d$exact)) lines <- c(lines, "MODEL EXACT")
  lines
}

kestrel_write_deck <- function(designs, path, title = NULL) {
  designs <- kestrel_designs(designs)
  path <- check_string(path, "path", "the path of one file")
  if (is.null(title))
    title <- if (nzchar(designs[[1L]]$title)) designs[[1L]]$title else "written by kestrel_write_deck"
  title <- check_string(title, "title", "one line of text")
  if (grepl("['\n\r]", title))
    arg_error("title", "one line of text without single quotes", title)
  if (nchar(title, type = "bytes") > 80L)
    arg_error("title", sprintf("at most 80 characters, which is what a deck keeps (it has %d)",
                               nchar(title, type = "bytes")), title)
  lines <- c("0 0 0.0 0.0", paste0("'", title, "'"), unlist(lapply(designs, deck_lines)))
  writeLines(lines, path, useBytes = TRUE)
  invisible(path)
}
