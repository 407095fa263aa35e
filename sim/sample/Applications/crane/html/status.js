"use strict";
// The remote's status page. Live values come over the WebSocket JSON feed
// (process data and events); everything the feed does not push (all tags,
// the notification history) is read through the REST API on a slow poll.
// Operations that act on the machine go through the REST API, each after a
// confirmation, with the bearer token when one is kept for the session.

const API = "/api/1.0";
const params = new URLSearchParams(location.search);
const WS_URL = "ws://" + (location.hostname || "127.0.0.1") + ":" + (params.get("ws") || "6259") + "/";
const POLL_MS = 1000;

// The system-event state as "systemEventServiceState" carries it.
const EVENT_STATES = ["NO_RI_Link", "WAITING", "SELECTED", "ARMED_ENABLED", "STOP",
                      "POWERING_DOWN", "EXIT_APPLICATION", "ARMING"];
// The remote-control state as the "state" tag carries it, in the library's log texts.
const RC_STATES = { 1: "Selected", 2: "Armed", 3: "Enabled", 4: "Stop", 5: "Failed",
                    6: "Waiting", 7: "Powering down", 8: "No RI-Link" };
// The base-unit link state as "g_link_status" carries it.
const LINK_STATES = ["Unused", "Operational", "No link", "Link error", "Interface error",
                     "Data error", "Passive", "Fallback"];
const HEALTH = [["link_frames_sent", "Internal link frames sent"],
                ["link_frames_received", "Internal link frames received"],
                ["link_crc_failures", "Damaged frames (CRC)"],
                ["link_retransmissions", "Retransmissions"],
                ["link_failures", "Internal link failures"],
                ["bu_reconnects", "Base-unit reconnects"],
                ["bu_dropped_messages", "Base-unit messages dropped"]];
const SEVERITIES = ["info", "warning", "alarm"];
// Labels and units come from the tag tables, which the installation links into the
// document root under "tables/", in the order the tag database loads them: a tag in
// two tables takes the first. A table that is not there leaves its tags unlabelled.
const TABLES = ["remoteInternalInputTags", "remoteInternalOutputTags", "baseToRemoteStatusTags",
                "remoteInternalTags", "remoteInternalConfigTags", "ECOutputTags", "EGOutputTags"];

const $ = id => document.getElementById(id);
const tags = {};     // name -> last value
const tagRows = {};  // name -> { tr, label, value, origin }
const fed = new Set(); // names the live feed carries
const labels = Object.fromEntries(HEALTH.map(([n, label]) => [n, { label, unit: "" }]));

function fmt(value) {
  if (typeof value === "number" && !Number.isInteger(value)) return value.toFixed(2);
  return String(value);
}

function token() { return sessionStorage.getItem("norvikToken") || ""; }

function api(method, path, body) {
  const headers = {};
  if (token()) headers["Authorization"] = "Bearer " + token();
  if (body !== undefined) headers["Content-Type"] = "application/json";
  return fetch(API + path, { method, headers, body: body === undefined ? undefined : JSON.stringify(body) })
    .then(r => r.text().then(text => {
      if (r.status === 401) $("token-state").textContent = "the API wants a token";
      if (!r.ok) throw new Error(r.status + " " + (r.statusText || text));
      return text ? JSON.parse(text).payload : {};
    }));
}

// --- tags ------------------------------------------------------------------

// A table's first line names the columns, the second labels them, rows follow;
// fields are trimmed and inner white space runs become one blank, as the library reads them.
function readTable(text) {
  const lines = text.split("\n");
  const keys = lines[0].split(";").map(k => k.trim());
  const label = keys.indexOf("label"), unit = keys.indexOf("unitLabel");
  // Column 0 is the tag's name; a column the table lacks gives an empty text.
  const at = (f, i) => i > 0 ? f[i] || "" : "";
  for (const line of lines.slice(2)) {
    const f = line.split(";").map(v => v.trim().replace(/\s+/g, " "));
    if (f[0] && !(f[0] in labels)) labels[f[0]] = { label: at(f, label), unit: at(f, unit) };
  }
}

function loadLabels() {
  return TABLES.reduce((done, t) => done.then(() => fetch("tables/" + t + ".csv")
    .then(r => r.ok ? r.text() : "").catch(() => "").then(readTable)), Promise.resolve())
    .then(() => { for (const n in tagRows) showTag(n); });
}

