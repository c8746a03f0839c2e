# run_app(): the web application in inst/app, and the parts of it that need no web server: the
# table of its inputs, the reading and checking of the form, the R code of a design, the tables,
# plots and files of a design. The application only arranges these; every number comes from
# kestrel_design() and the program's own reports.

run_app <- function(host = "127.0.0.1", port = NULL,
                    launch.browser = getOption("shiny.launch.browser", interactive())) {
  require_packages(c("shiny", "callr"), "kestrel::run_app()")
  host <- check_string(host, "host", "a host name or address such as \"127.0.0.1\"")
  if (!is.null(port)) port <- check_whole(port, "port", 1, 65535)
  dir <- system.file("app", package = "kestrel")
  if (!nzchar(dir)) stop("the application's files (inst/app) are missing from the installed kestrel",
                         call. = FALSE)
  shiny::runApp(dir, host = host, port = port, launch.browser = launch.browser)
}

# Stops naming the packages that `what` needs and are not installed.
require_packages <- function(packages, what) {
  missing <- packages[!vapply(packages, requireNamespace, logical(1), quietly = TRUE)]
  if (length(missing))
    stop(sprintf(paste0("%s needs the R package%s %s, which %s not installed: ",
                        "install.packages(c(%s)), or on Debian apt-get install %s"),
                 what, if (length(missing) > 1L) "s" else "", paste(missing, collapse = ", "),
                 if (length(missing) > 1L) "are" else "is",
                 paste(sprintf('"%s"', missing), collapse = ", "),
                 paste0("r-cran-", tolower(missing), collapse = " ")), call. = FALSE)
  invisible(TRUE)
}

# ---- The table of inputs ----------------------------------------------------------------------
# One entry per argument of kestrel_design(): the form, the reading of the form, the checks and
# the R code all come from this table, so that a new argument is one more entry. Types: "number"
# (one or more numbers in one box), "pair" (two boxes, `parts`; the second may stay blank),
# "choice" (one of `choices`, named by their titles), "flag", "spending" (a family and its
# parameter per endpoint). A blank box leaves the argument to kestrel_design()'s default, which
# `blank` says; `start` fills an argument that has no default.

app_groups <- c(endpoints = "Endpoints and their effects",
                dependence = "Dependence between the endpoints",
                accrual = "Accrual, follow-up and loss to follow-up",
                analyses = "Analyses and spending",
                rule = "Decision rule and critical values",
                model = "Model options",
                simulation = "Simulation")

app_field <- function(id, group, label, type = "number", unit = "", blank = "", start = NULL,
                      parts = NULL, choices = NULL) {
  list(id = id, group = group, label = label, type = type, unit = unit, blank = blank,
       start = start, parts = parts, choices = choices)
}

spending_families <- c(obf = "O'Brien-Fleming type", pocock = "Pocock type",
                       power = "power family (phi)", hsd = "Hwang-Shih-DeCani (gamma)",
                       cumulative = "cumulative alpha values", obf_alt = "alternative O'Brien-Fleming")

