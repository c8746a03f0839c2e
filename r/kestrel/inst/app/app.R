# The Kestrel web application (kestrel::run_app()). The form is built from the package's table of
# inputs; each value is checked by kestrel_design()'s own checks as it is typed; the calculation
# runs kestrel_design() in a background R process, so the page stays usable, shows the progress
# and can cancel it.
library(shiny)

k <- asNamespace("kestrel")
fields <- k$app_fields()
groups <- k$app_groups
max_kept <- 4L

# ---- The form ---------------------------------------------------------------------------------

choice_list <- function(choices) stats::setNames(names(choices), unname(choices))

field_ui <- function(f) {
  ids <- k$field_inputs(f)
  part <- function(i, control) div(class = "part", tags$span(class = "part-label", f$parts[i]), control)
  control <- switch(f$type,
    number = textInput(ids, NULL, k$field_text(f), width = "100%"),
    pair = div(class = "pair", lapply(1:2, function(i)
      part(i, textInput(ids[i], NULL, k$field_text(f, i), width = "100%")))),
    hazards = div(class = "pair", lapply(1:2, function(i)
      part(i, div(lapply(1:3, function(j)
        textInput(ids[3L * (i - 1L) + j], NULL, "", width = "100%",
                  placeholder = c("piece starts: 0, 0.25", "control hazards", "ratios T/C")[j])))))),
    choice = selectInput(ids, NULL, choice_list(f$choices), selected = f$default, width = "100%",
                         selectize = FALSE),
    flag = checkboxInput(ids, "yes", value = isTRUE(f$default)),
    futility = div(class = "pair",
                   div(class = "part", selectInput(ids[1L], NULL, choice_list(f$choices),
                                                   selected = "none", width = "100%",
                                                   selectize = FALSE)),
                   div(class = "part", textInput(ids[2L], NULL, "", width = "100%",
                                                 placeholder = "1; 3, 2; 0, 0; 1, 0.95"))),
    spending = div(class = "pair", lapply(1:2, function(i)
      part(i, div(selectInput(ids[i], NULL, choice_list(k$spending_families), selected = "obf",
                              width = "100%", selectize = FALSE),
                  textInput(ids[2L + i], NULL, "", width = "100%", placeholder = "parameter"))))))
  div(class = "field", id = paste0("field-", f$id),
      tags$label(class = "field-label", `for` = ids[1L], f$label, " ", tags$code(f$id)),
      control,
      if (nzchar(f$unit) || nzchar(f$blank))
        div(class = "field-unit", paste(c(f$unit, f$blank)[nzchar(c(f$unit, f$blank))],
                                        collapse = "; ")),
      div(class = "field-error", id = paste0("error-", f$id), role = "alert"))
}

form_ui <- lapply(names(groups), function(g) {
  tags$details(open = NA, class = "group", id = paste0("group-", g),
               tags$summary(groups[[g]]),
               lapply(Filter(function(f) f$group == g, fields), field_ui))
})