function setTag(name, value, origin) {
  tags[name] = value;
  let row = tagRows[name];
  if (!row) {
    const tr = document.createElement("tr");
    tr.dataset.tag = name;
    tr.innerHTML = "<td></td><td></td><td class=value></td><td></td>";
    tr.cells[0].textContent = name;
    row = tagRows[name] = { tr, label: tr.cells[1], value: tr.cells[2], origin: tr.cells[3] };
    const body = $("tags");
    const after = Array.from(body.rows).find(r => r.dataset.tag > name);
    body.insertBefore(tr, after || null);
  }
  row.origin.textContent = origin;
  showTag(name);
}

function showTag(name) {
  const row = tagRows[name], known = labels[name] || { label: "", unit: "" };
  row.label.textContent = known.label;
  row.value.textContent = fmt(tags[name]) + (known.unit ? " " + known.unit : "");
  filterRow(row.tr);
}

// The search matches a tag's name or its label.
function filterRow(tr) {
  const needle = $("search").value.trim().toLowerCase();
  const text = (tr.dataset.tag + " " + tr.cells[1].textContent).toLowerCase();
  tr.hidden = needle !== "" && !text.includes(needle);
}

function render() {
  const st = tags["systemEventServiceState"];
  const name = st === undefined ? "–" : (EVENT_STATES[st] || "state " + st);
  const el = $("state");
  el.textContent = name;
  el.className = "big " + (name.startsWith("ARMED") ? "state-armed" : name === "SELECTED" ? "state-selected"
                           : name === "STOP" ? "state-stop" : "state-other");
  if ("state" in tags) $("rc-state").textContent = RC_STATES[tags.state] || "Unknown state: " + tags.state;

  if ("g_link_status" in tags) {
    const s = tags.g_link_status;
    $("link").textContent = LINK_STATES[s] || "state " + s;
    $("link-path").textContent = tags.g_link_cable ? "cable" : s === 7 ? "fallback tunnel"
                                 : s === 1 ? "TCP" : "none";
  }
  if ("ru_identity" in tags) $("ru-identity").textContent = fmt(tags.ru_identity);
  if ("bu_identity" in tags) $("bu-identity").textContent = fmt(tags.bu_identity);
  const revs = ["rc_sw_rev", "ec_sw_rev"].filter(n => n in tags).map(n => n + " " + fmt(tags[n]));
  if (revs.length) $("sw-rev").textContent = revs.join(", ");

  for (const div of document.querySelectorAll("#peripherals [data-tag]")) {
    const n = div.dataset.tag;
    div.hidden = !(n in tags);
    if (n in tags) div.querySelector("span").textContent = n === "backlightIntensity"
      ? Math.round(tags[n] * 100) + " %" : fmt(tags[n]);
  }

  const body = $("health");
  for (const [n, label] of HEALTH) {
    if (!(n in tags)) continue;
    let tr = body.querySelector(`tr[data-tag="${n}"]`);
    if (!tr) {
      tr = body.insertRow();
      tr.dataset.tag = n;
      tr.innerHTML = "<td></td><td></td>";
      tr.cells[0].textContent = label;
    }
    tr.cells[1].textContent = fmt(tags[n]);
  }
}

// --- notifications ---------------------------------------------------------

const alarms = new Map(); // reference -> entry as the history gives it

function showAlarms() {
  const body = $("alarms");
  body.textContent = "";
  const list = Array.from(alarms.values()).sort((a, b) => (b.when || "").localeCompare(a.when || ""));
  for (const a of list) {
    const tr = body.insertRow();
    tr.className = "sev-" + a.severity + (a.acked ? " acked" : "");
    tr.dataset.reference = a.reference;
    tr.innerHTML = "<td></td><td></td><td class=sev></td><td></td><td></td>";
    tr.cells[0].textContent = a.when || "now";
    tr.cells[1].textContent = a.reference;
    tr.cells[2].textContent = SEVERITIES[a.severity] || a.severity;
    tr.cells[3].textContent = a.msg + (a.popup ? " (popup)" : "");
    if (a.acked) {
      tr.cells[4].textContent = "acknowledged";
    } else if (a.reference > 0) {
      const b = document.createElement("button");
      b.className = "ack danger";
      b.textContent = "Acknowledge";
      b.onclick = () => ask(`Acknowledge notification ${a.reference} "${a.msg}"?`,
                            () => api("POST", "/acknotify", { reference: a.reference }).then(pollAlarms));
      tr.cells[4].appendChild(b);
    }
  }
}