app_fields <- function() {
  endpoints <- c("EP1", "EP2")
  fields <- list(
    app_field("hr", "endpoints", "Hazard ratios", "pair",
              "treatment / control, below 1 unless the size is given",
              start = c("0.7", "0.75"), parts = endpoints),
    app_field("survival", "endpoints", "Control-arm survival at the end of the study", "pair",
              "probability at accrual + follow-up", start = c("0.3", "0.45"), parts = endpoints),
    app_field("median", "endpoints", "... or control-arm medians", "pair", "time units",
              blank = "blank: survival above", parts = endpoints),
    app_field("control_hazard", "endpoints", "... or control-arm hazards", "pair", "per time unit",
              blank = "blank: survival above", parts = endpoints),
    app_field("survival_time", "endpoints", "... survival above stated at time", unit = "time units",
              blank = "blank: at accrual + follow-up"),
    app_field("competing", "endpoints", "Competing events", "choice",
              choices = c(none = "none: both endpoints non-fatal",
                          one = "one: an EP2 event ends EP1's follow-up",
                          both = "both: both endpoints fatal")),
    app_field("composite", "endpoints", "EP1 is the composite (first of EP1 and EP2)", "flag"),
    app_field("allocation", "endpoints", "Treatment share", unit = "of the subjects, 0 to 1"),
    app_field("rho", "dependence", "Correlation of the event times", unit = "0 to below 1"),
    app_field("copula", "dependence", "Copula", "choice",
              choices = c(clayton = "Clayton", stable = "positive stable", frank = "Frank")),
    app_field("hazards", "endpoints", "Piecewise hazards (instead of survival)", "hazards",
              "per endpoint: piece starts (0 first), control hazards per time unit, ratios treatment / control",
              blank = "blank: one exponential piece", parts = endpoints),
    app_field("accrual", "accrual", "Accrual period", unit = "time units", start = "2"),
    app_field("follow_up", "accrual", "Follow-up after accrual", unit = "time units", start = "3"),
    app_field("dropout", "accrual", "Loss to follow-up", "pair",
              "hazard per time unit (or probability by the time below)",
              parts = c("control", "treatment")),
    app_field("dropout_time", "accrual", "... as probabilities lost by time", unit = "time units",
              blank = "blank: the values above are hazards"),
    app_field("accrual_time", "accrual", "Accrual pieces: ends", unit = "time units, the last = accrual",
              blank = "blank: uniform entry"),
    app_field("accrual_intensity", "accrual", "Accrual pieces: intensities",
              unit = "relative, one per piece"),
    app_field("looks", "analyses", "Analyses", unit = "information fractions (last 1) or calendar times"),
    app_field("timing", "analyses", "Analyses timed by", "choice",
              choices = c(information = "information of EP1, then of EP2 (two sets)",
                          information_ep2 = "information of EP2",
                          calendar = "calendar times")),
    app_field("spending", "analyses", "Alpha spending", "spending", "parameter when the family has one",
              parts = endpoints),
    app_field("alpha", "analyses", "Significance level", unit = "one-sided"),
    app_field("futility", "analyses", "Futility stops at the interim analyses", "futility",
              paste("beta spending: code [parameter | cumulative beta per analysis];",
                    "z or hazard ratio: one value per interim analysis"),
              blank = "none: no futility stops",
              choices = c(none = "none", spending = "beta spending (code 1 to 6)",
                          z = "fixed z per interim", hr = "hazard ratio per interim")),
    app_field("binding", "analyses", "Binding futility stops", "flag",
              "efficacy bounds designed with the futility stops in force"),
    app_field("rule", "rule", "Decision rule", "choice",
              choices = c(any = "1: both endpoints, at any analyses",
                          same = "2: both at the same analysis",
                          sequence = "3: EP1, then EP2 from that analysis on",
                          final = "4: EP1 at any analysis, EP2 only at the final")),
    app_field("critical", "rule", "Critical values", "choice",
              choices = c(own = "each endpoint its own", ep1 = "EP1's for both",
                          ep2 = "EP2's for both")),
    app_field("power", "rule", "Target power", unit = "0 to 1"),
    app_field("n", "rule", "Given maximum sample size", unit = "subjects",
              blank = "blank: searched to reach the power"),
    app_field("exact", "model", "Exact model (--exact)", "flag"),
    app_field("mvn_accuracy", "model", "Accuracy of the normal probabilities",
              unit = "1e-10 to 1e-4", blank = "blank: 1e-8"),
    app_field("nsim", "simulation", "Simulated trials", unit = "0: none"),
    app_field("hr_sim", "simulation", "Hazard ratios of the simulation", "pair",
              "treatment / control", blank = "blank: the design's", parts = endpoints),
    app_field("rho_sim", "simulation", "Correlation of the simulation",
              blank = "blank: the design's"),
    app_field("censor", "simulation", "Censor at the analysis time", "flag"),
    app_field("seed", "simulation", "Seed", unit = "1 to 2147483646",
              blank = "blank: drawn, then shown in the R code"))
  names(fields) <- vapply(fields, `[[`, "", "id")
  # Defaults are kestrel_design()'s own.
  for (id in names(fields)) {
    f <- fields[[id]]
    d <- formal_default(id)
    fields[[id]]$default <- if (f$type == "spending") rep(list(eval(d)), 2L)
      else if (is.numeric(d) || is.character(d) || is.logical(d)) d else NULL
  }
  fields
}

# The default of an argument of kestrel_design() as written (NULL when it has none).
formal_default <- function(name) {
  defaults <- formals(kestrel_design)
  if (!name %in% names(defaults)) return(NULL)
  empty <- vapply(defaults, function(x) is.symbol(x) && identical(as.character(x), ""), TRUE)
  if (empty[[name]]) NULL else defaults[[name]]
}

