# The kestrel program, for the comparisons of R results with the program's reports. It is found
# through KESTREL_BINARY or in the checkout's build directories; tests that need it are skipped
# when neither exists (CI sets KESTREL_BINARY, so there they always run).
kestrel_program <- function() {
  bin <- Sys.getenv("KESTREL_BINARY")
  if (nzchar(bin) && file.exists(bin)) return(normalizePath(bin))
  for (b in c("release", "debug")) {
    p <- file.path("..", "..", "..", "..", "build", b, "kestrel")
    if (file.exists(p)) return(normalizePath(p))
  }
  ""
}

skip_without_program <- function() {
  if (!nzchar(kestrel_program())) skip("the kestrel program is not built (set KESTREL_BINARY)")
}

# The example decks: installed with the package (the checkout's examples/), else in the checkout
# (KESTREL_SOURCE_DIR is the checkout's src/).
example_deck <- function(name) {
  src <- Sys.getenv("KESTREL_SOURCE_DIR")
  dirs <- c(system.file("examples", package = "kestrel"),
            if (nzchar(src)) file.path(src, "..", "examples"),
            file.path("..", "..", "..", "..", "examples"))
  for (d in dirs) if (file.exists(file.path(d, name))) return(normalizePath(file.path(d, name)))
  ""
}

# Runs the program on a deck file with a seed; returns its main report, summary file and status.
run_program <- function(deck, seed, extra = character()) {
  dir <- tempfile("kestrel-run")
  dir.create(file.path(dir, "a"), recursive = TRUE)
  file.copy(deck, file.path(dir, "a", "input.txt"))
  status <- system2(kestrel_program(), c("-C", dir, "--seed", seed, extra),
                    stdout = file.path(dir, "console.txt"), stderr = file.path(dir, "stderr.txt"))
  read <- function(f) {
    p <- file.path(dir, "a", f)
    if (file.exists(p)) readChar(p, file.info(p)$size, useBytes = TRUE) else ""
  }
  out <- list(status = status, main = read("TEST_7a.OUT"), summary = read("TEST_7b.OUT"))
  unlink(dir, recursive = TRUE)
  out
}

# The main report of R results as the program writes it: the seed line, then each design's part.
program_main_report <- function(designs, seed) {
  paste0(sprintf(" SEED OF THE UNIFORM GENERATOR (--seed): %10d\n", seed),
         paste(vapply(designs, function(d) d$report, character(1)), collapse = ""))
}

summary_lines <- function(designs) {
  unlist(lapply(designs, function(d) vapply(d$sets, function(s) s$summary_line, character(1))),
         use.names = FALSE)
}

file_lines <- function(text) strsplit(text, "\n", fixed = TRUE, useBytes = TRUE)[[1]]

# The bytes of a report after its first n lines (reports carry bytes that are not text in every
# locale, so they are compared as bytes).
bytes_after_lines <- function(text, n) {
  r <- charToRaw(text)
  nl <- which(r == as.raw(10L))
  r[(nl[n] + 1L):length(r)]
}
