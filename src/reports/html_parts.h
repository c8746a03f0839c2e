#pragma once
// What the pieces of the HTML report share (html_report.cpp the page, html_text.cpp the text
// helpers, html_plots.cpp the SVG charts, html_tables.cpp the tables); internal to the report.
#include <string>
#include <string_view>
#include <vector>

#include "boundaries/gsdesign.h"
#include "reports/run_record.h"

namespace kestrel::reports::html_parts {

// ---------------------------------------------------------------------------------------------
// Text helpers (html_text.cpp)

std::string gnum(double v, int sig = 10);
std::string inum(long long v);
double at(const std::vector<double>& v, int k);
int count_k(const EvaluatedSet& s);
const char* df_title(int df);
const char* df_text(int df);
const char* crivl_text(int c);
const char* copula_text(int cpl);
const char* cprsk_text(int c);
const char* cmpst_text(int c);
const char* esf_text(int code);
const char* itime_text(int itime);
std::string set_title(const std::string& label);
std::string lower(std::string s);
std::string set_id(const DesignRecord& d, const EvaluatedSet& s);
// One-sided designs carry -8 as the lower bound: there is no lower bound to show.
bool no_lower(double z);

// ---------------------------------------------------------------------------------------------
// The page being written, and its cells

struct Page {
  std::string s;
  Page& operator<<(std::string_view t) { s.append(t); return *this; }
  Page& operator<<(const std::string& t) { s.append(t); return *this; }
  Page& operator<<(const char* t) { s.append(t); return *this; }
  Page& operator<<(long long v) { s.append(std::to_string(v)); return *this; }
  Page& operator<<(int v) { return *this << static_cast<long long>(v); }
  Page& operator<<(size_t v) { s.append(std::to_string(v)); return *this; }
};

inline std::string td_num(const std::string& text) { return "<td class=\"num\">" + text + "</td>"; }
inline std::string td_text(const std::string& text) { return "<td class=\"text\">" + text + "</td>"; }

// ---------------------------------------------------------------------------------------------
// SVG charts (html_plots.cpp)

struct Point {
  double x, y;
};
struct Series {
  std::string name;
  std::string color;
  std::string dash;    // stroke-dasharray, empty for solid
  char marker = 'o';   // 'o' circle, 's' square, '^' triangle, 'd' diamond
  std::vector<Point> points;
};

void bounds_chart(Page& p, const std::vector<Series>& series, const std::string& title);
void qstop_chart(Page& p, const std::vector<double>& q, const std::string& title);
// With piecewise hazards: both arms' assumed survival curves of each endpoint over the study.
void survival_charts(Page& p, const Design& d);

// ---------------------------------------------------------------------------------------------
// Tables (html_tables.cpp)

void inputs_table(Page& p, const Design& d);
void boundary_table(Page& p, const std::string& id, const std::string& ep, const EvaluatedSet& set,
                    const boundaries::GsDesignResult& r, const std::vector<double>& za_used,
                    const std::vector<double>& zb_used, const AnalysisArray& finf);
void results_table(Page& p, const std::string& id, const DesignRecord& d, const EvaluatedSet& set);
void trace_table(Page& p, const std::string& id, const samplesize::Evaluation& e);
void per_analysis_table(Page& p, const std::string& id, const EvaluatedSet& set);
void simulation_section(Page& p, const std::string& id, const DesignRecord& d,
                        const simulation::SimulationResult& s);
// A table of the futility bounds and of the operating characteristics per analysis (designs
// with a FUTILITY statement only).
void futility_table(Page& p, const std::string& id, const DesignRecord& d, const EvaluatedSet& set);
// The operating characteristics under the alternative and each null (designs with futility
// stops, and every design of a run with --under-nulls): one row per hypothesis and analysis.
void null_table(Page& p, const std::string& id, const DesignRecord& d, const EvaluatedSet& set);

}  // namespace kestrel::reports::html_parts