# The ids of the form's controls of a field.
field_inputs <- function(f) {
  switch(f$type,
         pair = paste0(f$id, c("_1", "_2")),
         hazards = paste0(f$id, rep(c("_time_", "_hazard_", "_hr_"), 2L), rep(1:2, each = 3L)),
         spending = paste0(f$id, rep(c("_family_", "_parameter_"), each = 2L), 1:2),
         futility = paste0(f$id, c("_kind", "_values")),
         f$id)
}

# The text a box starts with.
field_text <- function(f, part = 1L) {
  v <- if (!is.null(f$start)) f$start else f$default
  if (is.null(v)) return("")
  if (f$type == "pair") return(if (part <= length(v)) format_number(v[part]) else "")
  paste(format_number(v), collapse = ", ")
}

format_number <- function(x) if (is.numeric(x)) deck_real(x) else as.character(x)

# Numbers typed into a box: blank is NULL (the default); what is not a list of numbers stays as
# typed, so that the package's check says what was given.
parse_numbers <- function(text) {
  text <- trimws(if (is.null(text)) "" else as.character(text)[1L])
  if (!nzchar(text)) return(NULL)
  tokens <- strsplit(text, "[,;[:space:]]+")[[1L]]
  tokens <- tokens[nzchar(tokens)]
  x <- suppressWarnings(as.numeric(tokens))
  if (anyNA(x)) text else x
}

# A spending function from the family chosen and the parameter typed; its constructor checks it.
spending_of <- function(family, parameter) {
  p <- parse_numbers(parameter)
  switch(family,
         obf = sf_obf(), pocock = sf_pocock(), obf_alt = sf_obf_alt(),
         power = sf_power(if (is.null(p)) NA_real_ else p),
         hsd = sf_hsd(if (is.null(p)) NA_real_ else p),
         cumulative = sf_cumulative(if (is.null(p)) NA_real_ else p),
         stop(sprintf("`spending` must be one of %s (got \"%s\")",
                      paste(names(spending_families), collapse = ", "), family), call. = FALSE))
}

# The `futility` argument from the way chosen and the values typed ("3, -2": code 3 with its
# parameter; "5, 0.01, 0.1, 0.2": code 5 with the cumulative beta); kestrel_design() checks it.
futility_of <- function(kind, values) {
  if (is.null(kind) || !nzchar(kind) || kind == "none") return(NULL)
  v <- parse_numbers(values)
  if (kind != "spending") return(stats::setNames(list(if (is.null(v)) numeric() else v), kind))
  if (!is.numeric(v)) return(list(spending = if (is.null(v)) NA_real_ else v))
  c(list(spending = v[1L]),
    if (length(v) > 1L) {
      if (v[1L] == 5) list(values = v[-1L]) else list(parameter = v[-1L])
    })
}

# The arguments of kestrel_design() from the form's values (`input` is anything indexed by the
# control ids: shiny's input or a list), with the messages of the values that could not even be
# made into an argument (a spending parameter).
app_arguments <- function(input, fields = app_fields()) {
  args <- list()
  errors <- list()
  get <- function(id) input[[id]]
  for (f in fields) {
    ids <- field_inputs(f)
    value <- switch(f$type,
      number = parse_numbers(get(ids)),
      pair = {
        a <- parse_numbers(get(ids[1L]))
        b <- parse_numbers(get(ids[2L]))
        if (is.null(a) && is.null(b)) NULL
        else if (is.null(b)) a
        else if (is.numeric(a) && is.numeric(b)) c(a, b)
        else c(if (is.null(a)) "" else as.character(a), as.character(b))
      },
      hazards = {
        laws <- lapply(1:2, function(i) {
          parts <- lapply(ids[3L * (i - 1L) + 1:3], function(id) parse_numbers(get(id)))
          if (all(vapply(parts, is.null, logical(1)))) NULL
          else stats::setNames(parts, c("time", "hazard", "hr"))
        })
        if (all(vapply(laws, is.null, logical(1)))) NULL else laws
      },
      choice = { v <- get(ids); if (is.null(v) || !nzchar(v)) NULL else v },
      futility = futility_of(get(ids[1L]), get(ids[2L])),
      flag = { v <- get(ids); if (is.null(v)) NULL else isTRUE(v) },
      spending = {
        sfs <- lapply(1:2, function(i) {
          family <- get(ids[i])
          if (is.null(family)) return(NULL)
          tryCatch(spending_of(family, get(ids[2L + i])), error = function(e) {
            errors[[f$id]] <<- sprintf("%s (%s): %s", f$parts[i], spending_families[[family]],
                                       conditionMessage(e))
            NULL
          })
        })
        if (any(vapply(sfs, is.null, logical(1)))) NULL
        else if (identical(sfs[[1L]], sfs[[2L]])) sfs[[1L]] else sfs
      })
    if (!is.null(value)) args[[f$id]] <- value
  }
  list(args = args, errors = errors)
}

