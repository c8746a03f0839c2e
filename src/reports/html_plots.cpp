// The inline SVG charts of the HTML report: the z bounds against information fraction, the
// probability of success per analysis, and the assumed survival curves.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "reports/html_parts.h"
#include "reports/html_report.h"
#include "survival/margins.h"

namespace kestrel::reports::html_parts {

namespace {

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

}  // namespace

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

}  // namespace kestrel::reports::html_parts
