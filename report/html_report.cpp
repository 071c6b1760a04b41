#include <velumar/report/html_report.h>

#include <velumar/text/texts.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace velumar::report {

std::string html_escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += ch;
        }
    }
    return out;
}

namespace {

std::string fmt(const char *format, double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string esc(std::string_view s) { return html_escape(s); }

// Everything the page needs besides its data: no fonts, images or scripts
// from elsewhere.
constexpr std::string_view kStyle = R"CSS(
body{font-family:"Liberation Sans",Arial,Helvetica,sans-serif;margin:0;background:#f4f5f7;color:#1d2330}
main{max-width:1100px;margin:0 auto;padding:16px 24px 40px}
h1{font-size:22px;margin:8px 0 4px}h2{font-size:17px;margin:0 0 10px}
section{background:#fff;border:1px solid #d9dde5;border-radius:6px;padding:14px 18px;margin:14px 0}
table{border-collapse:collapse;width:100%;font-size:13.5px}
th,td{text-align:left;padding:4px 8px;border-bottom:1px solid #e6e9ef;vertical-align:top}
th{background:#f0f2f6;font-weight:600}
table.kv{width:auto}table.kv th{min-width:220px}
td.num,th.num{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
.sub{color:#5b6475;font-size:13px}
.grade{display:flex;gap:28px;align-items:center;flex-wrap:wrap}
.odg{font-size:40px;font-weight:700;font-variant-numeric:tabular-nums}
.verbal{font-size:18px}
.refused{background:#fff4e5;border-color:#f0b56b}
.warn{color:#a04000}
.ok{color:#1c7c35}
svg text{font-family:inherit;font-size:12px;fill:#333}
.plot{margin:6px 0 14px}
.plot h3{font-size:14px;margin:0 0 2px;display:flex;gap:16px;align-items:baseline;flex-wrap:wrap}
.legend span{font-weight:400;font-size:12.5px;margin-right:12px}
.legend i{display:inline-block;width:14px;height:3px;vertical-align:middle;margin-right:4px}
.chart{width:100%;height:auto;cursor:crosshair;user-select:none}
.readout{font-size:12.5px;color:#333;min-height:16px;font-variant-numeric:tabular-nums}
.bar{position:relative;height:14px;min-width:220px;border-radius:3px;
 background:linear-gradient(to right,#f0ad4e 0,#f0ad4e 23.53%,#ffd966 23.53%,#ffd966 47.06%,#b7dd79 47.06%,#b7dd79 70.59%,#6cc070 70.59%,#6cc070 100%)}
.bar b{position:absolute;top:-3px;width:3px;height:20px;background:#111;margin-left:-1px}
th.sort{cursor:pointer}th.sort:after{content:" \2195";color:#999}
)CSS";

// ODG scale from −4 to the network's top value, with the four verbal
// categories as coloured bands. Returns an inline SVG.
constexpr double kScaleLo = -4.0;
constexpr double kScaleHi = 0.25;

std::string odg_scale_svg(double odg)
{
    const double x0 = 20, x1 = 700, w = x1 - x0;
    auto X = [&](double g) { return x0 + (std::clamp(g, kScaleLo, kScaleHi) - kScaleLo) / (kScaleHi - kScaleLo) * w; };
    struct Band {
        double lo, hi;
        const char *color;
    };
    const Band bands[] = {{-4.0, -3.0, "#f0ad4e"}, {-3.0, -2.0, "#ffd966"}, {-2.0, -1.0, "#b7dd79"}, {-1.0, 0.25, "#6cc070"}};
    std::string s = "<svg class=\"scale\" viewBox=\"0 0 720 92\" width=\"720\" role=\"img\" aria-label=\"Шкала ODG\">";
    for (const Band &b : bands)
        s += "<rect x=\"" + fmt("%.1f", X(b.lo)) + "\" y=\"30\" width=\"" + fmt("%.1f", X(b.hi) - X(b.lo)) +
             "\" height=\"22\" fill=\"" + b.color + "\"/>";
    for (int g = -4; g <= 0; ++g) {
        const std::string x = fmt("%.1f", X(g));
        s += "<line x1=\"" + x + "\" x2=\"" + x + "\" y1=\"52\" y2=\"58\" stroke=\"#333\"/>";
        s += "<text x=\"" + x + "\" y=\"72\" text-anchor=\"middle\">" + std::to_string(g) + "</text>";
    }
    const char *labels[] = {"раздражающие", "слегка раздражающие", "заметны, не раздражают", "незаметны"};
    for (int i = 0; i < 4; ++i)
        s += "<text x=\"" + fmt("%.1f", (X(bands[i].lo) + X(bands[i].hi)) / 2) +
             "\" y=\"88\" text-anchor=\"middle\" style=\"font-size:11px;fill:#555\">" + labels[i] + "</text>";
    const std::string gx = fmt("%.1f", X(odg));
    s += "<line x1=\"" + gx + "\" x2=\"" + gx + "\" y1=\"24\" y2=\"56\" stroke=\"#111\" stroke-width=\"3\"/>";
    s += "<path d=\"M" + gx + " 24l-7 -12h14z\" fill=\"#111\"/>";
    s += "<text x=\"" + gx + "\" y=\"9\" text-anchor=\"middle\" style=\"font-weight:700\">" + fmt("%.3f", odg) +
         "</text></svg>";
    return s;
}

std::string duration_text(std::uint64_t samples, std::uint32_t rate)
{
    if (!rate) return "—";
    const double s = static_cast<double>(samples) / rate;
    const auto minutes = static_cast<unsigned long long>(s / 60);
    return std::to_string(minutes) + ":" + fmt("%06.3f", s - 60.0 * static_cast<double>(minutes));
}

std::string file_row(const char *role, const InputInfo &f)
{
    std::string r = "<tr><th>" + std::string(role) + "</th><td>" + esc(f.path) + "</td><td>" +
                    (f.format.empty() ? "—" : esc(f.format)) + "</td>";
    r += "<td class=\"num\">" + (f.sample_rate ? std::to_string(f.sample_rate) : "—") + "</td>";
    r += "<td class=\"num\">" + (f.bits ? std::to_string(f.bits) : "—") + "</td>";
    r += "<td class=\"num\">" + (f.channels ? std::to_string(f.channels) : "—") + "</td>";
    r += "<td class=\"num\">" + std::to_string(f.samples_per_channel) + " (" +
         duration_text(f.samples_per_channel, f.sample_rate) + ")</td>";
    r += "<td>" + std::string(f.converted ? "<span class=\"warn\">да</span>" : "нет");
    if (f.clipped_samples)
        r += "; <span class=\"warn\">ограничено сэмплов: " + std::to_string(f.clipped_samples) + "</span>";
    return r + "</td></tr>";
}

// --- plots -------------------------------------------------------------

struct TraceStyle {
    Trace trace;
    const char *title;
    const char *unit;
};

constexpr TraceStyle kPlots[] = {
    {Trace::nmr_db, "Отношение шум/маска (NMR) кадра", "дБ"},
    {Trace::detection_probability, "Вероятность обнаружения искажений в кадре", ""},
    {Trace::moddiff1, "Разность модуляции 1", ""},
    {Trace::noise_loudness, "Громкость шума", "сон"},
};

// A quantity the model computes only in some frames (the noise loudness in
// frames that are not loud) may have no value at all.
constexpr std::string_view kNotComputed = "Модель не вычисляла эту величину ни в одном кадре";

constexpr const char *kSlotColors[kTraceSlots] = {"#1f6fd1", "#d1451f", "#6b3fa0"};
constexpr const char *kSlotNames[kTraceSlots] = {"канал 1", "канал 2", "бинаурально"};

// Plot geometry inside the chart's viewBox.
constexpr double kChartW = 1000, kChartH = 210;
constexpr double kPlotX = 62, kPlotY = 8, kPlotW = 922, kPlotH = 170;
std::string tick_label(double v, double step)
{
    if (std::fabs(v) < step * 1e-9) v = 0.0;
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", std::min(decimals, 6), v);
    return buf;
}

std::string plot_svg(const FrameSeries &series, const std::vector<SeriesColumn> &cols, const TraceStyle &style,
                     double t0, double t1)
{
    const PlotRange yr = plot_range(series, style.trace);
    auto Y = [&](double v) {
        v = std::clamp(v, yr.lo, yr.hi);
        return kPlotH - (v - yr.lo) / (yr.hi - yr.lo) * kPlotH;
    };
    const double span = t1 - t0;
    std::string s = "<svg class=\"chart\" viewBox=\"0 0 " + fmt("%g", kChartW) + " " + fmt("%g", kChartH) +
                    "\" data-t0=\"" + fmt("%.6f", t0) + "\" data-t1=\"" + fmt("%.6f", t1) + "\">";
    // Horizontal grid and value labels.
    const double ystep = nice_step(yr.hi - yr.lo, 5);
    for (double v = yr.lo; v <= yr.hi + ystep * 1e-6; v += ystep) {
        const std::string y = fmt("%.2f", kPlotY + Y(v));
        s += "<line x1=\"" + fmt("%g", kPlotX) + "\" x2=\"" + fmt("%g", kPlotX + kPlotW) + "\" y1=\"" + y +
             "\" y2=\"" + y + "\" stroke=\"" + (std::fabs(v) < ystep * 1e-6 ? "#888" : "#e3e6ec") + "\"/>";
        s += "<text x=\"" + fmt("%g", kPlotX - 6) + "\" y=\"" + y + "\" dy=\"4\" text-anchor=\"end\">" +
             tick_label(v, ystep) + "</text>";
    }
    s += "<text x=\"12\" y=\"" + fmt("%g", kPlotY + kPlotH / 2) + "\" transform=\"rotate(-90 12 " +
         fmt("%g", kPlotY + kPlotH / 2) + ")\" text-anchor=\"middle\">" + esc(style.unit) + "</text>";
    // The data, in seconds across and plot pixels down; zooming only changes
    // the viewBox of this inner picture.
    s += "<svg class=\"data\" x=\"" + fmt("%g", kPlotX) + "\" y=\"" + fmt("%g", kPlotY) + "\" width=\"" +
         fmt("%g", kPlotW) + "\" height=\"" + fmt("%g", kPlotH) + "\" viewBox=\"" + fmt("%.6f", t0) + " 0 " +
         fmt("%.6f", span) + " " + fmt("%g", kPlotH) + "\" preserveAspectRatio=\"none\">";
    // Disturbed frames: a band behind the curves for every column holding one.
    std::string marks;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        if (!cols[i].disturbed[0] && !cols[i].disturbed[1]) continue;
        std::size_t j = i;
        while (j + 1 < cols.size() && (cols[j + 1].disturbed[0] || cols[j + 1].disturbed[1])) ++j;
        // At least three pixels wide, so a single disturbed frame in an hour
        // still shows.
        const double min_width = 3.0 * span / kPlotW;
        double a = cols[i].start_s, b = cols[j].end_s + kFrameHopSeconds;
        if (b - a < min_width) {
            const double mid = (a + b) / 2;
            a = mid - min_width / 2;
            b = mid + min_width / 2;
        }
        marks += "M" + fmt("%.4f", a) + " 0H" + fmt("%.4f", b) + "V" + fmt("%g", kPlotH) + "H" + fmt("%.4f", a) + "Z";
        i = j;
    }
    if (!marks.empty()) s += "<path class=\"disturbed\" d=\"" + marks + "\" fill=\"#e8473a\" fill-opacity=\"0.13\"/>";
    bool drawn = false;
    for (int slot = 0; slot < kTraceSlots; ++slot) {
        if (slot == 1 && series.channels() < 2) continue;
        if (slot == kBinauralSlot && style.trace != Trace::detection_probability) continue;
        // One closed outline per run of columns with values: the maxima left
        // to right, the minima back. A column whose minimum equals its
        // maximum still shows as the outline's stroke.
        std::string d;
        std::size_t i = 0;
        while (i < cols.size()) {
            if (!cols[i].span(style.trace, slot).n) {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j + 1 < cols.size() && cols[j + 1].span(style.trace, slot).n) ++j;
            auto xmid = [&](std::size_t k) { return (cols[k].start_s + cols[k].end_s) / 2 + kFrameHopSeconds / 2; };
            auto point = [&](char cmd, std::size_t k, double v) {
                d += cmd;
                d += fmt("%.4f", xmid(k));
                d += ' ';
                d += fmt("%.2f", Y(v));
            };
            for (std::size_t k = i; k <= j; ++k) point(k == i ? 'M' : 'L', k, cols[k].span(style.trace, slot).max);
            for (std::size_t k = j + 1; k-- > i;) point('L', k, cols[k].span(style.trace, slot).min);
            d += "Z";
            i = j + 1;
        }
        if (d.empty()) continue;
        drawn = true;
        s += "<path class=\"trace s" + std::to_string(slot) + "\" d=\"" + d + "\" fill=\"" + kSlotColors[slot] +
             "\" fill-opacity=\"0.25\" stroke=\"" + kSlotColors[slot] +
             "\" stroke-width=\"1.3\" stroke-linejoin=\"round\" vector-effect=\"non-scaling-stroke\"/>";
    }
    s += "</svg>";
    if (!drawn)
        s += "<text x=\"" + fmt("%g", kPlotX + kPlotW / 2) + "\" y=\"" + fmt("%g", kPlotY + kPlotH / 2) +
             "\" text-anchor=\"middle\" class=\"sub\">" + esc(kNotComputed) + "</text>";
    s += "<rect x=\"" + fmt("%g", kPlotX) + "\" y=\"" + fmt("%g", kPlotY) + "\" width=\"" + fmt("%g", kPlotW) +
         "\" height=\"" + fmt("%g", kPlotH) + "\" fill=\"none\" stroke=\"#9aa3b2\"/>";
    // Time axis: drawn here, redrawn by the script after a zoom.
    s += "<g class=\"xaxis\">";
    const double xstep = nice_step(span, 10);
    for (double t = std::ceil(t0 / xstep) * xstep; t <= t1 + xstep * 1e-6; t += xstep) {
        const std::string x = fmt("%.2f", kPlotX + (t - t0) / span * kPlotW);
        s += "<line x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + fmt("%g", kPlotY + kPlotH) + "\" y2=\"" +
             fmt("%g", kPlotY + kPlotH + 5) + "\" stroke=\"#333\"/><text x=\"" + x + "\" y=\"" +
             fmt("%g", kPlotY + kPlotH + 18) + "\" text-anchor=\"middle\">" + tick_label(t, xstep) + "</text>";
    }
    s += "</g><text x=\"" + fmt("%g", kPlotX + kPlotW) + "\" y=\"" + fmt("%g", kChartH - 2) +
         "\" text-anchor=\"end\" class=\"sub\">время, с</text>";
    s += "<rect class=\"sel\" x=\"0\" y=\"" + fmt("%g", kPlotY) + "\" width=\"0\" height=\"" + fmt("%g", kPlotH) +
         "\" fill=\"#1f6fd1\" fill-opacity=\"0.15\" visibility=\"hidden\"/>";
    s += "</svg>";
    return s;
}

std::string plots_section(const FrameSeries &series)
{
    std::string s = "<section id=\"plots\"><h2>По кадрам</h2>";
    if (series.frames() == 0) return s + "<p>Кадров нет.</p></section>";
    const auto cols = series.columns(kPlotColumns);
    const double t0 = cols.front().start_s;
    const double t1 = cols.back().end_s + 2 * kFrameHopSeconds;  // the last frame lasts two hops
    s += "<p class=\"sub\">Каждая колонка показывает наименьшее и наибольшее значение кадров, попавших в неё (" +
         std::to_string(series.frames()) + " кадров";
    if (series.frames_per_bucket() > 1 || cols.size() < series.buckets().size())
        s += ", до " + std::to_string(series.frames_per_bucket() *
                                      ((series.buckets().size() + kPlotColumns - 1) / kPlotColumns)) +
             " кадров в колонке";
    s += "). Красным фоном отмечены кадры с искажениями (шум хотя бы в одной полосе выше порога маскирования на "
         "1,5 дБ). Выделите участок мышью, чтобы увеличить его; двойной щелчок возвращает весь сигнал.</p>";
    for (const TraceStyle &p : kPlots) {
        s += "<div class=\"plot\" data-trace=\"" + std::string(trace_name(p.trace)) + "\"><h3>" + esc(p.title) +
             "<span class=\"legend\">";
        for (int slot = 0; slot < kTraceSlots; ++slot) {
            if (slot == 1 && series.channels() < 2) continue;
            if (slot == kBinauralSlot && (p.trace != Trace::detection_probability || series.channels() < 2)) continue;
            s += "<span><i style=\"background:" + std::string(kSlotColors[slot]) + "\"></i>" + kSlotNames[slot] +
                 "</span>";
        }
        s += "</span></h3>";
        s += plot_svg(series, cols, p, t0, t1);
        s += "<div class=\"readout\"></div></div>";
    }
    return s + "</section>";
}

// Zoom by dragging (every plot follows), double click to reset, a time
// readout under the pointer. The last statement marks the page as rendered;
// an exception anywhere before it leaves the mark unset.
constexpr std::string_view kReportScript = R"JS(
(function () {
  'use strict';
  var charts = Array.prototype.slice.call(document.querySelectorAll('svg.chart'));
  var PX = 62, PW = 922, PY = 8, PH = 170;
  function step(range, target) {
    var raw = range / target, mag = Math.pow(10, Math.floor(Math.log10(raw)));
    var ms = [1, 2, 5, 10];
    for (var i = 0; i < ms.length; i++) if (raw <= ms[i] * mag) return ms[i] * mag;
    return 10 * mag;
  }
  function label(v, st) {
    var d = st >= 1 ? 0 : Math.min(6, Math.ceil(-Math.log10(st) - 1e-9));
    if (Math.abs(v) < st * 1e-9) v = 0;
    return v.toFixed(d);
  }
  function show(chart, a, b) {
    chart.querySelector('svg.data').setAttribute('viewBox', a + ' 0 ' + (b - a) + ' ' + PH);
    var g = chart.querySelector('g.xaxis');
    while (g.firstChild) g.removeChild(g.firstChild);
    var st = step(b - a, 10);
    for (var t = Math.ceil(a / st) * st; t <= b + st * 1e-6; t += st) {
      var x = PX + (t - a) / (b - a) * PW;
      var l = document.createElementNS(chart.namespaceURI, 'line');
      l.setAttribute('x1', x); l.setAttribute('x2', x);
      l.setAttribute('y1', PY + PH); l.setAttribute('y2', PY + PH + 5); l.setAttribute('stroke', '#333');
      var tx = document.createElementNS(chart.namespaceURI, 'text');
      tx.setAttribute('x', x); tx.setAttribute('y', PY + PH + 18); tx.setAttribute('text-anchor', 'middle');
      tx.textContent = label(t, st);
      g.appendChild(l); g.appendChild(tx);
    }
    chart.dataset.a = a; chart.dataset.b = b;
  }
  function range(chart) {
    return [parseFloat(chart.dataset.a), parseFloat(chart.dataset.b)];
  }
  function timeAt(chart, ev) {
    var r = chart.getBoundingClientRect(), s = r.width / 1000;
    var x = (ev.clientX - r.left) / s, ab = range(chart);
    x = Math.max(PX, Math.min(PX + PW, x));
    return { x: x, t: ab[0] + (x - PX) / PW * (ab[1] - ab[0]) };
  }
  charts.forEach(function (chart) {
    show(chart, parseFloat(chart.dataset.t0), parseFloat(chart.dataset.t1));
    var sel = chart.querySelector('rect.sel'), readout = chart.parentNode.querySelector('.readout');
    var start = null;
    chart.addEventListener('mousedown', function (ev) {
      start = timeAt(chart, ev);
      sel.setAttribute('x', start.x); sel.setAttribute('width', 0); sel.setAttribute('visibility', 'visible');
      ev.preventDefault();
    });
    chart.addEventListener('mousemove', function (ev) {
      var p = timeAt(chart, ev);
      readout.textContent = 't = ' + p.t.toFixed(3) + ' с';
      if (start) {
        sel.setAttribute('x', Math.min(start.x, p.x));
        sel.setAttribute('width', Math.abs(p.x - start.x));
      }
    });
    chart.addEventListener('mouseup', function (ev) {
      if (!start) return;
      var p = timeAt(chart, ev), a = Math.min(start.t, p.t), b = Math.max(start.t, p.t);
      start = null;
      sel.setAttribute('visibility', 'hidden');
      if (b - a > 1e-3) charts.forEach(function (c) { show(c, a, b); });
    });
    chart.addEventListener('mouseleave', function () {
      start = null; sel.setAttribute('visibility', 'hidden'); readout.textContent = '';
    });
    chart.addEventListener('dblclick', function () {
      charts.forEach(function (c) { show(c, parseFloat(c.dataset.t0), parseFloat(c.dataset.t1)); });
    });
  });
  document.documentElement.setAttribute('data-report-ready', '1');
})();
)JS";

constexpr std::string_view kBatchScript = R"JS(
(function () {
  'use strict';
  var table = document.getElementById('pairs');
  var heads = table.querySelectorAll('th.sort');
  Array.prototype.forEach.call(heads, function (th, col) {
    th.addEventListener('click', function () {
      var body = table.tBodies[0], rows = Array.prototype.slice.call(body.rows);
      var dir = th.dataset.dir === 'asc' ? -1 : 1;
      th.dataset.dir = dir > 0 ? 'asc' : 'desc';
      var key = th.dataset.key;
      rows.sort(function (r1, r2) {
        var a = r1.dataset[key], b = r2.dataset[key];
        if (key === 'odg' || key === 'n') {
          a = a === '' ? -Infinity : parseFloat(a); b = b === '' ? -Infinity : parseFloat(b);
          return (a - b) * dir;
        }
        return a.localeCompare(b) * dir;
      });
      rows.forEach(function (r) { body.appendChild(r); });
    });
  });
  document.documentElement.setAttribute('data-report-ready', '1');
})();
)JS";

void emit(std::ostream &out, const std::string &page)
{
    out.write(page.data(), static_cast<std::streamsize>(page.size()));
    out.flush();
    if (!out) throw std::runtime_error("the report could not be written");
}

std::string page_head(const std::string &title)
{
    return "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\"><title>" +
           esc(title) + "</title><style>" + std::string(kStyle) + "</style></head><body><main>";
}

std::string file_name(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

void write_html_report(std::ostream &out, const ReportData &d)
{
    std::string s = page_head("Velumar: " + file_name(d.test.path) + " против " + file_name(d.reference.path));
    s += "<h1>Оценка качества: " + esc(file_name(d.test.path)) + "</h1><div class=\"sub\">Эталон: " +
         esc(file_name(d.reference.path)) + (d.program_version.empty() ? "" : " · Velumar " + esc(d.program_version)) +
         "</div>";

    // Grade.
    if (d.graded) {
        s += "<section id=\"grade\"><h2>Оценка</h2><div class=\"grade\"><div><div class=\"odg\">" + fmt("%.3f", d.odg) +
             "</div><div class=\"sub\">ODG</div></div><div><div class=\"verbal\">" +
             esc(grade_category_text(d.odg)) + "</div><div class=\"sub\">" + esc(text::get(text::IDS_CLI_DI_LABEL)) +
             " " + fmt("%.3f", d.di) + "</div></div></div>" + odg_scale_svg(d.odg) + "</section>";
    } else {
        s += "<section id=\"grade\" class=\"refused\"><h2>Оценки нет</h2><p>" +
             esc(d.reason.empty() ? std::string("Сигнал не удалось оценить.") : d.reason) + "</p>" +
             (d.reason_code.empty() ? "" : "<p class=\"sub\">Код причины: " + esc(d.reason_code) + "</p>") +
             "</section>";
    }

    // Files and settings.
    s += "<section id=\"files\"><h2>Файлы</h2><table><tr><th></th><th>Путь</th><th>Формат</th><th class=\"num\">Гц</th>"
         "<th class=\"num\">Бит</th><th class=\"num\">Каналов</th><th class=\"num\">Отсчётов на канал</th>"
         "<th>Преобразован</th></tr>" +
         file_row("Эталон", d.reference) + file_row("Тест", d.test) + "</table></section>";

    // The plots come early: they answer where the distortion is.
    if (d.series) s += plots_section(*d.series);

    // Pair check.
    s += "<section id=\"check\"><h2>Проверка пары</h2>";
    if (!d.check) {
        s += "<p>Не выполнялась.</p>";
    } else {
        const PairCheckInfo &c = *d.check;
        s += "<table class=\"kv\"><tr><th>Задержка теста</th><td>" + text::sample_count(c.delay_samples) + " (" +
             fmt("%.3f", c.delay_ms) + " мс)</td></tr><tr><th>Корреляция в пике</th><td>" +
             fmt("%.3f", c.correlation) + "</td></tr><tr><th>Усиление теста</th><td>" + fmt("%.2f", c.gain_db) +
             " дБ</td></tr><tr><th>Полярность</th><td>" + (c.inverted ? "обращена" : "прямая") + "</td></tr></table>";
        if (c.warnings.empty() && c.messages.empty()) {
            s += "<p class=\"ok\">" + esc(text::get(text::IDS_CHECK_NO_WARNINGS)) + ".</p>";
        } else {
            s += "<ul class=\"warn\">";
            if (!c.messages.empty()) {
                // One sentence per warning code when the caller has them, the
                // code beside it for whoever searches the page.
                for (std::size_t i = 0; i < c.messages.size(); ++i)
                    s += "<li>" + esc(c.messages[i]) +
                         (c.messages.size() == c.warnings.size() ? " (" + esc(c.warnings[i]) + ")" : "") + "</li>";
            } else
                for (const auto &w : c.warnings) s += "<li>" + esc(warning_text(w)) + " (" + esc(w) + ")</li>";
            s += "</ul>";
        }
    }
    if (d.applied)
        s += "<p>Перед оценкой исправлено: задержка " + text::sample_count(d.applied->delay_samples) +
             ", усиление " + fmt("%.2f", d.applied->gain_db) + " дБ.</p>";
    s += "</section>";

    // MOVs.
    if (d.graded) {
        const bool two = d.channels == 2;
        s += "<section id=\"movs\"><h2>Выходные переменные модели (MOV)</h2><table><tr><th>MOV</th>"
             "<th class=\"num\">Вход сети</th><th class=\"num\">Канал 1</th>" +
             std::string(two ? "<th class=\"num\">Канал 2</th>" : "") + "<th>Что показывает</th></tr>";
        for (int i = 0; i < kMovCount; ++i) {
            s += "<tr><td>" + std::string(mov_name(i)) + "</td><td class=\"num\">" + fmt("%.6g", d.movs[i]) + "</td>";
            for (int c = 0; c < (two ? 2 : 1); ++c)
                s += "<td class=\"num\">" + (i == kMovAdb ? std::string("—") : fmt("%.6g", d.channel_movs[c][i])) +
                     "</td>";
            s += "<td>" + esc(mov_explanation(i)) + "</td></tr>";
        }
        s += "</table>" +
             std::string(two ? "<p class=\"sub\">Для двух каналов вход сети — среднее по каналам; ADBB один на оба "
                               "канала.</p>"
                             : "") +
             "</section>";
    }

    s += "<section id=\"settings\"><h2>Параметры</h2><table class=\"kv\">";
    s += "<tr><th>Уровень прослушивания</th><td>" + fmt("%.1f", d.settings.listening_level_db) + " дБ</td></tr>";
    s += "<tr><th>Значений за шаг</th><td>" + std::to_string(d.settings.step) + "</td></tr>";
    s += "<tr><th>Кадров / каналов</th><td>" + std::to_string(d.frames) + " / " + std::to_string(d.channels) +
         "</td></tr>";
    s += "<tr><th>Выравнивание задержки</th><td>" + std::string(d.settings.align ? "да" : "нет") + "</td></tr>";
    s += "<tr><th>Выравнивание уровня</th><td>" + std::string(d.settings.match_level ? "да" : "нет") + "</td></tr>";
    if (d.elapsed_s) s += "<tr><th>Время вычисления</th><td>" + fmt("%.2f", *d.elapsed_s) + " с</td></tr>";
    if (d.speed) s += "<tr><th>Скорость обработки</th><td>" + fmt("%.0f", *d.speed) + " сэмплов/с</td></tr>";
    if (d.realtime_factor && std::isfinite(*d.realtime_factor))
        s += "<tr><th>Фактор реального времени</th><td>" + fmt("%.2f", *d.realtime_factor) + "</td></tr>";
    s += "</table></section>";

    s += "</main><script>" + std::string(kReportScript) + "</script></body></html>\n";
    emit(out, s);
}

void write_batch_report(std::ostream &out, const std::vector<BatchEntry> &entries, const std::string &program_version)
{
    std::size_t graded = 0;
    for (const auto &e : entries) graded += e.status == BatchEntry::Status::graded;
    std::string s = page_head("Velumar: сводка пакета");
    s += "<h1>Сводка пакета</h1><div class=\"sub\">Пар: " + std::to_string(entries.size()) + ", оценено: " +
         std::to_string(graded) + (program_version.empty() ? "" : " · Velumar " + esc(program_version)) + "</div>";
    s += "<section><table id=\"pairs\"><thead><tr><th class=\"sort num\" data-key=\"n\">№</th>"
         "<th class=\"sort\" data-key=\"ref\">Эталон</th><th class=\"sort\" data-key=\"test\">Тест</th>"
         "<th class=\"sort num\" data-key=\"odg\">ODG</th><th>Шкала ODG: −4 … 0</th><th>Оценка искажений</th>"
         "</tr></thead><tbody>";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const BatchEntry &e = entries[i];
        const bool ok = e.status == BatchEntry::Status::graded;
        s += "<tr data-n=\"" + std::to_string(i + 1) + "\" data-ref=\"" + esc(e.reference) + "\" data-test=\"" +
             esc(e.test) + "\" data-odg=\"" + (ok ? fmt("%.6f", e.odg) : "") + "\"><td class=\"num\">" +
             std::to_string(i + 1) + "</td><td>" + esc(e.reference) + "</td><td>" + esc(e.test) + "</td>";
        if (ok) {
            const double pos = (std::clamp(e.odg, kScaleLo, kScaleHi) - kScaleLo) / (kScaleHi - kScaleLo) * 100.0;
            s += "<td class=\"num\">" + fmt("%.3f", e.odg) + "</td><td><div class=\"bar\"><b style=\"left:" +
                 fmt("%.2f", pos) + "%\"></b></div></td><td>" + esc(grade_category_text(e.odg)) + "</td>";
        } else {
            s += "<td class=\"num\">—</td><td></td><td class=\"warn\">" +
                 std::string(e.status == BatchEntry::Status::not_graded ? "не оценено" : "ошибка") + "</td>";
        }
        s += "</tr>";
    }
    s += "</tbody></table></section>";
    if (graded < entries.size()) {
        s += "<section id=\"failures\"><h2>Пары без оценки</h2><table><tr><th class=\"num\">№</th><th>Эталон</th>"
             "<th>Тест</th><th>Причина</th></tr>";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const BatchEntry &e = entries[i];
            if (e.status == BatchEntry::Status::graded) continue;
            s += "<tr><td class=\"num\">" + std::to_string(i + 1) + "</td><td>" + esc(e.reference) + "</td><td>" +
                 esc(e.test) + "</td><td>" + esc(e.reason.empty() ? std::string("причина не указана") : e.reason) +
                 (e.reason_code.empty() ? "" : " <span class=\"sub\">(" + esc(e.reason_code) + ")</span>") +
                 "</td></tr>";
        }
        s += "</table></section>";
    }
    s += "</main><script>" + std::string(kBatchScript) + "</script></body></html>\n";
    emit(out, s);
}

} // namespace velumar::report