# kestrel_design() stopped just before its calculation: all of its own argument checks, nothing
# calculated.
design_checker <- function() {
  f <- kestrel_design
  env <- new.env(parent = asNamespace("kestrel"))
  env$calculate_entries <- function(entries, options, ...) {
    list(...)  # arguments are promises: the checks in them run only when forced
    list(list(entries = entries, options = options))
  }
  environment(f) <- env
  f
}

# The field a message of the package's checks is about: the first argument it names.
field_of_message <- function(message, fields) {
  named <- regmatches(message, gregexpr("`[^`]+`", message))[[1L]]
  named <- sub(" .*", "", gsub("`", "", named))
  hit <- named[named %in% names(fields)]
  if (length(hit)) hit[1L] else NA_character_
}

# The messages of the package's checks, each under the field it is about (".design" for one that
# names no field). After a message the field takes its default (or starting value) and the
# arguments are checked again, so that every wrong field is found at once.
app_check <- function(args, fields = app_fields(), errors = list()) {
  check <- design_checker()
  for (id in names(errors)) args[[id]] <- NULL
  for (i in seq_len(length(fields) + 1L)) {
    message <- tryCatch({
      suppressWarnings(do.call(check, args))
      NULL
    }, error = conditionMessage)
    if (is.null(message)) break
    id <- field_of_message(message, fields)
    # A second message about a field already marked follows from the first (the pair of
    # accrual pieces once their ends are set aside): the first is the one to show.
    if (!is.na(id) && !is.null(errors[[id]])) break
    if (is.na(id)) {
      errors[[".design"]] <- message
      break
    }
    errors[[id]] <- message
    f <- fields[[id]]
    args[[id]] <- if (!is.null(f$start)) as.numeric(f$start) else NULL
  }
  errors
}

# ---- The R code of a design -------------------------------------------------------------------

r_value <- function(x) {
  if (inherits(x, "kestrel_spending")) return(spending_code(x))
  if (is.null(x)) return("NULL")
  if (is.list(x)) {
    items <- vapply(x, r_value, "")
    if (!is.null(names(x))) items <- paste(names(x), "=", items)
    return(sprintf("list(%s)", paste(items, collapse = ", ")))
  }
  parts <- if (is.character(x)) sprintf('"%s"', gsub('(["\\\\])', "\\\\\\1", x))
    else if (is.logical(x)) ifelse(x, "TRUE", "FALSE")
    else deck_real(x)
  if (length(parts) == 1L) parts else sprintf("c(%s)", paste(parts, collapse = ", "))
}

spending_code <- function(sf) {
  switch(as.character(sf$code), "1" = "sf_obf()", "2" = "sf_pocock()",
         "3" = sprintf("sf_power(%s)", deck_real(sf$phi)),
         "4" = sprintf("sf_hsd(%s)", deck_real(sf$phi)),
         "5" = sprintf("sf_cumulative(%s)", r_value(sf$cumulative)), "6" = "sf_obf_alt()")
}

# A kestrel_design() call with the arguments that differ from the defaults and the seed that was
# used, which reproduces the design.
app_r_code <- function(args, seed = NULL) {
  keep <- vapply(names(args), function(a) {
    d <- formal_default(a)
    !(is.numeric(d) || is.character(d) || is.logical(d)) || !identical(args[[a]], d) &&
      !(is.numeric(d) && is.numeric(args[[a]]) && isTRUE(all.equal(args[[a]], d, tolerance = 0)))
  }, logical(1))
  keep[names(args) == "spending"] <- !identical(args$spending, sf_obf())
  args <- args[keep]
  if (!is.null(seed) && !is.na(seed)) args$seed <- as.integer(seed)
  lines <- sprintf("  %s = %s", names(args), vapply(args, r_value, ""))
  paste0("library(kestrel)\nd <- kestrel_design(\n", paste(lines, collapse = ",\n"), ")\n",
         "print(d)\nsample_size(d); power(d)\n")
}

