#pragma once
// Renders an HTML report in a real browser (Debian's chromium, headless) and reads back what it
// laid out. A copy of the page gets a short script at its end that measures the rendered tables
// and plots and writes the findings into the DOM, which chromium then dumps; the page itself
// carries no script. When chromium is missing the caller skips, unless KESTREL_REQUIRE_BROWSER=1
// (continuous integration), where a missing browser is a failure.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "reports/json_reader.h"

namespace kestrel::driver::testing {

using reports::testing::Json;
using reports::testing::JsonReader;

inline constexpr const char* kChromium = "/usr/bin/chromium";

inline bool browser_required() {
  const char* v = std::getenv("KESTREL_REQUIRE_BROWSER");
  return v != nullptr && std::string(v) == "1";
}

inline bool browser_present() { return std::filesystem::exists(kChromium); }

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream is(p, std::ios::binary);
  std::stringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

// A fresh directory under the system's temporary directory.
inline std::filesystem::path fresh_dir(const std::string& stem) {
  std::string pattern = (std::filesystem::temp_directory_path() / (stem + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// The measuring script: tables (id, class, body rows, size), SVG plots (size, bars, lines, texts
// outside the plot or overlapping another text), resources the page requested, and the widths.
inline constexpr const char* kProbeScript = R"JS(<script>
(function () {
  function box(e) { const b = e.getBoundingClientRect(); return {l: b.left, r: b.right, t: b.top, b: b.bottom}; }
  function meets(a, b) { return a.l < b.r - 0.5 && b.l < a.r - 0.5 && a.t < b.b - 0.5 && b.t < a.b - 0.5; }
  const r = {};
  r.title = document.title;
  r.tables = Array.from(document.querySelectorAll('table')).map(function (t) {
    const b = t.getBoundingClientRect();
    return {id: t.id, cls: t.className, rows: t.tBodies.length ? t.tBodies[0].rows.length : 0,
            w: b.width, h: b.height,
            first: t.tBodies.length && t.tBodies[0].rows.length ? t.tBodies[0].rows[0].innerText : ''};
  });
  r.svgs = Array.from(document.querySelectorAll('svg')).map(function (s) {
    const sb = box(s);
    const texts = Array.from(s.querySelectorAll('text')).map(box);
    let outside = 0, overlaps = 0;
    texts.forEach(function (t, i) {
      if (t.l < sb.l - 0.5 || t.r > sb.r + 0.5 || t.t < sb.t - 0.5 || t.b > sb.b + 0.5) outside++;
      for (let j = i + 1; j < texts.length; j++) if (meets(t, texts[j])) overlaps++;
    });
    return {cls: s.getAttribute('class'), w: sb.r - sb.l, h: sb.b - sb.t,
            bars: s.querySelectorAll('rect.bar').length, lines: s.querySelectorAll('polyline').length,
            texts: texts.length, outside: outside, overlaps: overlaps,
            legend: s.querySelectorAll('g.legend text').length};
  });
  r.resources = performance.getEntriesByType('resource').length;
  // Anything that would fetch another file: elements with a source, links to style sheets,
  // embedded objects, scripts other than this probe, and style rules with url() or @import.
  r.external = document.querySelectorAll('[src], link, object, embed, iframe').length +
               document.querySelectorAll('script').length - 1;
  r.cssUrls = 0;
  Array.from(document.styleSheets).forEach(function (sheet) {
    Array.from(sheet.cssRules).forEach(function (rule) {
      if (/url\(|@import|@font-face/.test(rule.cssText)) r.cssUrls++;
    });
  });
  r.scrollWidth = document.documentElement.scrollWidth;
  r.innerWidth = window.innerWidth;
  r.error = document.getElementById('run-error') ? document.getElementById('run-error').innerText : null;
  const pre = document.createElement('pre');
  pre.id = 'probe';
  pre.textContent = encodeURIComponent(JSON.stringify(r));
  document.body.appendChild(pre);
})();
</script>)JS";

inline std::string percent_decode(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

inline std::string chromium_command(const std::filesystem::path& profile) {
  return std::string("timeout 120 ") + kChromium +
         " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
         " --disable-background-networking --disable-component-update --disable-sync"
         " --hide-scrollbars --user-data-dir=" + profile.string();
}

struct Probe {
  Json result;           // what the script measured
  std::string dom;       // the dumped DOM of the probed copy
};

// Renders `page` (a file) at the given window width with the probe script and returns what it
// measured; throws when the browser fails or the script did not run.
inline Probe probe_page(const std::filesystem::path& page, const std::filesystem::path& work, int width = 1200) {
  std::string html = read_file(page);
  const size_t end = html.rfind("</body>");
  if (end == std::string::npos) throw std::runtime_error("no </body> in the page");
  html.insert(end, kProbeScript);
  const std::filesystem::path probed = work / "probed.html";
  std::ofstream(probed, std::ios::binary) << html;
  const std::filesystem::path dom = work / "dom.html";
  const std::string cmd = chromium_command(work / "profile") + " --window-size=" + std::to_string(width) +
                          ",1000 --dump-dom file://" + probed.string() + " >" + dom.string() + " 2>" +
                          (work / "chromium.log").string();
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("chromium failed: " + read_file(work / "chromium.log"));
  Probe p;
  p.dom = read_file(dom);
  const size_t a = p.dom.find("<pre id=\"probe\">");
  if (a == std::string::npos) throw std::runtime_error("the probe did not run");
  const size_t b = p.dom.find("</pre>", a);
  p.result = JsonReader::parse(percent_decode(p.dom.substr(a + 16, b - a - 16)));
  return p;
}

// Takes a screenshot of `page`; returns the PNG's width and height (from its header).
inline std::optional<std::pair<int, int>> screenshot(const std::filesystem::path& page,
                                                     const std::filesystem::path& png,
                                                     const std::filesystem::path& work, int width, int height) {
  const std::string cmd = chromium_command(work / "profile-shot") + " --window-size=" + std::to_string(width) +
                          "," + std::to_string(height) + " --screenshot=" + png.string() + " file://" +
                          page.string() + " >/dev/null 2>" + (work / "chromium-shot.log").string();
  if (std::system(cmd.c_str()) != 0) return std::nullopt;
  const std::string bytes = read_file(png);
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return std::nullopt;
  auto be32 = [&](size_t o) {
    return (static_cast<unsigned char>(bytes[o]) << 24) | (static_cast<unsigned char>(bytes[o + 1]) << 16) |
           (static_cast<unsigned char>(bytes[o + 2]) << 8) | static_cast<unsigned char>(bytes[o + 3]);
  };
  return std::make_pair(static_cast<int>(be32(16)), static_cast<int>(be32(20)));
}

}  // namespace kestrel::driver::testing