function pollAlarms() {
  return api("GET", "/alarms").then(p => {
    alarms.clear();
    // The history holds one entry per raise; the newest of a reference wins.
    for (const a of p.alarms) {
      const old = alarms.get(a.reference);
      if (!old || old.when <= a.when) alarms.set(a.reference, a);
    }
    showAlarms();
  });
}

// --- live feed -------------------------------------------------------------

let socket = null;
let retryMs = 500;

function setLive(up) {
  document.body.classList.toggle("stale", !up);
  $("stale-banner").hidden = up;
  $("feed").textContent = up ? "Live feed: connected" : "Live feed: stale, reconnecting";
  $("feed").className = "feed " + (up ? "up" : "down");
}

function connect() {
  socket = new WebSocket(WS_URL);
  socket.onopen = () => { retryMs = 500; setLive(true); };
  socket.onclose = () => {
    setLive(false);
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, 5000);
  };
  socket.onmessage = e => {
    let m;
    try { m = JSON.parse(e.data); } catch (err) { return; }
    if (m.msgtype === "processdata" && m.payload) {
      const origin = m.trigger === "periodicupdate" ? "feed" : "feed (change)";
      for (const [n, v] of Object.entries(m.payload)) { fed.add(n); setTag(n, v, origin); }
      render();
    } else if (m.msgtype === "event" && m.notification) {
      const n = m.notification;
      alarms.set(n.reference, { reference: n.reference, severity: n.severity, msg: n.message,
                                popup: n.popup, acked: false, when: "" });
      showAlarms();
      pollAlarms().catch(() => {});
    } else if (m.msgtype === "event" && m.recvcmd) {
      $("result").textContent = "Command from the base unit: " + m.recvcmd.cmd;
    }
  };
}

function pollTags() {
  return api("GET", "/tags").then(p => {
    // A tag the feed carries is fresher from there; the poll only fills it in while stale.
    const live = socket && socket.readyState === WebSocket.OPEN;
    for (const [n, v] of Object.entries(p))
      if (!(live && fed.has(n)) && tags[n] !== v) setTag(n, v, "REST");
    render();
  });
}

// --- control panel ---------------------------------------------------------

let pending = null;

function ask(text, action) {
  pending = action;
  $("confirm-text").textContent = text;
  $("confirm").hidden = false;
  $("confirm").scrollIntoView({ block: "nearest" });
}

function answer(yes) {
  const action = pending, text = $("confirm-text").textContent;
  pending = null;
  $("confirm").hidden = true;
  if (!yes || !action) return;
  Promise.resolve().then(action)
    .then(() => { $("result").textContent = "Done: " + text.replace(/\?$/, ""); })
    .catch(e => { $("result").textContent = "Failed: " + e.message; });
}

$("confirm-yes").onclick = () => answer(true);
$("confirm-no").onclick = () => answer(false);
$("arm").onclick = () => ask("Arm the machine?", () => api("POST", "/arm", {}));
$("disarm").onclick = () => ask("Disarm the machine?", () => api("POST", "/disarm", {}));
$("send").onclick = () => {
  const cmd = $("cmd").value.trim();
  if (cmd) ask(`Send "${cmd}" to the base unit?`, () => api("POST", "/sendcmd", { cmd }));
};
$("token-save").onclick = () => {
  sessionStorage.setItem("norvikToken", $("token").value);
  $("token").value = "";
  $("token-state").textContent = token() ? "token kept for this session" : "no token";
};
$("token-state").textContent = token() ? "token kept for this session" : "";
$("search").oninput = () => { for (const tr of $("tags").rows) filterRow(tr); };

setLive(false);
loadLabels();
connect();
// The history changes seldom and a new entry is announced on the feed: read it every third poll.
let polls = 0;
const poll = () => Promise.all([pollTags(), polls++ % 3 ? null : pollAlarms()]).catch(() => {})
  .then(() => setTimeout(poll, POLL_MS));
poll();
