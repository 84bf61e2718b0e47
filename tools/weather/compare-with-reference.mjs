#!/usr/bin/env node
// Counts how far `orvento-weather --decode` agrees with a second, independent
// decoder, the npm package metar-taf-parser, on a file of real reports.
// A development aid: no build or test runs it, and the package is not ours.
//
//   npm install --prefix DIR metar-taf-parser
//   orvento-weather --decode [--taf] REPORTS > OURS.jsonl
//   node compare-with-reference.mjs DIR [--taf] REPORTS OURS.jsonl [DISAGREEMENTS.txt]
//
// It maps the reference's reading onto our output's fields with the same
// conversions and flight-category rule, and counts as the decoding contract
// says: METAR fields with their tolerances (the category apart), TAF groups by
// type, probability, start, end and category, and the error lines. Each
// disagreement goes to DISAGREEMENTS.txt for checking by hand.
//
// The reference has no value for "CLR" and "NCD" (it drops them), so the
// adapter notes them from the report's body words; everything else is the
// reference's own reading.
import { readFileSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { pathToFileURL } from "node:url";

const args = process.argv.slice(2);
const taf = args.includes("--taf");
const [dir, reportsPath, oursPath, disagreementsPath] = args.filter((a) => a !== "--taf");
const ref = await import(
  pathToFileURL(join(dir, "node_modules/metar-taf-parser/metar-taf-parser.js")).href
);

const reports = readFileSync(reportsPath, "utf8").split("\n");
if (reports.at(-1) === "") reports.pop();
const ours = readFileSync(oursPath, "utf8").split("\n").filter((l) => l !== "").map((l) => JSON.parse(l));
if (ours.length !== reports.length) {
  console.log(`line counts differ: ${reports.length} reports, ${ours.length} objects`);
}

const MILE = 1609.344;
const knots = (v, unit) =>
  v == null ? null : Math.round(unit === "MPS" ? v * 1.943844 : unit === "KM/H" ? v * 0.539957 : v);

// Visibility in metres and in miles (as written when in miles).
function visibility(c) {
  if (c.cavok) return { m: 9999, miles: 9999 / MILE, less: false };
  const v = c.visibility;
  if (!v || v.value == null) return null;
  if (v.unit === "SM") {
    return { m: Math.min(Math.round(v.value * MILE), 10000), miles: v.value, less: v.indicator === "M" };
  }
  return { m: v.value, miles: v.value / MILE, less: v.indicator === "M" };
}

function sky(c, words) {
  const layers = (c.clouds || []).filter((l) => l.height != null);
  let ceiling = null;
  for (const l of layers) {
    if ((l.quantity === "BKN" || l.quantity === "OVC") && (ceiling == null || l.height < ceiling)) ceiling = l.height;
  }
  if (c.verticalVisibility != null && (ceiling == null || c.verticalVisibility < ceiling)) ceiling = c.verticalVisibility;
  const clear =
    c.cavok || (c.clouds || []).some((l) => l.quantity === "SKC" || l.quantity === "NSC") ||
    words.some((w) => w === "CLR" || w === "NCD");
  return { known: clear || layers.length > 0 || c.verticalVisibility != null, ceiling };
}

function category(vis, s) {
  const c = s.ceiling;
  // The element that is known may give LIFR alone; anything better needs both.
  if ((c != null && c < 500) || (vis && vis.miles < 1)) return "LIFR";
  if (!vis || !s.known) return null;
  if ((c != null && c < 1000) || vis.miles < 3) return "IFR";
  if ((c != null && c <= 3000) || vis.miles <= 5) return "MVFR";
  return "VFR";
}

// The words of a report's body (up to RMK or a trend word), for CLR and NCD.
const TREND = /^(NOSIG|BECMG|TEMPO|INTER|(FM|TL|AT)\d{4}|PROB\d\d)$/;
function bodyWords(line) {
  const out = [];
  for (const w of line.trim().split(/\s+/).slice(2)) {
    if (w === "RMK" || TREND.test(w)) break;
    out.push(w.replace(/=+$/, ""));
  }
  return out;
}

function referenceMetar(line) {
  let r;
  try {
    r = ref.parseMetar(line.trim().replace(/=+$/, ""));
  } catch (e) {
    return { error: e.message };
  }
  if (r.nil) return { error: "NIL" };
  const vis = visibility(r);
  const s = sky(r, bodyWords(line));
  const alt = r.altimeter;
  return {
    station: r.station,
    day: r.day ?? null,
    time: r.hour == null ? null : String(r.hour).padStart(2, "0") + String(r.minute ?? 0).padStart(2, "0"),
    wind_dir_deg: !r.wind ? null : r.wind.direction === "VRB" ? "VRB" : r.wind.degrees ?? null,
    wind_kt: r.wind ? knots(r.wind.speed, r.wind.unit) : null,
    gust_kt: r.wind ? knots(r.wind.gust, r.wind.unit) : null,
    visibility_m: vis ? vis.m : null,
    less_than: vis ? vis.less : false,
    cavok: !!r.cavok,
    ceiling_ft: s.ceiling,
    temp_c: r.temperature ?? null,
    dew_c: r.dewPoint ?? null,
    qnh_hpa: !alt ? null : alt.unit === "hPa" ? Math.round(alt.value) : Math.round(alt.value * 33.8639),
    category: category(vis, s),
  };
}

const near = (a, b, tolerance) => (a == null || b == null ? a == b : Math.abs(a - b) <= tolerance);
const SAME = {
  wind_kt: (a, b) => near(a, b, 1),
  gust_kt: (a, b) => near(a, b, 1),
  qnh_hpa: (a, b) => near(a, b, 1),
  visibility_m: (a, b) => (a != null && b != null && a >= 9999 && b >= 9999) || near(a, b, 50),
  less_than: (a, b) => !!a === !!b,
};
const FIELDS = ["station", "day", "time", "wind_dir_deg", "wind_kt", "gust_kt", "visibility_m",
  "less_than", "cavok", "ceiling_ft", "temp_c", "dew_c", "qnh_hpa"];

const notes = [];
const note = (line, what) => notes.push(`${what}\n  ${line}`);
const percent = (n, d) => (d === 0 ? "-" : ((100 * n) / d).toFixed(2) + " %");

// Counts the error lines of either side; true when the line is the reference's error.
const errors = { reference: 0, handled: 0, oursOnly: 0 };
function countErrors(line, o, r) {
  if (r.error) {
    ++errors.reference;
    if ("error" in o) ++errors.handled;
    else note(line, `reference error (${r.error}), ours decoded`);
    return true;
  }
  if ("error" in o) {
    ++errors.oursOnly;
    note(line, `ours error (${o.error}), reference decoded`);
  }
  return false;
}
function printErrors() {
  console.log(`reference errors:   ${errors.reference}, of which ours also errors: ${errors.handled}`);
  console.log(`ours only errors:   ${errors.oursOnly}`);
}

function compareMetars() {
  let fields = 0, fieldsAgree = 0, categories = 0, categoriesAgree = 0;
  reports.forEach((line, i) => {
    const o = ours[i] || {};
    const r = referenceMetar(line);
    if (countErrors(line, o, r) || "error" in o) return;
    for (const f of FIELDS) {
      ++fields;
      const same = (SAME[f] || ((a, b) => a === b))(o[f] ?? null, r[f] ?? null);
      if (same) ++fieldsAgree;
      else note(line, `${f}: ours ${JSON.stringify(o[f] ?? null)}, reference ${JSON.stringify(r[f])}`);
    }
    ++categories;
    if ((o.category ?? null) === r.category) ++categoriesAgree;
    else note(line, `category: ours ${o.category ?? null}, reference ${r.category}`);
  });
  console.log(`METAR lines:        ${reports.length}`);
  console.log(`category agreement: ${categoriesAgree}/${categories} = ${percent(categoriesAgree, categories)}`);
  console.log(`field agreement:    ${fieldsAgree}/${fields} = ${percent(fieldsAgree, fields)}`);
  printErrors();
}

function referenceTafGroups(line) {
  let t;
  try {
    t = ref.parseTAF(line.trim().replace(/=+$/, ""));
  } catch (e) {
    return { error: e.message };
  }
  const v = t.validity;
  const groups = [];
  let prevailing = { vis: visibility(t), sky: sky(t, []) };
  groups.push({ type: "BASE", prob: null, from: [v.startDay, v.startHour], to: [v.endDay, v.endHour],
                category: category(prevailing.vis, prevailing.sky) });
  const trends = t.trends || [];
  trends.forEach((tr, n) => {
    const words = tr.raw ? tr.raw.split(/\s+/) : [];
    const ownVis = tr.cavok || tr.visibility ? visibility(tr) : null;
    const ownSky = sky(tr, words);
    let vis, s, to;
    if (tr.type === "FM") {
      vis = ownVis;
      s = ownSky;
      const next = trends.slice(n + 1).find((x) => x.type === "FM");
      to = next ? [next.validity.startDay, next.validity.startHour] : [v.endDay, v.endHour];
      prevailing = { vis, sky: s };
    } else {
      vis = ownVis ?? prevailing.vis;
      s = ownSky.known ? ownSky : prevailing.sky;
      to = [tr.validity.endDay, tr.validity.endHour];
      if (tr.type === "BECMG") prevailing = { vis, sky: s };
    }
    groups.push({ type: tr.type, prob: tr.probability ?? null, from: [tr.validity.startDay, tr.validity.startHour],
                  to, category: category(vis, s) });
  });
  return { groups };
}

function compareTafs() {
  let groups = 0, groupsAgree = 0;
  reports.forEach((line, i) => {
    const o = ours[i] || {};
    const r = referenceTafGroups(line);
    if (countErrors(line, o, r)) return;
    for (const g of r.groups) {
      ++groups;
      const match = (o.groups || []).find(
        (x) => x.type === g.type && (x.prob ?? null) === g.prob && x.from_day === g.from[0] &&
          x.from_hour === g.from[1] && x.to_day === g.to[0] && x.to_hour === g.to[1] &&
          (x.category ?? null) === g.category);
      if (match) ++groupsAgree;
      else note(line, `group ${JSON.stringify(g)} not in ours`);
    }
  });
  console.log(`TAF lines:          ${reports.length}`);
  console.log(`group agreement:    ${groupsAgree}/${groups} = ${percent(groupsAgree, groups)}`);
  printErrors();
}

taf ? compareTafs() : compareMetars();
if (disagreementsPath) writeFileSync(disagreementsPath, notes.join("\n") + "\n");
console.log(`disagreements:      ${notes.length}${disagreementsPath ? " (in " + disagreementsPath + ")" : ""}`);