# ---- Tables of a design -----------------------------------------------------------------------

# The headline results, one row per evaluated set.
app_results_table <- function(d) {
  r <- d$results
  out <- data.frame(set = r$set, sample_size = r$sample_size, power = fmt(r$power, 4),
                    events_ep1 = r$events_ep1, events_ep2 = r$events_ep2,
                    expected_sample_size = fmt(r$expected_sample_size, 1),
                    expected_events_ep1 = fmt(r$expected_events_ep1, 1),
                    expected_events_ep2 = fmt(r$expected_events_ep2, 1),
                    stringsAsFactors = FALSE)
  if (any(!is.na(r$simulated_power))) out$simulated_power <- fmt(r$simulated_power, 4)
  if (!is.null(r$futility_stop)) out$futility_stop <- fmt(r$futility_stop, 4)
  out
}

# The boundary table of one set and endpoint as the page shows it.
app_bounds_table <- function(d, set, endpoint) {
  b <- boundaries(d, set)
  b <- b[b$endpoint == endpoint, ]
  out <- data.frame(analysis = b$analysis, time = fmt(b$calendar_time, 3),
                    information = fmt(b$information_fraction, 4), events = fmt(b$events, 1),
                    upper_z = fmt(b$upper_z_used, 4), nominal_p = fmt(b$nominal_level, 6),
                    alpha_spent = fmt(b$alpha_spent, 6),
                    cumulative_alpha = fmt(b$cumulative_alpha, 6),
                    hr_at_bound = fmt(b$hr_at_bound, 4), stringsAsFactors = FALSE)
  if (!is.null(b$futility_z)) {
    out$futility_z <- fmt(b$futility_z, 4)
    out$futility_hr <- fmt(b$futility_hr_at_bound, 4)
    out$p_futility <- fmt(b$p_futility, 4)
  }
  out
}

# Per analysis of one set: timing, events of both endpoints, probability of success there.
app_analyses_table <- function(d, set) {
  a <- summary(d)$analyses[[set]]
  b <- boundaries(d, set)
  data.frame(analysis = a$analysis, time = fmt(a$calendar_time, 3),
             enrolled = fmt(a$enrolled_fraction, 4),
             events_ep1 = fmt(b$events[b$endpoint == "EP1"], 1),
             events_ep2 = fmt(b$events[b$endpoint == "EP2"], 1),
             p_success = fmt(a$p_success, 4), stringsAsFactors = FALSE)
}

# Column headings as the page shows them.
app_headings <- c(set = "set", sample_size = "maximum sample size", power = "power",
                  events_ep1 = "events EP1", events_ep2 = "events EP2",
                  expected_sample_size = "expected sample size",
                  expected_events_ep1 = "expected events EP1",
                  expected_events_ep2 = "expected events EP2",
                  simulated_power = "simulated power", analysis = "analysis",
                  time = "calendar time", information = "information fraction",
                  events = "events", upper_z = "upper bound z", nominal_p = "nominal p",
                  alpha_spent = "alpha spent", cumulative_alpha = "cumulative alpha",
                  hr_at_bound = "hazard ratio at bound", enrolled = "enrolled fraction",
                  p_success = "P(success at analysis)", futility_z = "futility bound z",
                  futility_hr = "hazard ratio at futility bound",
                  p_futility = "P(futility stop at analysis)",
                  futility_stop = "P(futility stop at an interim)")

# The CSV of the tables: every boundary row with its set's size and power.
app_csv_table <- function(d) {
  b <- boundaries(d)
  r <- d$results
  i <- match(b$set, r$set)
  cbind(b, sample_size = r$sample_size[i], power = r$power[i],
        expected_sample_size = r$expected_sample_size[i])
}