css <- "
body { font-size: 14px; }
.container-fluid { padding: 0; }
.topbar { display: flex; align-items: baseline; gap: 14px; padding: 8px 16px; background: #1b3a57;
  color: #fff; }
.topbar h1 { font-size: 20px; margin: 0; }
.topbar span { font-size: 13px; opacity: 0.85; }
.layout { display: flex; height: calc(100vh - 42px); }
.form { flex: none; width: 440px; overflow-y: auto; border-right: 1px solid #ddd; padding: 0 12px 24px 12px;
  background: #fafbfc; }
.actions { position: sticky; top: 0; z-index: 5; background: #fafbfc; padding: 10px 0 8px 0;
  border-bottom: 1px solid #ddd; }
.actions .btn { margin-right: 6px; }
#status { margin-top: 6px; min-height: 20px; font-size: 13px; overflow-wrap: anywhere; }
#status .running { color: #1b3a57; }
#status .problem { color: #b00020; }
.group { margin-top: 10px; }
.group summary { font-weight: 600; font-size: 15px; cursor: pointer; padding: 4px 0; color: #1b3a57; }
.field { margin: 6px 0 10px 0; }
.field-label { display: block; font-weight: 500; margin-bottom: 2px; }
.field-label code { font-size: 12px; color: #555; background: #eef1f4; }
.field .form-group { margin-bottom: 2px; }
.field .checkbox { margin: 0; }
.field input.form-control, .field select.form-control { height: 30px; padding: 3px 8px; font-size: 14px; }
.pair { display: flex; gap: 8px; }
.pair .part { flex: 1 1 0; min-width: 0; }
.part-label { font-size: 12px; color: #555; }
.field-unit { font-size: 12px; color: #666; }
.field-error { font-size: 12.5px; color: #b00020; overflow-wrap: anywhere; }
.field.has-error input, .field.has-error select { border-color: #b00020; }
.results { flex: 1 1 auto; min-width: 0; overflow: auto; padding: 8px 16px 24px 16px; }
.headline { font-size: 16px; margin: 6px 0; }
.headline b { font-size: 18px; }
table.k { border-collapse: collapse; margin: 4px 0 12px 0; font-size: 13px; }
table.k th, table.k td { border-bottom: 1px solid #e3e3e3; padding: 3px 8px; text-align: right;
  white-space: nowrap; }
table.k th:first-child, table.k td:first-child { text-align: left; }
table.k th { background: #f0f3f6; font-weight: 600; white-space: normal; vertical-align: bottom;
  max-width: 110px; }
.tables { display: flex; flex-wrap: wrap; gap: 0 24px; }
.scroll { overflow-x: auto; max-width: 100%; }
.plots img { max-width: 100%; height: auto; margin: 4px 8px 8px 0; border: 1px solid #eee; }
.side { display: flex; flex-wrap: wrap; gap: 10px; }
.side > div { flex: 1 1 300px; min-width: 0; max-width: 600px; }
.side img { width: 100%; height: auto; border: 1px solid #eee; }
pre#r-code { white-space: pre-wrap; font-size: 13px; }
.downloads a { display: inline-block; margin: 4px 10px 4px 0; }
.note { color: #555; font-size: 13px; }
.kept-label { font-weight: 700; }
"

js <- "
Shiny.addCustomMessageHandler('field-errors', function (errs) {
  document.querySelectorAll('.field-error').forEach(function (e) {
    e.textContent = ''; e.parentNode.classList.remove('has-error');
  });
  Object.keys(errs).forEach(function (id) {
    var e = document.getElementById('error-' + id);
    if (e) { e.textContent = errs[id]; e.parentNode.classList.add('has-error'); }
  });
});
Shiny.addCustomMessageHandler('running', function (on) {
  document.getElementById('calculate').disabled = on;
  document.getElementById('cancel').disabled = !on;
});
"

ui <- fluidPage(
  title = "Kestrel",
  tags$head(tags$style(HTML(css)), tags$script(HTML(js))),
  div(class = "topbar", tags$h1("Kestrel"),
      tags$span("Group sequential designs with two time-to-event endpoints")),
  div(class = "layout",
      div(class = "form",
          div(class = "actions",
              actionButton("calculate", "Calculate", class = "btn-primary"),
              tags$button(id = "cancel", type = "button", class = "btn btn-default action-button",
                          disabled = NA, "Cancel"),
              actionButton("keep", "Keep for comparison"),
              uiOutput("status_panel")),
          form_ui),
      div(class = "results",
          tabsetPanel(id = "tabs",
                      tabPanel("Results", uiOutput("results")),
                      tabPanel("Plots", uiOutput("plots")),
                      tabPanel("Compare", uiOutput("compare"),
                               div(class = "compare-plot",
                                   selectInput("compare_plot", "Plot of each kept design",
                                               choice_list(k$app_plot_types),
                                               selected = "bounds", selectize = FALSE,
                                               width = "280px")),
                               uiOutput("compare_plots")),
                      tabPanel("R code", uiOutput("code")),
                      tabPanel("Downloads", uiOutput("downloads"))))))

# ---- Pieces of the results --------------------------------------------------------------------

html_table <- function(df, id = NULL, row_names = FALSE) {
  names <- if (is.matrix(df)) colnames(df) else names(df)
  shown <- k$app_headings[names]
  head <- c(if (row_names) "", ifelse(is.na(shown), names, shown))
  rows <- lapply(seq_len(nrow(df)), function(i) {
    cells <- if (is.matrix(df)) df[i, ] else vapply(df[i, , drop = FALSE], format, "")
    tags$tr(if (row_names) tags$td(rownames(df)[i]), lapply(cells, tags$td))
  })
  div(class = "scroll", tags$table(class = "k", id = id,
                                   tags$thead(tags$tr(lapply(head, tags$th))), tags$tbody(rows)))
}

plot_img <- function(job, type, cls = NULL) {
  tags$img(src = sprintf("%s/plot-%s.png", job$prefix, type), alt = k$app_plot_types[[type]],
           class = cls)
}

# ---- The server -------------------------------------------------------------------------------

server <- function(input, output, session) {
  state <- reactiveValues(job = NULL, jobs = 0L, current = NULL, kept = list(), message = NULL,
                          problem = FALSE, progress = "")

  # Every value checked as it is typed, by the package's own checks.
  checked <- debounce(reactive({
    a <- k$app_arguments(input, fields)
    list(args = a$args, errors = k$app_check(a$args, fields, a$errors))
  }), 300)
  observe(session$sendCustomMessage("field-errors", checked()$errors))

  running <- function() {
    job <- isolate(state$job)
    !is.null(job) && job$proc$is_alive()
  }

  say <- function(message, problem = FALSE) {
    state$message <- message
    state$problem <- problem
  }

  observeEvent(input$calculate, {
    # One calculation at a time: a second click while one runs starts nothing.
    if (running()) return(say("A calculation is running: wait for it or cancel it"))
    a <- k$app_arguments(input, fields)
    errors <- k$app_check(a$args, fields, a$errors)
    session$sendCustomMessage("field-errors", errors)
    if (length(errors)) {
      named <- setdiff(names(errors), ".design")
      return(say(sprintf("Not calculated: %d value%s to correct%s%s",
                         length(errors), if (length(errors) > 1L) "s" else "",
                         if (length(named)) paste0(", marked next to ",
                                                   paste(named, collapse = ", ")) else "",
                         if (!is.null(errors[[".design"]])) paste(":", errors[[".design"]]) else ""),
                 TRUE))
    }
    dir <- tempfile("kestrel-app-")
    dir.create(dir)
    proc <- callr::r_bg(function(args, dir) kestrel:::app_job(args, dir),
                        args = list(args = a$args, dir = dir),
                        stdout = file.path(dir, "stdout.txt"),
                        stderr = file.path(dir, "progress.txt"), supervise = TRUE)
    state$jobs <- state$jobs + 1L
    prefix <- sprintf("kestrel-job-%d-%s", state$jobs, basename(dir))
    addResourcePath(prefix, dir)
    state$job <- list(proc = proc, dir = dir, prefix = prefix, args = a$args,
                      started = Sys.time(), number = state$jobs, shown = FALSE)
    state$progress <- "starting"
    say(NULL)
    session$sendCustomMessage("running", TRUE)
  })

  observeEvent(input$cancel, {
    job <- state$job
    if (is.null(job)) return()
    job$proc$kill()
    state$job <- NULL
    session$sendCustomMessage("running", FALSE)
    say(sprintf("Calculation %d cancelled%s", job$number,
                if (job$shown) " (its numbers are shown; plots or files were not finished)" else
                  ": the results shown are those of the previous calculation"))
  })

  # The running calculation, looked at three times a second.
  observe({
    invalidateLater(300)
    job <- state$job
    if (is.null(job)) return()
    done <- function(stage) file.exists(file.path(job$dir, paste0(stage, ".done")))
    lines <- tryCatch(readLines(file.path(job$dir, "progress.txt"), warn = FALSE),
                      error = function(e) character())
    lines <- trimws(lines[nzchar(trimws(lines))])
    if (length(lines) && !identical(lines[length(lines)], isolate(state$progress)))
      state$progress <- lines[length(lines)]
    if (!job$shown && done("design")) {
      d <- readRDS(file.path(job$dir, "design.rds"))
      state$current <- list(design = d, args = job$args, dir = job$dir, prefix = job$prefix,
                            number = job$number, code = k$app_r_code(job$args, d$seed),
                            plots = FALSE, files = FALSE)
      job$shown <- TRUE
      state$job <- job
    }
    cur <- isolate(state$current)
    if (!is.null(cur) && identical(cur$dir, job$dir)) {
      if (!cur$plots && done("plots")) state$current$plots <- TRUE
      if (!cur$files && done("files")) state$current$files <- TRUE
    }
    if (!job$proc$is_alive()) {
      state$job <- NULL
      session$sendCustomMessage("running", FALSE)
      error <- file.path(job$dir, "error.txt")
      if (file.exists(error)) say(paste("Calculation failed:", paste(readLines(error), collapse = " ")),
                                  TRUE)
      else if (!done("files")) say("The calculation stopped without finishing", TRUE)
      else say(sprintf("Calculation %d done in %.1f s", job$number,
                       as.numeric(difftime(Sys.time(), job$started, units = "secs"))))
    }
  })

  output$status_panel <- renderUI({
    job <- state$job
    div(id = "status", `data-jobs` = state$jobs,
        if (!is.null(job)) {
          invalidateLater(1000)
          div(class = "running", id = "status-running",
              sprintf("Calculation %d running, %.0f s: ", job$number,
                      as.numeric(difftime(Sys.time(), job$started, units = "secs"))),
              tags$span(id = "progress", state$progress))
        },
        if (!is.null(state$message))
          div(id = "status-message", class = if (state$problem) "problem" else "done",
              state$message))
  })

  output$results <- renderUI({
    cur <- state$current
    if (is.null(cur))
      return(p(class = "note", id = "no-results",
               "Nothing calculated yet: fill in the design on the left and press Calculate."))
    d <- cur$design
    sets <- names(d$sets)
    tagList(
      tags$h3(id = "result-title", sprintf("Calculation %d", cur$number)),
      lapply(sets, function(s) {
        x <- d$sets[[s]]
        div(class = "headline",
            if (length(sets) > 1L) sprintf("Set %s (%s): ", s, k$set_title(s)),
            HTML(sprintf(paste0('maximum sample size <b id="sample-size-%s">%d</b>, power ',
                                '<b id="power-%s">%.4f</b>; maximum events EP1 %d, EP2 %d'),
                         s, x$MSS, s, x$APW, x$ME1, x$ME2)),
            if (nzchar(x$warning)) div(class = "problem", x$warning))
      }),
      if (length(sets) > 1L)
        p(class = "note", paste("Two sets: the protocol states the set of the endpoint whose",
                                "events trigger the analyses, or the larger size when that is",
                                "not decided.")),
      tags$h4("Results per set"),
      html_table(k$app_results_table(d), "results-table"),
      lapply(sets, function(s) tagList(
        tags$h4(sprintf("Analyses, set %s: events and probability of success", s)),
        html_table(k$app_analyses_table(d, s), paste0("analyses-", s)),
        div(class = "tables", lapply(c("EP1", "EP2"), function(ep) div(
          tags$h4(sprintf("Bounds of %s, set %s (%s spending)", ep, s,
                          k$spending_label(k$statement_spending(
                            d$deck$spending[[match(s, sets)]][[if (ep == "EP1") 1L else 2L]])))),
          html_table(k$app_bounds_table(d, s, ep), sprintf("bounds-%s-%s", s, ep))))))))
  })

  output$plots <- renderUI({
    cur <- state$current
    if (is.null(cur)) return(p(class = "note", "No design yet."))
    if (!cur$plots) return(p(class = "note", id = "plots-pending", "The plots are being drawn..."))
    failed <- file.path(cur$dir, "plots-error.txt")
    if (file.exists(failed))
      return(p(class = "problem", paste("The plots could not be drawn:",
                                        paste(readLines(failed), collapse = " "))))
    div(class = "plots", id = "plots",
        lapply(names(k$app_plot_types), function(t) plot_img(cur, t)))
  })

  output$code <- renderUI({
    cur <- state$current
    if (is.null(cur)) return(p(class = "note", "No design yet."))
    tagList(p(class = "note", paste("This call reproduces the design shown, the seed included;",
                                    "paste it into R.")),
            tags$pre(id = "r-code", cur$code))
  })

  output$downloads <- renderUI({
    cur <- state$current
    if (is.null(cur)) return(p(class = "note", "No design yet."))
    if (!cur$files) return(p(class = "note", id = "files-pending", "The files are being written..."))
    link <- function(file, text, id) tags$a(href = paste0(cur$prefix, "/", file), download = file,
                                            id = id, class = "btn btn-default", text)
    div(class = "downloads",
        link("kestrel-report.html", "HTML report", "download-report"),
        link("kestrel-deck.txt", "Deck", "download-deck"),
        link("kestrel-results.json", "Results file (JSON)", "download-results"),
        link("kestrel-tables.csv", "Tables (CSV)", "download-csv"),
        link("kestrel-design.R", "R code", "download-code"),
        p(class = "note", "The HTML report and the results file are the program's own, from the deck. ",
          "To run the deck with the program, save it as a/input.txt and run ",
          tags$code(k$app_program_command(cur$design)), "."))
  })

  # Up to four designs kept side by side.
  observeEvent(input$keep, {
    cur <- state$current
    if (is.null(cur)) return(say("Nothing to keep: calculate a design first", TRUE))
    if (any(vapply(state$kept, function(x) identical(x$dir, cur$dir), logical(1))))
      return(say("This design is kept already"))
    if (length(state$kept) >= max_kept)
      return(say(sprintf("At most %d designs are kept: remove one on the Compare tab first",
                         max_kept), TRUE))
    used <- vapply(state$kept, function(x) x$label, "")
    cur$label <- setdiff(LETTERS[1:max_kept], used)[1L]
    state$kept <- c(state$kept, list(cur))
    say(sprintf("Kept as design %s (%d of %d)", cur$label, length(state$kept), max_kept))
  })

  observeEvent(input$remove_kept, {
    state$kept <- Filter(function(x) x$label != input$remove_kept, state$kept)
  })

  output$compare <- renderUI({
    kept <- state$kept
    if (!length(kept))
      return(p(class = "note", id = "no-kept",
               "No design kept: calculate one, press \"Keep for comparison\", change the inputs, ",
               "calculate again and keep that one too (up to four)."))
    designs <- lapply(kept, function(x) x$design)
    labels <- vapply(kept, function(x) x$label, "")
    tagList(
      tags$h4("Kept designs: inputs that differ, and results"),
      html_table(k$app_compare_table(designs, paste("design", labels)), "compare-table",
                 row_names = TRUE))
  })

  output$compare_plots <- renderUI({
    kept <- state$kept
    shown <- input$compare_plot
    if (!length(kept) || is.null(shown)) return(NULL)
    div(class = "side", lapply(kept, function(x) div(
        tags$span(class = "kept-label", paste("Design", x$label)), " ",
        tags$a(href = "#", class = "remove-kept",
               onclick = sprintf("Shiny.setInputValue('remove_kept', '%s', {priority: 'event'}); return false;",
                                 x$label), "remove"),
        if (file.exists(file.path(x$dir, "plots.done"))) plot_img(x, shown) else p(class = "note", "plots not finished"))))
  })

  session$onSessionEnded(function() {
    job <- isolate(state$job)
    if (!is.null(job)) job$proc$kill()
  })
}

shinyApp(ui, server)
