// The page: the stations, the readings as they arrive (Server-Sent Events
// from /events), a search, a chart of readings per station and hour drawn
// as SVG by the script, and the CSV of what the search shows. Every text
// from the store goes in by textContent, never as HTML.
#include "PageHtml.h"

namespace collect {

const char* const PageHtml = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Chip Reader: the site</title>
<style>
body { font: 14px/1.4 system-ui, sans-serif; margin: 0; background: #f4f5f7; color: #1d2330; }
header { background: #1d2330; color: #fff; padding: .6em 1em; display: flex; gap: 1em; align-items: baseline; }
header h1 { font-size: 1.2em; margin: 0; }
#feed { font-size: .9em; opacity: .85; }
main { display: grid; grid-template-columns: minmax(0, 1fr) minmax(0, 1fr); gap: 1em; padding: 1em; }
@media (max-width: 1100px) { main { grid-template-columns: minmax(0, 1fr); } }
.scroll { max-height: 22em; overflow: auto; }
.scroll.tall { max-height: 36em; }
section { background: #fff; border-radius: 6px; padding: .6em 1em; box-shadow: 0 1px 2px #0002; overflow: auto; }
section.wide { grid-column: 1 / -1; }
h2 { font-size: 1em; margin: .2em 0 .6em; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: .2em .4em; border-bottom: 1px solid #e3e6ea; white-space: nowrap; }
th { font-weight: 600; color: #566; }
td.code { font-family: ui-monospace, monospace; }
.state { display: inline-block; padding: 0 .5em; border-radius: 1em; font-size: .85em; }
.online { background: #d5f5dd; color: #145a26; }
.offline { background: #f9d9d9; color: #7a1616; }
form { display: flex; flex-wrap: wrap; gap: .5em 1em; align-items: end; margin-bottom: .6em; }
label { display: flex; flex-direction: column; font-size: .85em; color: #566; }
input, select, button { font: inherit; padding: .2em .4em; }
#error { color: #a00; }
#chart { width: 100%; height: 240px; }
.fresh { animation: fresh 2s; }
@keyframes fresh { from { background: #fff5b8; } to { background: transparent; } }
</style>
</head>
<body>
<header><h1>Chip Reader: the site</h1><span id="feed">connecting…</span></header>
<main>
<section>
<h2>Stations</h2>
<div class="scroll"><table id="stations"><thead><tr><th>Station</th><th>State</th><th>Since</th><th>Last reading</th><th>At</th></tr></thead><tbody></tbody></table></div>
</section>
<section>
<h2>As they arrive</h2>
<div class="scroll"><table id="live"><thead><tr><th>Station</th><th>No.</th><th>Time</th><th>Code</th><th>Reader</th><th>Port</th></tr></thead><tbody></tbody></table></div>
</section>
<section class="wide">
<h2>Search</h2>
<form id="search">
<label>Code contains<input id="code" name="code" autocomplete="off"></label>
<label>Station<select id="station" name="station"><option value="">every station</option></select></label>
<label>From<input id="from" type="datetime-local" step="1"></label>
<label>To<input id="to" type="datetime-local" step="1"></label>
<label>At most<input id="limit" type="number" min="1" max="100000" value="500"></label>
<button id="go" type="submit">Search</button>
<a id="csv" href="/export.csv?limit=500" download>Download CSV</a>
<span id="count"></span><span id="error"></span>
</form>
<svg id="chart" role="img" aria-label="readings per station and hour"></svg>
<div class="scroll tall"><table id="results"><thead><tr><th>Station</th><th>No.</th><th>Time</th><th>Code</th><th>Demo</th><th>Reader</th><th>Port</th></tr></thead><tbody></tbody></table></div>
</section>
</main>
<script>
"use strict";
const $ = (s) => document.querySelector(s);
const stations = new Map();
const colours = ["#2a6fdb", "#e0742b", "#2e9e5b", "#b5338a", "#7a5cd6", "#c9a227", "#1b9aaa", "#d64550"];

function cell(tr, text, cls) {
  const td = document.createElement("td");
  td.textContent = text == null ? "" : String(text);
  if (cls) td.className = cls;
  tr.appendChild(td);
  return td;
}
// A moment as 2026-12-10 12:53:12, in the browser's time.
function when(ms) {
  if (!ms) return "";
  const d = new Date(ms), two = (n) => String(n).padStart(2, "0");
  return d.getFullYear() + "-" + two(d.getMonth() + 1) + "-" + two(d.getDate()) + " " +
    two(d.getHours()) + ":" + two(d.getMinutes()) + ":" + two(d.getSeconds());
}
// A station's time as 2026-12-10 12:53:12, the station's own; the whole of
// it (milliseconds, offset) on hovering.
function stationTime(tr, text) {
  const t = text || "";
  cell(tr, t.length >= 19 ? t.slice(0, 10) + " " + t.slice(11, 19) : t).title = t;
}

function drawStations() {
  const body = $("#stations tbody");
  body.replaceChildren();
  const names = [...stations.keys()].sort();
  for (const name of names) {
    const s = stations.get(name);
    const tr = document.createElement("tr");
    tr.dataset.station = name;
    cell(tr, name);
    const badge = document.createElement("span");
    badge.className = "state " + (s.state || "");
    badge.textContent = s.state || "unknown";
    cell(tr, "").appendChild(badge);
    cell(tr, s.state ? when(s.since) : "");
    cell(tr, s.last ? s.last.code : "", "code last");
    stationTime(tr, s.last ? s.last.time : "");
    body.appendChild(tr);
  }
  const select = $("#station");
  const chosen = select.value;
  while (select.options.length > 1) select.remove(1);
  for (const name of names) select.add(new Option(name, name));
  select.value = chosen;
}

function takeStations(list) {
  for (const s of list) {
    const known = stations.get(s.station);
    // A reading the feed brought may be newer than the list's.
    if (known && known.last && (!s.last || known.last.instant > s.last.instant)) s.last = known.last;
    stations.set(s.station, s);
  }
  drawStations();
}

function arrived(r, fresh) {
  const tr = document.createElement("tr");
  tr.dataset.id = r.id;
  if (fresh) tr.className = "fresh";
  cell(tr, r.station); cell(tr, r.order); stationTime(tr, r.time); cell(tr, r.code, "code");
  cell(tr, r.reader); cell(tr, r.port);
  const body = $("#live tbody");
  body.insertBefore(tr, body.firstChild);
  while (body.rows.length > 200) body.deleteRow(-1);
  const s = stations.get(r.station) || { station: r.station, state: "", since: 0, last: null };
  if (!s.last || r.instant >= s.last.instant) s.last = r;
  stations.set(r.station, s);
}

// From the origin, not the document's address: fetch refuses one with a
// user and password in it (a viewer may have opened the page so).
async function getJson(path) {
  const answer = await fetch(location.origin + path, { cache: "no-store" });
  if (!answer.ok) throw new Error(await answer.text());
  return answer.json();
}

function searchParams() {
  const p = new URLSearchParams();
  const code = $("#code").value.trim();
  if (code) p.set("code", code);
  if ($("#station").value) p.set("station", $("#station").value);
  for (const id of ["from", "to"]) {
    const v = $("#" + id).value;
    if (v) p.set(id, String(new Date(v).getTime()));
  }
  p.set("limit", $("#limit").value || "500");
  return p;
}

async function search() {
  const p = searchParams();
  $("#error").textContent = "";
  try {
    const rows = await getJson("/api/readings?" + p);
    const body = $("#results tbody");
    body.replaceChildren();
    for (const r of rows) {
      const tr = document.createElement("tr");
      cell(tr, r.station); cell(tr, r.order); cell(tr, r.time); cell(tr, r.code, "code");
      cell(tr, r.demo ? "demo" : ""); cell(tr, r.reader); cell(tr, r.port);
      body.appendChild(tr);
    }
    $("#count").textContent = rows.length + (rows.length == 1 ? " reading" : " readings");
    $("#csv").href = "/export.csv?" + p;
    const h = new URLSearchParams(p);
    h.delete("limit");
    if (!h.get("from")) h.set("from", String(Date.now() - 24 * 3600e3));
    drawChart(await getJson("/api/hours?" + h), Number(h.get("from")), Number(h.get("to") || Date.now()));
  } catch (e) {
    $("#error").textContent = e.message;
  }
}

const svgNs = "http://www.w3.org/2000/svg";
function svg(parent, name, attributes, text) {
  const e = document.createElementNS(svgNs, name);
  for (const [k, v] of Object.entries(attributes)) e.setAttribute(k, v);
  if (text != null) e.textContent = text;
  parent.appendChild(e);
  return e;
}

// Bars per hour, one colour per station, stacked.
function drawChart(hours, fromMs, toMs) {
  const chart = $("#chart");
  chart.replaceChildren();
  const width = chart.clientWidth || 900, height = 240, left = 40, bottom = 40, top = 20;
  const first = Math.floor(fromMs / 3600e3), last = Math.max(first, Math.floor(toMs / 3600e3));
  const span = Math.min(last - first + 1, 24 * 31);
  const names = [...new Set(hours.map((h) => h.station))].sort();
  const totals = new Array(span).fill(0);
  for (const h of hours) {
    const i = h.hour / 3600e3 - (last - span + 1);
    if (i >= 0 && i < span) totals[i] += h.count;
  }
  const most = Math.max(1, ...totals);
  const slot = (width - left - 10) / span, scale = (height - top - bottom) / most;
  svg(chart, "line", { x1: left, y1: height - bottom, x2: width - 5, y2: height - bottom, stroke: "#999" });
  svg(chart, "text", { x: 2, y: top + 4, "font-size": 11 }, String(most));
  svg(chart, "text", { x: 2, y: height - bottom, "font-size": 11 }, "0");
  const stacked = new Array(span).fill(0);
  for (const h of hours) {
    const i = h.hour / 3600e3 - (last - span + 1);
    if (i < 0 || i >= span) continue;
    const k = names.indexOf(h.station);
    const y = height - bottom - (stacked[i] + h.count) * scale;
    const bar = svg(chart, "rect", { x: left + i * slot + 1, y: y, width: Math.max(1, slot - 2),
                                     height: h.count * scale, fill: colours[k % colours.length],
                                     "data-station": h.station, "data-count": h.count });
    svg(bar, "title", {}, h.station + ", " + new Date(h.hour).toLocaleString() + ": " + h.count);
    stacked[i] += h.count;
  }
  const every = Math.max(1, Math.ceil(span / 12));
  for (let i = 0; i < span; i += every) {
    const d = new Date((last - span + 1 + i) * 3600e3);
    svg(chart, "text", { x: left + i * slot, y: height - bottom + 14, "font-size": 10 },
        d.getHours() == 0 || i == 0 ? d.toLocaleDateString() + " " + d.getHours() + "h" : d.getHours() + "h");
  }
  names.forEach((name, k) => {
    svg(chart, "rect", { x: left + k * 120, y: height - 14, width: 10, height: 10, fill: colours[k % colours.length] });
    svg(chart, "text", { x: left + k * 120 + 14, y: height - 5, "font-size": 11 }, name);
  });
}

async function start() {
  $("#search").addEventListener("submit", (e) => { e.preventDefault(); search(); });
  let after = 0;
  try {
    takeStations(await getJson("/api/stations"));
    const recent = await getJson("/api/readings?limit=50");
    for (const r of recent.reverse()) { arrived(r, false); after = Math.max(after, r.id); }
    drawStations();
  } catch (e) {
    $("#error").textContent = e.message;
  }
  // What the page missed while away comes first (Last-Event-ID), then each
  // reading as it is stored.
  const feed = new EventSource("/events?after=" + after);
  feed.addEventListener("open", () => { $("#feed").textContent = "live"; });
  feed.addEventListener("error", () => { $("#feed").textContent = "reconnecting…"; });
  feed.addEventListener("reading", (e) => {
    arrived(JSON.parse(e.data), true);
    drawStations();
  });
  feed.addEventListener("stations", (e) => takeStations(JSON.parse(e.data)));
  search();
}
start();
</script>
</body>
</html>
)PAGE";

}  // namespace collect
