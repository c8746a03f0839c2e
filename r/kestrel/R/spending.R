# Spending functions of one endpoint's boundary design. Each constructor returns an object of class
# "kestrel_spending" holding the code of the spending family and its parameter.

new_spending <- function(code, name, phi = NA_real_, cumulative = numeric()) {
  structure(list(code = code, name = name, phi = phi, cumulative = cumulative),
            class = "kestrel_spending")
}

sf_obf <- function() new_spending(1L, "O'Brien-Fleming type")

sf_pocock <- function() new_spending(2L, "Pocock type")

sf_power <- function(phi) {
  phi <- check_range(phi, "phi", 0, Inf, "the exponent of the power family", lower_open = TRUE)
  new_spending(3L, "power family", phi = as.numeric(phi))
}

sf_hsd <- function(gamma) {
  gamma <- check_numbers(gamma, "gamma")
  if (gamma == 0) arg_error("gamma", "a number other than 0 (the Hwang-Shih-DeCani parameter)", gamma)
  new_spending(4L, "Hwang-Shih-DeCani family", phi = as.numeric(gamma))
}

sf_cumulative <- function(values) {
  values <- check_numbers(values, "values", 1:25)
  if (any(values <= 0) || any(diff(values) <= 0))
    arg_error("values", "cumulative alpha values: positive and strictly increasing", values)
  new_spending(5L, "cumulative values", cumulative = as.numeric(values))
}

sf_obf_alt <- function() new_spending(6L, "alternative O'Brien-Fleming type")

print.kestrel_spending <- function(x, ...) {
  cat("Spending function: ", spending_label(x), "\n", sep = "")
  invisible(x)
}

spending_label <- function(x) {
  s <- x$name
  if (x$code %in% c(3L, 4L)) s <- paste0(s, " (phi = ", format(x$phi), ")")
  if (x$code == 5L) s <- paste0(s, " (", paste(format(x$cumulative), collapse = ", "), ")")
  s
}

# The statement of one boundary design run as the deck carries it: code 6 is given as a deck
# code above 5 with a replacement statement.
spending_statement <- function(sf) {
  list(deck_code = if (sf$code == 6L) 6L else sf$code,
       replacement = if (sf$code == 6L) 6L else 0L,
       phi = if (sf$code %in% c(3L, 4L)) sf$phi else NA_real_,
       cumulative = if (sf$code == 5L) sf$cumulative else numeric())
}

# The spending function a statement stands for (the code in force).
statement_spending <- function(st) {
  code <- if (st$deck_code > 5L) st$replacement else st$deck_code
  switch(as.character(code),
         "1" = sf_obf(), "2" = sf_pocock(),
         "3" = new_spending(3L, "power family", phi = st$phi),
         "4" = new_spending(4L, "Hwang-Shih-DeCani family", phi = st$phi),
         "5" = new_spending(5L, "cumulative values", cumulative = st$cumulative),
         "6" = sf_obf_alt(),
         new_spending(as.integer(code), "unknown"))
}