# Side by side: one column per design, a row per input that differs and per result.
app_compare_table <- function(designs, labels = names(designs)) {
  inputs <- c("hr", "survival", "rho", "copula", "competing", "composite", "allocation",
              "accrual", "follow_up", "looks", "timing", "alpha", "rule", "critical", "power",
              "n", "nsim")
  shown <- function(d, a) {
    v <- d$settings[[a]]
    if (is.null(v)) "" else paste(format(v), collapse = ", ")
  }
  extra <- function(d) {
    el <- d$deck$entry_loss
    c(dropout = if (is.null(el)) "0" else paste(format(el$dropout), collapse = ", "),
      accrual_pieces = if (is.null(el) || !length(el$accrual_end)) "" else
        paste(format(el$accrual_end), collapse = ", "),
      spending = paste(vapply(d$deck$spending[[1L]], function(s)
        spending_label(statement_spending(s)), ""), collapse = " / "),
      exact = if (isTRUE(d$exact)) "TRUE" else "FALSE",
      futility = if (is.null(d$deck$futility)) "none" else futility_label(d$deck$futility))
  }
  rows <- lapply(designs, function(d) c(vapply(inputs, function(a) shown(d, a), ""), extra(d)))
  m <- do.call(cbind, rows)
  differs <- apply(m, 1L, function(r) length(unique(r)) > 1L)
  m <- m[differs, , drop = FALSE]
  res <- lapply(designs, function(d) {
    r <- d$results
    unlist(lapply(seq_len(nrow(r)), function(i) {
      sim <- r$simulated_power[i]
      stats::setNames(c(r$sample_size[i], fmt(r$power[i], 4), r$events_ep1[i], r$events_ep2[i],
                        fmt(r$expected_sample_size[i], 1), if (!is.na(sim)) fmt(sim, 4)),
                      paste0(c("sample size", "power", "events EP1", "events EP2",
                               "expected sample size", if (!is.na(sim)) "simulated power"),
                             " (set ", r$set[i], ")"))
    }))
  })
  keys <- unique(unlist(lapply(res, names)))
  r <- do.call(cbind, lapply(res, function(x) unname(x[keys])))
  r[is.na(r)] <- ""
  rownames(r) <- keys
  out <- rbind(m, r)
  colnames(out) <- labels
  out
}

# ---- The calculation, in its own R process ----------------------------------------------------

app_plot_types <- c(bounds = "Bounds (z)", hr = "Bounds (hazard ratio)",
                    spending = "Alpha spending", power = "Power against the sample size",
                    events = "Expected events over time")

# What the application's background process does: the design (progress lines as messages), then
# its plots, then its files, each stage marked done by a file in `dir` so that the page shows the
# numbers while the rest is still being made.
app_job <- function(args, dir) {
  write_done <- function(name) writeLines("done", file.path(dir, paste0(name, ".done")))
  tryCatch({
    d <- do.call(kestrel_design, c(args, list(verbose = TRUE)))
    saveRDS(d, file.path(dir, "design.rds"))
    write_done("design")
    message("Plots")
    # A plot that cannot be drawn (no bitmap device) does not hold back the files.
    tryCatch(for (type in names(app_plot_types)) {
      grDevices::png(file.path(dir, sprintf("plot-%s.png", type)),
                     width = if (type %in% c("bounds", "hr") && length(d$sets) > 1L) 960 else 640,
                     height = 420, res = 96)
      tryCatch(plot(d, type = type), finally = grDevices::dev.off())
    }, error = function(e) writeLines(conditionMessage(e), file.path(dir, "plots-error.txt")))
    write_done("plots")
    message("Files: deck, HTML report, results file, tables, R code")
    app_files(d, args, dir)
    write_done("files")
  }, error = function(e) {
    writeLines(conditionMessage(e), file.path(dir, "error.txt"))
  })
  invisible(NULL)
}

# The files to take away: the deck, the program's HTML report and results file of that deck
# (the same calculation, run as the program runs it), the tables as CSV and the R code.
app_files <- function(d, args, dir) {
  deck <- file.path(dir, "kestrel-deck.txt")
  kestrel_write_deck(d, deck, title = "written by the Kestrel web application")
  text <- rawToChar(readBin(deck, "raw", n = file.info(deck)$size))
  out <- .Call(kestrel_run_outputs, text, "input.txt", d$seed, d$mvn_accuracy, isTRUE(d$exact))
  writeBin(charToRaw(out$html), file.path(dir, "kestrel-report.html"))
  writeBin(charToRaw(out$json), file.path(dir, "kestrel-results.json"))
  utils::write.csv(app_csv_table(d), file.path(dir, "kestrel-tables.csv"), row.names = FALSE)
  writeLines(app_r_code(args, d$seed), file.path(dir, "kestrel-design.R"))
  invisible(dir)
}

# The command that gives the deck's reports with the program.
app_program_command <- function(d) {
  paste0("kestrel --seed ", d$seed, if (isTRUE(d$exact)) " --exact" else "",
         if (!is.null(d$mvn_accuracy)) paste0(" --mvn-accuracy ", format(d$mvn_accuracy)) else "")
}
