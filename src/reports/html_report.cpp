#include "reports/html_report.h"

#include "boundaries/futility.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "survival/margins.h"

namespace kestrel::reports {

// ---------------------------------------------------------------------------------------------
// Text helpers

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
          if (c < 0x20 && c != '\n' && c != '\t') out += ' ';
          else out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    // Multi-byte UTF-8 passes through when complete and well formed.
    size_t n = (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
             : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    bool ok = n > 0 && i + n <= text.size();
    unsigned cp = n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (size_t j = 1; ok && j < n; ++j) {
      const unsigned char b = static_cast<unsigned char>(text[i + j]);
      ok = (b & 0xC0) == 0x80;
      cp = (cp << 6) | (b & 0x3F);
    }
    const unsigned min = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
    if (ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      char buf[16];
      std::snprintf(buf, sizeof buf, "&#x%X;", c);
      out += buf;
      ++i;
    }
  }
  return out;
}

std::string fixed(double v, int d) {
  if (!std::isfinite(v)) return "&#8211;";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", d, v);
  std::string s = buf;
  // "-0.000" reads as a sign error in a table: show it as zero.
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  if (s[0] == '-') s.replace(0, 1, "&#8722;");  // typographic minus
  return s;
}

namespace {

std::string gnum(double v, int sig = 10) {
  if (!std::isfinite(v)) return "&#8211;";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", sig, v);
  std::string s = buf;
  if (s[0] == '-') s.replace(0, 1, "&#8722;");
  return s;
}

std::string inum(long long v) {
  std::string s = std::to_string(v);
  if (s[0] == '-') s.replace(0, 1, "&#8722;");
  return s;
}

double at(const std::vector<double>& v, int k) {
  return k >= 0 && k < static_cast<int>(v.size()) ? v[static_cast<size_t>(k)] : std::nan("");
}

int count_k(const EvaluatedSet& s) {
  int K = s.information.K;
  K = std::clamp(K, 0, NMAXA);
  return K;
}

const char* df_title(int df) {
  switch (df) {
    case 2: return "AT THE SAME INTERIM";
    case 3: return "FIXED SEQUENCE: EP1 ---> EP2";
    case 4: return "EP2 IS TESTED ONLY AT THE FINAL";
    default: return "AT ANY INTERIMS";
  }
}

const char* df_text(int df) {
  switch (df) {
    case 2: return "both endpoints cross their bounds at one and the same analysis";
    case 3: return "EP1 crosses its bound; EP2 is tested from that analysis on and crosses its bound";
    case 4: return "EP1 crosses its bound at some analysis and EP2 crosses the fixed-sample critical "
                   "value at the final analysis";
    default: return "each endpoint crosses its bound at some analysis, not necessarily the same one";
  }
}

const char* crivl_text(int c) {
  switch (c) {
    case 1: return "both endpoints are tested with the critical values of EP1";
    case 2: return "both endpoints are tested with the critical values of EP2";
    default: return "each endpoint is tested with its own critical values";
  }
}

const char* copula_text(int cpl) {
  switch (cpl) {
    case 1: return "Clayton (late dependency)";
    case 2: return "positive stable (early dependency)";
    case 3: return "Frank";
    default: return "none (copula parameter not computed)";
  }
}

const char* cprsk_text(int c) {
  switch (c) {
    case 1: return "both endpoints non-fatal";
    case 2: return "one endpoint fatal";
    case 3: return "both endpoints fatal";
    default: return "unknown mode";
  }
}

const char* cmpst_text(int c) {
  return c == 2 ? "first endpoint is the earlier of EP1 and EP2" : "first endpoint is EP1 itself";
}

const char* esf_text(int code) {
  switch (code) {
    case 1: return "O'Brien-Fleming type";
    case 2: return "Pocock type";
    case 3: return "power family";
    case 4: return "Hwang-Shih-DeCani family";
    case 5: return "user-given cumulative alpha";
    case 6: return "alternate O'Brien-Fleming";
    default: return "unknown code";
  }
}

const char* itime_text(int itime) {
  if (itime == 2) return "information fractions; EP2-driven analysis times only";
  if (itime >= 3) return "calendar times";
  return "information fractions; analysis times driven by EP1 and by EP2";
}

std::string set_title(const std::string& label) {
  if (label == "EP1") return "Analysis times set by the information fractions of EP1";
  if (label == "EP2") return "Analysis times set by the information fractions of EP2";
  if (label == "CALND") return "Analysis times given in calendar time";
  return "Evaluated set " + label;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string set_id(const DesignRecord& d, const EvaluatedSet& s) {
  std::string id = "d";
  id += std::to_string(d.design.number);
  id += '-';
  id += lower(s.label);
  return id;
}

// One-sided designs carry -8 as the lower bound: there is no lower bound to show.
bool no_lower(double z) { return !std::isfinite(z) || z <= -8.0; }

// ---------------------------------------------------------------------------------------------
// Page pieces

constexpr const char* kStyle = R"CSS(
:root { --ink:#1b1b1b; --muted:#5a5a5a; --rule:#2b2b2b; --light:#d9d9d9; --ep1:#0b5fa5; --ep2:#c2520c; }
* { box-sizing: border-box; }
body { font-family: "Charter", "Bitstream Charter", "Georgia", "Cambria", "Times New Roman", serif;
       color: var(--ink); background: #fff; max-width: 72rem; margin: 2rem auto; padding: 0 1.5rem;
       line-height: 1.45; font-size: 15px; }
h1 { font-size: 1.55rem; margin: 0 0 .25rem; font-weight: 600; }
h2 { font-size: 1.3rem; margin: 2.5rem 0 .75rem; padding-bottom: .25rem; border-bottom: 2px solid var(--rule); font-weight: 600; }
h3 { font-size: 1.1rem; margin: 1.75rem 0 .5rem; font-weight: 600; }
h4 { font-size: 1rem; margin: 1.25rem 0 .35rem; font-weight: 600; }
p { margin: .35rem 0 .6rem; }
.meta { color: var(--muted); font-size: .9rem; }
.note { color: var(--muted); font-size: .85rem; }
.error { border: 2px solid #a40000; background: #fff3f3; padding: .6rem .9rem; margin: 1rem 0; }
.incomplete { color: #a40000; font-weight: 600; }
table { border-collapse: collapse; margin: .4rem 0 1rem; font-size: .84rem; }
caption { caption-side: top; text-align: left; font-weight: 600; padding-bottom: .3rem; font-size: .92rem;
          white-space: nowrap; }
th, td { padding: .16rem .5rem; vertical-align: baseline; }
thead th { border-top: 2px solid var(--rule); border-bottom: 1px solid var(--rule); font-weight: 600;
           text-align: right; line-height: 1.2; }
thead th.text, td.text { text-align: left; }
tbody tr:last-child td, tbody tr:last-child th { border-bottom: 2px solid var(--rule); }
tfoot td { border-bottom: 2px solid var(--rule); font-weight: 600; }
td.num, th.num { text-align: right; font-variant-numeric: tabular-nums lining-nums; white-space: nowrap; }
tbody th { text-align: left; font-weight: normal; white-space: nowrap; }
table.kv td.num { min-width: 6rem; }
code, .mono { font-family: "DejaVu Sans Mono", "Menlo", "Consolas", monospace; font-size: .85em; }
.set { margin-left: 0; }
.plots { display: flex; flex-wrap: wrap; gap: 1.5rem; align-items: flex-start; }
figure { margin: .5rem 0 1rem; width: 520px; }
figcaption { font-size: .85rem; color: var(--muted); }
svg text { font-family: "Helvetica Neue", "Arial", "DejaVu Sans", sans-serif; fill: var(--ink); }
nav table { font-size: .85rem; }
a { color: var(--ep1); text-decoration: none; }
footer { margin-top: 3rem; border-top: 1px solid var(--light); padding-top: .5rem; }
@media print { body { margin: 0; max-width: none; } section.design { break-before: page; }
               table, figure { break-inside: avoid; } }
)CSS";

struct Page {
  std::string s;
  Page& operator<<(std::string_view t) { s.append(t); return *this; }
  Page& operator<<(const std::string& t) { s.append(t); return *this; }
  Page& operator<<(const char* t) { s.append(t); return *this; }
  Page& operator<<(long long v) { s.append(std::to_string(v)); return *this; }
  Page& operator<<(int v) { return *this << static_cast<long long>(v); }
  Page& operator<<(size_t v) { s.append(std::to_string(v)); return *this; }
};

std::string td_num(const std::string& text) { return "<td class=\"num\">" + text + "</td>"; }
std::string td_text(const std::string& text) { return "<td class=\"text\">" + text + "</td>"; }

// ---------------------------------------------------------------------------------------------
// SVG charts

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

// Axis ticks at 1, 2 or 5 times a power of ten, covering [lo, hi].
std::vector<double> nice_ticks(double& lo, double& hi, int target = 5) {
  if (!(hi > lo)) hi = lo + 1.0;
  const double raw = (hi - lo) / target;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double step = mag;
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
    step = m * mag;
    if (raw <= step) break;
  }
  lo = std::floor(lo / step + 1e-9) * step;
  hi = std::ceil(hi / step - 1e-9) * step;
  std::vector<double> ticks;
  for (int i = 0; lo + i * step <= hi + step * 1e-6; ++i) ticks.push_back(lo + i * step);
  return ticks;
}

std::string tick_label(double v, double step) {
  int d = 0;
  while (d < 6 && std::fabs(step * std::pow(10.0, d) - std::round(step * std::pow(10.0, d))) > 1e-6) ++d;
  return fixed(v, d);
}

std::string fmt2(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

void marker(Page& p, char m, double x, double y, const std::string& color) {
  const std::string cx = fmt2(x), cy = fmt2(y);
  switch (m) {
    case 's':
      p << "<rect x=\"" << fmt2(x - 3.6) << "\" y=\"" << fmt2(y - 3.6)
        << "\" width=\"7.2\" height=\"7.2\" fill=\"" << color << "\"/>";
      break;
    case '^':
      p << "<path d=\"M" << fmt2(x) << " " << fmt2(y - 4.5) << " L" << fmt2(x + 4.2) << " "
        << fmt2(y + 3) << " L" << fmt2(x - 4.2) << " " << fmt2(y + 3) << " Z\" fill=\"white\" stroke=\""
        << color << "\" stroke-width=\"1.5\"/>";
      break;
    case 'd':
      p << "<path d=\"M" << fmt2(x) << " " << fmt2(y - 4.5) << " L" << fmt2(x + 4.5) << " " << cy
        << " L" << fmt2(x) << " " << fmt2(y + 4.5) << " L" << fmt2(x - 4.5) << " " << cy
        << " Z\" fill=\"white\" stroke=\"" << color << "\" stroke-width=\"1.5\"/>";
      break;
    default:
      p << "<circle cx=\"" << cx << "\" cy=\"" << cy << "\" r=\"3.8\" fill=\"" << color << "\"/>";
  }
}

constexpr double kW = 520, kH = 300, kL = 58, kR = 16, kT = 34, kB = 48;

void axes(Page& p, const std::string& title, const std::string& xlabel, const std::string& ylabel,
          const std::vector<double>& yt, double ylo, double yhi,
          const std::vector<std::pair<double, std::string>>& xt, double xlo, double xhi) {
  const double pw = kW - kL - kR, ph = kH - kT - kB;
  auto X = [&](double x) { return kL + (x - xlo) / (xhi - xlo) * pw; };
  auto Y = [&](double y) { return kT + (yhi - y) / (yhi - ylo) * ph; };
  p << "<text x=\"" << fmt2(kL) << "\" y=\"18\" font-size=\"13\" font-weight=\"600\">"
    << html_escape(title) << "</text>";
  const double step = yt.size() > 1 ? yt[1] - yt[0] : 1.0;
  for (double t : yt) {
    p << "<line x1=\"" << fmt2(kL) << "\" x2=\"" << fmt2(kL + pw) << "\" y1=\"" << fmt2(Y(t))
      << "\" y2=\"" << fmt2(Y(t)) << "\" stroke=\"" << (std::fabs(t) < 1e-12 ? "#888" : "#e4e4e4")
      << "\" stroke-width=\"1\"/>";
    p << "<text x=\"" << fmt2(kL - 6) << "\" y=\"" << fmt2(Y(t) + 4)
      << "\" font-size=\"11\" text-anchor=\"end\">" << tick_label(t, step) << "</text>";
  }
  for (const auto& [x, label] : xt) {
    p << "<line x1=\"" << fmt2(X(x)) << "\" x2=\"" << fmt2(X(x)) << "\" y1=\"" << fmt2(kT + ph)
      << "\" y2=\"" << fmt2(kT + ph + 5) << "\" stroke=\"#333\"/>";
    p << "<text x=\"" << fmt2(X(x)) << "\" y=\"" << fmt2(kT + ph + 18)
      << "\" font-size=\"11\" text-anchor=\"middle\">" << label << "</text>";
  }
  p << "<rect x=\"" << fmt2(kL) << "\" y=\"" << fmt2(kT) << "\" width=\"" << fmt2(pw)
    << "\" height=\"" << fmt2(ph) << "\" fill=\"none\" stroke=\"#333\" stroke-width=\"1\"/>";
  p << "<text class=\"xlabel\" x=\"" << fmt2(kL + pw / 2) << "\" y=\"" << fmt2(kH - 8)
    << "\" font-size=\"12\" text-anchor=\"middle\">" << html_escape(xlabel) << "</text>";
  p << "<text class=\"ylabel\" transform=\"translate(15 " << fmt2(kT + ph / 2)
    << ") rotate(-90)\" font-size=\"12\" text-anchor=\"middle\">" << html_escape(ylabel) << "</text>";
}

void legend(Page& p, const std::vector<Series>& series, double x, double y) {
  double h = 8 + 16.0 * static_cast<double>(series.size());
  double w = 0;
  for (const auto& s : series) w = std::max(w, 6.2 * static_cast<double>(s.name.size()));
  w += 44;
  p << "<g class=\"legend\"><rect x=\"" << fmt2(x - w) << "\" y=\"" << fmt2(y) << "\" width=\""
    << fmt2(w) << "\" height=\"" << fmt2(h) << "\" fill=\"white\" fill-opacity=\"0.92\" stroke=\"#bbb\"/>";
  for (size_t i = 0; i < series.size(); ++i) {
    const Series& s = series[i];
    const double yy = y + 12 + 16.0 * static_cast<double>(i);
    const double x0 = x - w + 8;
    if (s.marker == 'b') {
      p << "<rect x=\"" << fmt2(x0) << "\" y=\"" << fmt2(yy - 5) << "\" width=\"22\" height=\"10\" fill=\""
        << s.color << "\"/>";
    } else {
      p << "<line x1=\"" << fmt2(x0) << "\" x2=\"" << fmt2(x0 + 22) << "\" y1=\"" << fmt2(yy)
        << "\" y2=\"" << fmt2(yy) << "\" stroke=\"" << s.color << "\" stroke-width=\"2\""
        << (s.dash.empty() ? "" : " stroke-dasharray=\"" + s.dash + "\"") << "/>";
      marker(p, s.marker, x0 + 11, yy, s.color);
    }
    p << "<text x=\"" << fmt2(x0 + 30) << "\" y=\"" << fmt2(yy + 4) << "\" font-size=\"11\">"
      << html_escape(s.name) << "</text>";
  }
  p << "</g>";
}

void bounds_chart(Page& p, const std::vector<Series>& series, const std::string& title) {
  double ylo = 0, yhi = 1;
  bool any = false;
  for (const auto& s : series)
    for (const auto& pt : s.points) {
      if (!any) { ylo = std::min(0.0, pt.y); yhi = pt.y; any = true; }
      ylo = std::min(ylo, pt.y);
      yhi = std::max(yhi, pt.y);
    }
  yhi += 0.15 * (yhi - ylo) + 0.3;  // room for the legend
  const auto yt = nice_ticks(ylo, yhi, 6);
  double xlo = 0, xhi = 1;
  std::vector<std::pair<double, std::string>> xt;
  for (int i = 0; i <= 5; ++i) xt.push_back({i * 0.2, fixed(i * 0.2, 1)});
  p << "<svg class=\"bounds-plot\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << fmt2(kW)
    << "\" height=\"" << fmt2(kH) << "\" viewBox=\"0 0 " << fmt2(kW) << " " << fmt2(kH)
    << "\" role=\"img\" aria-label=\"" << html_escape(title) << "\">";
  axes(p, title, "Information fraction", "Standardized z bound", yt, ylo, yhi, xt, xlo, xhi);
  const double pw = kW - kL - kR, ph = kH - kT - kB;
  auto X = [&](double x) { return kL + (x - xlo) / (xhi - xlo) * pw; };
  auto Y = [&](double y) { return kT + (yhi - y) / (yhi - ylo) * ph; };
  for (const auto& s : series) {
    if (s.points.empty()) continue;
    p << "<g class=\"series\" data-name=\"" << html_escape(s.name) << "\"><polyline fill=\"none\" stroke=\""
      << s.color << "\" stroke-width=\"2\"" << (s.dash.empty() ? "" : " stroke-dasharray=\"" + s.dash + "\"")
      << " points=\"";
    for (const auto& pt : s.points) p << fmt2(X(pt.x)) << "," << fmt2(Y(pt.y)) << " ";
    p << "\"/>";
    for (const auto& pt : s.points) marker(p, s.marker, X(pt.x), Y(pt.y), s.color);
    p << "</g>";
  }
  legend(p, series, kL + pw - 6, kT + 6);
  p << "</svg>";
}

void qstop_chart(Page& p, const std::vector<double>& q, const std::string& title) {
  const int K = static_cast<int>(q.size());
  double ymax = 0;
  for (double v : q) ymax = std::max(ymax, std::isfinite(v) ? v : 0.0);
  double ylo = 0, yhi = std::max(ymax * 1.12, 0.05);  // room for the value labels
  if (yhi > 1.0 && ymax <= 1.0) yhi = 1.0;
  const auto yt = nice_ticks(ylo, yhi, 5);
  const double xlo = 0.5, xhi = K + 0.5;
  std::vector<std::pair<double, std::string>> xt;
  for (int k = 1; k <= K; ++k) xt.push_back({static_cast<double>(k), std::to_string(k)});
  p << "<svg class=\"qstop-plot\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << fmt2(kW)
    << "\" height=\"" << fmt2(kH) << "\" viewBox=\"0 0 " << fmt2(kW) << " " << fmt2(kH)
    << "\" role=\"img\" aria-label=\"" << html_escape(title) << "\">";
  axes(p, title, "Analysis", "Probability", yt, ylo, yhi, xt, xlo, xhi);
  const double pw = kW - kL - kR, ph = kH - kT - kB;
  auto X = [&](double x) { return kL + (x - xlo) / (xhi - xlo) * pw; };
  auto Y = [&](double y) { return kT + (yhi - y) / (yhi - ylo) * ph; };
  const double bw = std::min(56.0, 0.6 * pw / std::max(K, 1));
  for (int k = 1; k <= K; ++k) {
    const double v = std::isfinite(q[static_cast<size_t>(k - 1)]) ? q[static_cast<size_t>(k - 1)] : 0.0;
    p << "<rect class=\"bar\" x=\"" << fmt2(X(k) - bw / 2) << "\" y=\"" << fmt2(Y(v)) << "\" width=\""
      << fmt2(bw) << "\" height=\"" << fmt2(Y(0) - Y(v)) << "\" fill=\"#4f7fb0\"/>";
    p << "<text x=\"" << fmt2(X(k)) << "\" y=\"" << fmt2(Y(v) - 4)
      << "\" font-size=\"10\" text-anchor=\"middle\">" << fixed(v, 3) << "</text>";
  }
  Series bars{"P(success at analysis)", "#4f7fb0", "", 'b', {}};
  legend(p, {bars}, kL + pw, 4);  // above the plot area, clear of the bars
  p << "</svg>";
}

// ---------------------------------------------------------------------------------------------
// Sections

// The HAZARDS statements in the inputs table: per endpoint and piece its start, control hazard
// and ratio (treatment over control).
void hazards_rows(Page& p, const Design& d) {
  for (size_t e = 0; e < 2; ++e) {
    const EndpointHazards& h = d.entry_loss.hazards[e];
    const std::string ep = e == 0 ? "EP1" : "EP2";
    for (size_t k = 0; k < h.control.size(); ++k) {
      const std::string piece = ep + " piece " + std::to_string(k + 1) + " from time " +
                                gnum(k == 0 ? 0.0 : h.change[k - 1]);
      p << "<tr><th><code>HAZARDS</code></th>" << td_text("control hazard of " + piece)
        << td_num(gnum(h.control[k])) << td_num(gnum(h.control[k])) << "</tr>";
      p << "<tr><th><code>HAZARDS</code></th>"
        << td_text("hazard ratio (treatment over control) of " + piece)
        << td_num(gnum(h.ratio[k])) << td_num(gnum(h.ratio[k])) << "</tr>";
    }
  }
}

// With piecewise hazards: both arms' assumed survival curves of each endpoint over the study.
void survival_charts(Page& p, const Design& d) {
  const EntryAndLoss& el = d.entry_loss;
  if (!el.has_hazards()) return;
  const DeckValues& s = d.stored;
  const double T = s.TA + s.TF;
  p << "<div class=\"plots\">";
  for (int e = 0; e < 2; ++e) {
    const std::string ep = e == 0 ? "EP1" : "EP2";
    std::vector<Series> series = {{"control", "#0b5fa5", "", 'o', {}},
                                  {"treatment", "#c2520c", "6 4", 's', {}}};
    for (int arm = 0; arm < 2; ++arm) {
      const survival::PiecewiseExponential law = survival::endpoint_margin(
          el, e, arm, e == 0 ? s.HR1 : s.HR2, e == 0 ? s.SRVR1 : s.SRVR2, T);
      for (int i = 0; i <= 60; ++i)
        series[static_cast<size_t>(arm)].points.push_back({T * i / 60.0, law.survival(T * i / 60.0)});
    }
    const std::string title = ep + " survival assumed";
    double ylo = 0, yhi = 1;
    const auto yt = nice_ticks(ylo, yhi, 5);
    double xlo = 0, xhi = T;
    const auto xv = nice_ticks(xlo, xhi, 5);
    std::vector<std::pair<double, std::string>> xt;
    for (double x : xv) xt.push_back({x, tick_label(x, xv.size() > 1 ? xv[1] - xv[0] : 1.0)});
    p << "<figure><svg class=\"survival-plot\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" << fmt2(kW)
      << "\" height=\"" << fmt2(kH) << "\" viewBox=\"0 0 " << fmt2(kW) << " " << fmt2(kH)
      << "\" role=\"img\" aria-label=\"" << html_escape(title) << "\">";
    axes(p, title, "Time since entry", "Survival", yt, ylo, yhi, xt, xlo, xhi);
    const double pw = kW - kL - kR, ph = kH - kT - kB;
    for (const Series& c : series) {
      p << "<g class=\"series\" data-name=\"" << c.name << "\"><polyline fill=\"none\" stroke=\""
        << c.color << "\" stroke-width=\"2\"" << (c.dash.empty() ? "" : " stroke-dasharray=\"" + c.dash + "\"")
        << " points=\"";
      for (const auto& pt : c.points)
        p << fmt2(kL + (pt.x - xlo) / (xhi - xlo) * pw) << "," << fmt2(kT + (yhi - pt.y) / (yhi - ylo) * ph) << " ";
      p << "\"/></g>";
    }
    legend(p, series, kL + pw - 6, kT + 6);
    p << "</svg><figcaption>Survival of " << ep << " in each arm"
      << (el.hazards[static_cast<size_t>(e)].given() ? " under its HAZARDS statement"
                                                     : " (exponential, from the record)")
      << ".</figcaption></figure>";
  }
  p << "</div>";
}

void inputs_table(Page& p, const Design& d) {
  const DeckValues& r = d.read;
  const DeckValues& s = d.stored;
  p << "<table class=\"inputs\"><caption>Inputs as read from the deck and as stored (hazard ratios "
       "are held as their reciprocals, treatment over control)</caption>"
       "<thead><tr><th class=\"text\">Field</th><th class=\"text\">Meaning</th>"
       "<th class=\"num\">As read</th><th class=\"num\">As stored</th></tr></thead><tbody>";
  auto row_i = [&](const char* name, const std::string& meaning, int a, int b) {
    p << "<tr><th><code>" << name << "</code></th>" << td_text(meaning) << td_num(inum(a))
      << td_num(inum(b)) << "</tr>";
  };
  auto row_r = [&](const char* name, const std::string& meaning, double a, double b) {
    p << "<tr><th><code>" << name << "</code></th>" << td_text(meaning) << td_num(gnum(a))
      << td_num(gnum(b)) << "</tr>";
  };
  row_i("NSIM", s.NSIM > 0 ? "number of simulated trials" : "number of simulated trials (no simulation)",
        r.NSIM, s.NSIM);
  row_i("ITIME", std::string("analysis times given as ") + itime_text(s.ITIME), r.ITIME, s.ITIME);
  row_i("CPL", std::string("copula: ") + copula_text(s.CPL), r.CPL, s.CPL);
  row_i("CPRSK", std::string("censoring scheme: ") + cprsk_text(s.CPRSK), r.CPRSK, s.CPRSK);
  row_i("CMPST", std::string("composite flag: ") + cmpst_text(s.CMPST), r.CMPST, s.CMPST);
  row_i("MSSG", s.MSSG >= 1 ? "given maximum sample size (no search)" : "given maximum sample size (0: search)",
        r.MSSG, s.MSSG);
  row_r("HR1", "hazard ratio of EP1, design", r.HR1, s.HR1);
  row_r("HR2", "hazard ratio of EP2, design", r.HR2, s.HR2);
  row_r("RHO", "correlation of the event times, design", r.RHO, s.RHO);
  row_r("HR1TR", "hazard ratio of EP1, simulation", r.HR1TR, s.HR1TR);
  row_r("HR2TR", "hazard ratio of EP2, simulation", r.HR2TR, s.HR2TR);
  row_r("RHOTR", "correlation of the event times, simulation", r.RHOTR, s.RHOTR);
  row_r("TA", "accrual time", r.TA, s.TA);
  row_r("TF", "follow-up time after accrual", r.TF, s.TF);
  row_r("SRVR1", "control-arm survival of EP1 at the end of the study", r.SRVR1, s.SRVR1);
  row_r("SRVR2", "control-arm survival of EP2 at the end of the study", r.SRVR2, s.SRVR2);
  row_r("SR", "allocation weight of the treatment arm", r.SR, s.SR);
  row_i("CNSRD", "study censoring in the simulation (1: at the analysis time)", r.CNSRD, s.CNSRD);
  row_r("TYPE1", "one-sided significance level", r.TYPE1, s.TYPE1);
  row_r("RSV1", "reserved (not used)", r.RSV1, s.RSV1);
  row_r("POWER", "targeted power", r.POWER, s.POWER);
  row_i("DF", std::string("decision rule: ") + html_escape(df_title(s.DF)), r.DF, s.DF);
  row_i("LOOK", "number of analyses K", r.LOOK, s.LOOK);
  row_i("CRIVL", std::string("critical values: ") + crivl_text(s.CRIVL), r.CRIVL, s.CRIVL);
  row_i("ESF1", std::string("spending function of EP1: ") + esf_text(s.ESF1), r.ESF1, s.ESF1);
  row_i("ESF2", std::string("spending function of EP2: ") + esf_text(s.ESF2), r.ESF2, s.ESF2);
  const int K = std::clamp(s.LOOK, 0, NMAXA);
  for (int k = 0; k < K; ++k) {
    const std::string name = "TLOOK(" + std::to_string(k + 1) + ")";
    p << "<tr><th><code>" << name << "</code></th>"
      << td_text(s.ITIME >= 3 ? "calendar time of the analysis" : "information fraction of the analysis")
      << td_num(gnum(r.TLOOK[static_cast<size_t>(k)])) << td_num(gnum(s.TLOOK[static_cast<size_t>(k)]))
      << "</tr>";
  }
  const EntryAndLoss& el = d.entry_loss;
  const EntryAndLossStatements& how = d.entry_loss_statements;
  if (el.has_dropout()) {
    const char* arm[2] = {"control", "treatment"};
    for (int a = 0; a < 2; ++a) {
      std::string meaning = std::string("hazard of loss to follow-up per time unit, ") + arm[a] + " arm";
      double given = el.dropout[static_cast<size_t>(a)];
      if (how.dropout_as_probability) {
        meaning += " (given as the probability of being lost by time " + gnum(how.dropout_time) + ")";
        given = how.dropout_value[static_cast<size_t>(a)];
      }
      p << "<tr><th><code>DROPOUT</code></th>" << td_text(meaning) << td_num(gnum(given))
        << td_num(gnum(el.dropout[static_cast<size_t>(a)])) << "</tr>";
    }
  }
  // The MODEL and CONTROL statements: the form given, and the value in force.
  const ModelAndControl& mc = d.model_control;
  if (mc.model != 0) {
    p << "<tr><th><code>MODEL</code></th>"
      << td_text(mc.exact() ? "exact covariance under the alternative and exact bounds"
                            : "the default model")
      << td_text(mc.exact() ? "EXACT" : "DEFAULT") << td_text(mc.exact() ? "EXACT" : "DEFAULT")
      << "</tr>";
  }
  if (mc.control != ControlForm::EndOfStudy) {
    for (int ep = 0; ep < 2; ++ep) {
      const std::string e = ep == 0 ? "EP1" : "EP2";
      const std::string meaning =
          mc.control == ControlForm::Median   ? "control-arm median of " + e
          : mc.control == ControlForm::Hazard ? "control-arm hazard of " + e + " per time unit"
                                              : "control-arm survival of " + e + " at time " +
                                                    gnum(mc.control_time);
      p << "<tr><th><code>CONTROL</code></th>"
        << td_text(meaning + " (gives SRVR" + std::to_string(ep + 1) + ")")
        << td_num(gnum(mc.control_value[static_cast<size_t>(ep)]))
        << td_num(gnum(ep == 0 ? s.SRVR1 : s.SRVR2)) << "</tr>";
    }
  }
  if (d.futility.any()) {
    p << "<tr><th><code>FUTILITY</code></th>" << td_text("futility stops at the interim analyses")
      << td_num(html_escape(boundaries::describe_futility(d.futility))) << td_num("") << "</tr>";
  }
  if (el.has_ramp()) {
    for (size_t k = 0; k < el.accrual_end.size(); ++k) {
      const std::string piece = "accrual piece " + std::to_string(k + 1);
      p << "<tr><th><code>ACCRUAL</code></th>" << td_text("end of " + piece)
        << td_num(gnum(el.accrual_end[k])) << td_num(gnum(el.accrual_end[k])) << "</tr>";
      p << "<tr><th><code>ACCRUAL</code></th>" << td_text("relative intensity of " + piece)
        << td_num(gnum(el.accrual_intensity[k])) << td_num(gnum(el.accrual_intensity[k]))
        << "</tr>";
    }
  }
  hazards_rows(p, d);
  p << "</tbody></table>";
}

void boundary_table(Page& p, const std::string& id, const std::string& ep, const EvaluatedSet& set,
                    const boundaries::GsDesignResult& r, const std::vector<double>& za_used,
                    const std::vector<double>& zb_used, const AnalysisArray& finf) {
  const int K = count_k(set);
  bool differs = false;
  for (int k = 0; k < K; ++k)
    if (at(za_used, k) != at(r.za, k) || at(zb_used, k) != at(r.zb, k)) differs = true;
  bool one_sided = true;
  for (int k = 0; k < K; ++k)
    if (!no_lower(at(r.za, k))) one_sided = false;
  p << "<table class=\"bounds\" id=\"" << id << "\"><caption>" << ep << ": "
    << esf_text(r.code_used) << " spending";
  if (r.code_used == 3 || r.code_used == 4) p << " (&#966; = " << gnum(r.phi_used, 6) << ")";
  p << "</caption><thead><tr><th class=\"num\">Analysis</th><th class=\"num\">Calendar<br>time</th>"
       "<th class=\"num\">Information<br>fraction</th><th class=\"num\">Enrolled<br>fraction</th>"
       "<th class=\"num\">Lower<br>z bound</th><th class=\"num\">Upper<br>z bound</th>";
  if (differs) p << "<th class=\"num\">Upper z<br>used</th>";
  p << "<th class=\"num\">Nominal<br>one-sided level</th><th class=\"num\">Alpha<br>spent</th>"
       "<th class=\"num\">Cumulative<br>alpha</th><th class=\"num\">P(first crossing)<br>under the design</th>"
       "</tr></thead><tbody>";
  double total = 0;
  for (int k = 0; k < K; ++k) {
    const size_t kk = static_cast<size_t>(k);
    p << "<tr>" << td_num(std::to_string(k + 1)) << td_num(fixed(set.information.TCAL[kk], 3))
      << td_num(fixed(finf[kk], 4)) << td_num(fixed(set.information.FENR[kk], 4))
      << td_num(no_lower(at(r.za, k)) ? "&#8211;" : fixed(at(r.za, k), 4)) << td_num(fixed(at(r.zb, k), 4));
    if (differs) p << td_num(fixed(at(zb_used, k), 4));
    p << td_num(fixed(at(r.nominal_upper, k), 6)) << td_num(fixed(at(r.pd, k), 6))
      << td_num(fixed(at(r.pe, k), 6)) << td_num(fixed(at(r.qpos, k), 4)) << "</tr>";
    if (std::isfinite(at(r.qpos, k))) total += at(r.qpos, k);
  }
  p << "</tbody></table>";
  p << "<p class=\"note\">Single-endpoint design of " << ep << ": drift " << fixed(r.drift, 4)
    << ", " << inum(r.events) << " events, expected " << fixed(r.expected_events, 1) << " events, "
    << inum(r.subjects) << " subjects (event probability " << fixed(r.pev, 4)
    << "); total probability of crossing " << fixed(total, 4) << ".";
  if (one_sided) p << " One-sided design: no lower bound.";
  if (!r.drift_converged)
    p << " <strong>The drift search stopped without matching the power (convergence problem); "
         "the last drift is used.</strong>";
  if (differs) p << " The two-endpoint trial tests " << ep << " with the bounds in the column "
                    "&#8220;Upper z used&#8221; (critical-value option).";
  p << "</p>";
}

void results_table(Page& p, const std::string& id, const DesignRecord& d, const EvaluatedSet& set) {
  const samplesize::Evaluation& e = set.evaluation;
  p << "<table class=\"kv results\" id=\"" << id << "\"><caption>Two-endpoint design: "
    << html_escape(df_title(d.design.stored.DF)) << "</caption><tbody>";
  auto row = [&](const char* name, const std::string& meaning, const std::string& value) {
    p << "<tr><th>" << meaning << "</th><td class=\"text\"><code>" << name << "</code></td>"
      << td_num(value) << "</tr>";
  };
  row("NL..NU", "Search bracket from the single-endpoint sizes", inum(e.NL) + "&#8201;&#8211;&#8201;" + inum(e.NU));
  row("MSS", d.design.stored.MSSG >= 1 ? "Maximum sample size (given)" : "Maximum sample size", inum(e.MSS));
  row("APW", "Power at the maximum sample size", fixed(e.APW, 4));
  row("ME1", "Maximum number of EP1 events", inum(e.ME1));
  row("ME2", "Maximum number of EP2 events", inum(e.ME2));
  row("ASN", "Expected sample size", fixed(e.ASN, 1));
  row("AVE1", "Expected number of EP1 events", fixed(e.AVE1, 1));
  row("AVE2", "Expected number of EP2 events", fixed(e.AVE2, 1));
  p << "</tbody></table>";
  switch (e.end) {
    case samplesize::SearchEnd::flat:
      p << "<p class=\"note\"><strong>The search stopped because the last two powers were equal; "
           "the last size is kept.</strong></p>";
      break;
    case samplesize::SearchEnd::alternating:
      p << "<p class=\"note\"><strong>The search alternated between two sizes; the larger is kept."
           "</strong></p>";
      break;
    case samplesize::SearchEnd::step_limit:
      p << "<p class=\"note\"><strong>The search did not settle within its step limit; the last size "
           "is kept.</strong></p>";
      break;
    case samplesize::SearchEnd::non_finite:
      p << "<p class=\"note\"><strong>The search stopped at a secant estimate that is not a number; "
           "the last size is kept.</strong></p>";
      break;
    default:
      break;
  }
  if (e.below_target)
    p << "<p class=\"note\"><strong>The power at this size stays below the targeted power."
         "</strong></p>";
}

void trace_table(Page& p, const std::string& id, const samplesize::Evaluation& e) {
  p << "<table class=\"trace\" id=\"" << id << "\"><caption>Sample-size search</caption><thead><tr>"
       "<th class=\"num\">Step</th><th class=\"num\">Sample size</th><th class=\"num\">Power</th>"
       "</tr></thead><tbody>";
  for (const auto& s : e.trace)
    p << "<tr>" << td_num(inum(s.iteration)) << td_num(inum(s.size)) << td_num(fixed(s.power, 4)) << "</tr>";
  p << "</tbody></table>";
}

void per_analysis_table(Page& p, const std::string& id, const EvaluatedSet& set) {
  const samplesize::Evaluation& e = set.evaluation;
  const int K = count_k(set);
  p << "<table class=\"stopping\" id=\"" << id << "\"><caption>Per analysis at the maximum sample size"
       "</caption><thead><tr><th class=\"num\">Analysis</th><th class=\"num\">Calendar<br>time</th>"
       "<th class=\"num\">Subjects<br>enrolled</th><th class=\"num\">EP1<br>events</th>"
       "<th class=\"num\">EP2<br>events</th><th class=\"num\">P(success<br>at analysis)</th>"
       "<th class=\"num\">Cumulative</th><th class=\"num\">P(EP1 first<br>rejected)</th>"
       "<th class=\"num\">P(EP2 first<br>rejected)</th></tr></thead><tbody>";
  double cum = 0;
  for (int k = 0; k < K; ++k) {
    const size_t kk = static_cast<size_t>(k);
    const double q = at(e.QSTOP, k);
    if (std::isfinite(q)) cum += q;
    const double q1 = kk < e.QEP.size() ? e.QEP[kk][0] : std::nan("");
    const double q2 = kk < e.QEP.size() ? e.QEP[kk][1] : std::nan("");
    p << "<tr>" << td_num(std::to_string(k + 1)) << td_num(fixed(set.information.TCAL[kk], 3))
      << td_num(fixed(e.MSS * set.information.FENR[kk], 1)) << td_num(fixed(e.ME1 * set.information.FINF1[kk], 1))
      << td_num(fixed(e.ME2 * set.information.FINF2[kk], 1)) << td_num(fixed(q, 4)) << td_num(fixed(cum, 4))
      << td_num(fixed(q1, 4)) << td_num(fixed(q2, 4)) << "</tr>";
  }
  p << "</tbody></table>";
}

void simulation_section(Page& p, const std::string& id, const DesignRecord& d,
                        const simulation::SimulationResult& s) {
  p << "<h4>Simulation</h4>";
  p << "<table class=\"kv simulation\" id=\"" << id << "\"><caption>Simulated trials at the maximum "
       "sample size, under the simulation values (hazard ratios, correlation)</caption><tbody>";
  auto row = [&](const char* name, const std::string& meaning, const std::string& value) {
    p << "<tr><th>" << meaning << "</th><td class=\"text\"><code>" << name << "</code></td>"
      << td_num(value) << "</tr>";
  };
  row("NSIM", "Number of simulated trials", inum(d.design.stored.NSIM));
  row("PWCS", "Proportion rejecting both endpoints", fixed(s.PWC, 4));
  row("PWDS", "Proportion rejecting at least one endpoint", fixed(s.PWD, 4));
  row("PW1S", "Proportion rejecting EP1", fixed(s.PW1, 4));
  row("PW2", "Proportion rejecting EP2", fixed(s.PW2, 4));
  row("E1", "Expected number of EP1 events", fixed(s.E1, 1));
  row("E2", "Expected number of EP2 events", fixed(s.E2, 1));
  for (size_t k = 0; k < s.F.size(); ++k)
    row("F", "Proportion stopped for futility at analysis " + std::to_string(k + 1), fixed(s.F[k], 4));
  p << "</tbody></table>";
  p << "<table class=\"simulation-r\" id=\"" << id << "-r\"><caption>Simulated rejections per analysis"
       "</caption><thead><tr><th class=\"num\">Analysis</th><th class=\"num\">EP1</th>"
       "<th class=\"num\">EP2</th><th class=\"num\">Both</th></tr></thead><tbody>";
  for (size_t k = 0; k < s.R.size(); ++k)
    p << "<tr>" << td_num(std::to_string(k + 1)) << td_num(fixed(s.R[k][0], 4)) << td_num(fixed(s.R[k][1], 4))
      << td_num(fixed(s.R[k][2], 4)) << "</tr>";
  p << "</tbody></table>";
}

// Futility stops: the futility bounds on the bounds plot, and a table of the bounds and of the
// operating characteristics per analysis (designs with a FUTILITY statement only).
void futility_series(const EvaluatedSet& set, std::vector<Series>& series) {
  const samplesize::Evaluation& e = set.evaluation;
  if (e.ZF1.empty() && e.ZF2.empty()) return;
  Series f1{"EP1 futility bound", "#0b5fa5", "1 3", '^', {}};
  Series f2{"EP2 futility bound", "#c2520c", "1 3", 'd', {}};
  const int K = count_k(set);
  for (int k = 0; k + 1 < K; ++k) {
    const size_t kk = static_cast<size_t>(k);
    if (!no_lower(at(e.ZF1, k))) f1.points.push_back({set.information.FINF1[kk], at(e.ZF1, k)});
    if (!no_lower(at(e.ZF2, k))) f2.points.push_back({set.information.FINF2[kk], at(e.ZF2, k)});
  }
  if (!f1.points.empty()) series.push_back(f1);
  if (!f2.points.empty()) series.push_back(f2);
}

void futility_table(Page& p, const std::string& id, const DesignRecord& d, const EvaluatedSet& set) {
  const samplesize::Evaluation& e = set.evaluation;
  const int K = count_k(set);
  p << "<table class=\"futility\" id=\"" << id << "\"><caption>Futility stops ("
    << html_escape(boundaries::describe_futility(d.design.futility))
    << ") at the maximum sample size</caption><thead><tr><th class=\"num\">Analysis</th>"
       "<th class=\"num\">EP1 futility z</th><th class=\"num\">EP2 futility z</th>"
       "<th class=\"num\">P(reach)</th><th class=\"num\">P(success)</th>"
       "<th class=\"num\">P(futility stop)</th><th class=\"num\">EP1 futility<br>stop, null</th>"
       "<th class=\"num\">EP2 futility<br>stop, null</th></tr></thead><tbody>";
  for (int k = 0; k < K; ++k) {
    const bool last = k + 1 == K;
    p << "<tr>" << td_num(std::to_string(k + 1))
      << td_num(last ? std::string("final") : fixed(at(e.ZF1, k), 4))
      << td_num(last ? std::string("final") : fixed(at(e.ZF2, k), 4))
      << td_num(fixed(at(e.REACH, k), 4)) << td_num(fixed(at(e.QSTOP, k), 4))
      << td_num(fixed(at(e.QFUT, k), 4)) << td_num(fixed(at(e.ep1.null_qneg, k), 4))
      << td_num(fixed(at(e.ep2.null_qneg, k), 4)) << "</tr>";
  }
  p << "</tbody></table>";
  p << "<p class=\"note\">A trial stops for futility at the first analysis where an endpoint that "
       "must still succeed lies below its futility bound; at the final analysis the column gives "
       "the probability of ending without success. The null columns are each endpoint's "
       "single-endpoint design under its null. "
    << (d.design.futility.binding
            ? "Binding: the efficacy bounds were designed with the futility stops in force, so the "
              "type I error holds only if the trial does stop."
            : "Non-binding: the efficacy bounds are those without futility stops.")
    << "</p>";
}

// The operating characteristics under the alternative and each null (designs with futility
// stops, and every design of a run with --under-nulls): one row per hypothesis and analysis.
void null_table(Page& p, const std::string& id, const DesignRecord& d, const EvaluatedSet& set) {
  const samplesize::Evaluation& e = set.evaluation;
  const bool futility = !e.ZF1.empty() || !e.ZF2.empty();
  p << "<table class=\"nulls\" id=\"" << id << "\"><caption>Operating characteristics under the "
       "alternative and the nulls at the maximum sample size</caption><thead><tr>"
       "<th>Hypothesis</th><th class=\"num\">P(success)</th>"
       "<th class=\"num\">without<br>futility</th><th class=\"num\">Expected<br>subjects</th>"
       "<th class=\"num\">EP1<br>events</th><th class=\"num\">EP2<br>events</th>"
       "<th class=\"num\">Duration</th><th class=\"num\">Analysis</th>"
       "<th class=\"num\">P(reach)</th><th class=\"num\">Efficacy<br>stop</th>"
       "<th class=\"num\">Futility<br>stop</th></tr></thead><tbody>";
  for (const auto& f : e.nulls) {
    const size_t K = f.REACH.size();
    for (size_t k = 0; k < K; ++k) {
      p << "<tr>";
      if (k == 0) {
        const std::string rows = " rowspan=\"" + std::to_string(K) + "\"";
        p << "<td" << rows << ">" << html_escape(f.hypothesis) << "</td>";
        for (const std::string& v : {fixed(f.success, 5), fixed(f.success_without_futility, 5),
                                     fixed(f.ASN, 1), fixed(f.AVE1, 1), fixed(f.AVE2, 1),
                                     fixed(f.duration, 3)})
          p << "<td class=\"num\"" << rows << ">" << v << "</td>";
      }
      p << td_num(std::to_string(k + 1)) << td_num(fixed(f.REACH[k], 4))
        << td_num(fixed(at(f.QSTOP, static_cast<int>(k)), 4))
        << td_num(fixed(at(f.QFUT, static_cast<int>(k)), 4)) << "</tr>";
    }
  }
  p << "</tbody></table>";
  p << "<p class=\"note\">P(success) is the power under the alternative and the type I error "
       "spent under a null (global: both hazard ratios 1; EP1 null: EP1 at 1 and EP2 at its "
       "alternative; EP2 null: the reverse), with the futility stops in force and without them. "
       "Subjects, events and duration are expected values until the trial stops, for success, for "
       "futility or at the final analysis; at the final analysis the futility column gives the "
       "probability of ending without success. "
    << (!futility ? "The design has no futility stops."
        : d.design.futility.binding
            ? "Binding futility stops: the type I error holds only if the trial does stop."
            : "Non-binding futility stops: the type I error without them holds whether or not "
              "the trial stops.")
    << "</p>";
}

void set_section(Page& p, const DesignRecord& d, const EvaluatedSet& set) {
  const std::string id = set_id(d, set);
  const samplesize::Evaluation& e = set.evaluation;
  const int K = count_k(set);
  p << "<section class=\"set\" id=\"" << id << "\"><h3>" << html_escape(set_title(set.label)) << "</h3>";
  p << "<h4>Boundaries</h4>";
  boundary_table(p, id + "-ep1", "EP1", set, e.ep1, e.ZA1, e.ZB1, set.information.FINF1);
  boundary_table(p, id + "-ep2", "EP2", set, e.ep2, e.ZA2, e.ZB2, set.information.FINF2);

  std::vector<Series> series;
  Series s1{"EP1 upper bound", "#0b5fa5", "", 'o', {}};
  Series s2{"EP2 upper bound", "#c2520c", "6 4", 's', {}};
  Series l1{"EP1 lower bound", "#0b5fa5", "2 3", '^', {}};
  Series l2{"EP2 lower bound", "#c2520c", "2 3", 'd', {}};
  for (int k = 0; k < K; ++k) {
    const size_t kk = static_cast<size_t>(k);
    const double f1 = set.information.FINF1[kk], f2 = set.information.FINF2[kk];
    if (std::isfinite(f1) && std::isfinite(at(e.ZB1, k))) s1.points.push_back({f1, at(e.ZB1, k)});
    if (std::isfinite(f2) && std::isfinite(at(e.ZB2, k))) s2.points.push_back({f2, at(e.ZB2, k)});
    if (std::isfinite(f1) && !no_lower(at(e.ZA1, k))) l1.points.push_back({f1, at(e.ZA1, k)});
    if (std::isfinite(f2) && !no_lower(at(e.ZA2, k))) l2.points.push_back({f2, at(e.ZA2, k)});
  }
  series.push_back(s1);
  series.push_back(s2);
  futility_series(set, series);
  if (!l1.points.empty()) series.push_back(l1);
  if (!l2.points.empty()) series.push_back(l2);
  p << "<div class=\"plots\"><figure>";
  bounds_chart(p, series, "Critical values used");
  p << "<figcaption>Upper z bounds of EP1 and EP2, each against its own information fraction, as "
       "the two-endpoint trial uses them.</figcaption></figure><figure>";
  std::vector<double> q(static_cast<size_t>(K));
  for (int k = 0; k < K; ++k) q[static_cast<size_t>(k)] = at(e.QSTOP, k);
  qstop_chart(p, q, "Probability of success");
  p << "<figcaption>Probability that the trial succeeds at each analysis (" << html_escape(df_title(d.design.stored.DF))
    << ") at the maximum sample size of " << inum(e.MSS) << " subjects.</figcaption>"
       "</figure></div>";

  if (set.information.AHR1 != 0.0 || set.information.AHR2 != 0.0) {
    p << "<p class=\"average-hr\">Information-weighted average hazard ratio (treatment over control), "
         "for reference: EP1 " << fixed(set.information.AHR1, 4) << ", EP2 "
      << fixed(set.information.AHR2, 4)
      << ". The power and the sample size use the model's drift, not these averages.</p>";
  }
  p << "<h4>Sample size</h4>";
  results_table(p, id + "-results", d, set);
  per_analysis_table(p, id + "-stopping", set);
  if (!set.evaluation.REACH.empty()) futility_table(p, id + "-futility", d, set);
  if (!set.evaluation.nulls.empty()) null_table(p, id + "-nulls", d, set);
  trace_table(p, id + "-trace", e);
  if (e.simulation) simulation_section(p, id + "-simulation", d, *e.simulation);
  p << "</section>";
}

void design_section(Page& p, const DesignRecord& d) {
  const DeckValues& s = d.design.stored;
  p << "<section class=\"design\" id=\"d" << d.design.number << "\"><h2>Design " << d.design.number
    << ": " << html_escape(df_title(s.DF)) << "</h2>";
  if (!d.complete) p << "<p class=\"incomplete\">This design did not finish; its results are incomplete.</p>";
  p << "<p>Success requires that " << df_text(s.DF) << "; " << crivl_text(s.CRIVL) << ". K = " << s.LOOK
    << " analyses, one-sided significance level " << gnum(s.TYPE1) << ", targeted power " << gnum(s.POWER)
    << ". Record starts on deck line " << d.design.first_line << ".</p>";
  p << "<h3>Inputs</h3>";
  inputs_table(p, d.design);
  survival_charts(p, d.design);
  p << "<h3>Copula parameter</h3>";
  p << "<table class=\"kv copula\" id=\"d" << d.design.number << "-copula\"><caption>" << copula_text(s.CPL)
    << " copula</caption><tbody>"
    << "<tr><th>Design (correlation " << gnum(s.RHO) << ")</th><td class=\"text\"><code>THETA</code></td>"
    << td_num(gnum(d.THETA, 8)) << "</tr>"
    << "<tr><th>Simulation (correlation " << gnum(s.RHOTR) << ")</th><td class=\"text\"><code>THETATR</code></td>"
    << td_num(gnum(d.THETATR, 8)) << "</tr></tbody></table>";
  for (const EvaluatedSet& set : d.sets) set_section(p, d, set);
  p << "</section>";
}

void overview(Page& p, const RunRecord& run) {
  p << "<nav><table class=\"overview\" id=\"overview\"><caption>Overview</caption><thead><tr>"
       "<th class=\"text\">Design</th><th class=\"text\">Analysis times</th><th class=\"text\">Decision rule</th>"
       "<th class=\"num\">K</th><th class=\"num\">MSS</th><th class=\"num\">Power</th><th class=\"num\">ME1</th>"
       "<th class=\"num\">ME2</th><th class=\"num\">ASN</th><th class=\"num\">Simulated<br>both</th>"
       "</tr></thead><tbody>";
  for (const DesignRecord& d : run.designs) {
    if (d.sets.empty()) {
      p << "<tr><td class=\"text\"><a href=\"#d" << d.design.number << "\">" << d.design.number
        << "</a></td><td class=\"text\" colspan=\"9\">" << (d.complete ? "no evaluation" : "did not finish")
        << "</td></tr>";
      continue;
    }
    for (const EvaluatedSet& set : d.sets) {
      const auto& e = set.evaluation;
      p << "<tr><td class=\"text\"><a href=\"#d" << d.design.number << "\">" << d.design.number
        << "</a></td><td class=\"text\"><a href=\"#" << set_id(d, set) << "\">" << html_escape(set.label)
        << "</a></td><td class=\"text\">" << html_escape(df_title(d.design.stored.DF)) << "</td>"
        << td_num(std::to_string(count_k(set))) << td_num(inum(e.MSS)) << td_num(fixed(e.APW, 4))
        << td_num(inum(e.ME1)) << td_num(inum(e.ME2)) << td_num(fixed(e.ASN, 1))
        << td_num(e.simulation ? fixed(e.simulation->PWC, 4) : "&#8211;") << "</tr>";
    }
  }
  p << "</tbody></table></nav>";
}

}  // namespace

std::string html_report(const RunRecord& run) {
  Page p;
  p.s.reserve(65536);
  std::string title = run.header.TITLE;
  while (!title.empty() && title.back() == ' ') title.pop_back();
  p << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
       "<meta name=\"generator\" content=\"kestrel " << html_escape(run.version) << "\">\n<title>Kestrel report"
    << (title.empty() ? "" : " &#8212; " + html_escape(title)) << "</title>\n<style>" << kStyle
    << "</style>\n</head>\n<body>\n<header><h1>Group-sequential design with two time-to-event endpoints</h1>";
  p << "<p class=\"meta\">" << (title.empty() ? "" : html_escape(title) + " &#183; ") << "Kestrel "
    << html_escape(run.version) << " &#183; seed "
    << (run.seed ? inum(*run.seed) : std::string("not used"));
  if (run.mvn_accuracy != 1e-8) {
    char eps[32];
    std::snprintf(eps, sizeof eps, "%.2g", run.mvn_accuracy);
    p << " &#183; normal probabilities to " << eps << " (--mvn-accuracy)";
  }
  if (run.exact) p << " &#183; exact covariance under the alternative and exact bounds (--exact)";
  if (run.under_nulls) p << " &#183; every design also under the nulls (--under-nulls)";
  p << " &#183; " << run.designs.size()
    << (run.designs.size() == 1 ? " design" : " designs") << "</p></header>\n";
  if (run.error) {
    p << "<div class=\"error\" id=\"run-error\"><strong>The run stopped with an error:</strong> "
      << html_escape(*run.error) << "<br>Results below are those finished before the error.</div>\n";
  }
  overview(p, run);
  for (const DesignRecord& d : run.designs) {
    design_section(p, d);
    p << "\n";
  }
  p << "<footer class=\"note\">Probabilities are given as fractions. z bounds are on the standardized "
       "log-rank scale; a one-sided design has no lower bound. Every figure is reproducible from the "
       "deck and the seed; the same numbers, unrounded, are in kestrel-results.json.</footer>\n"
       "</body>\n</html>\n";
  return std::move(p.s);
}

}  // namespace kestrel::reports
